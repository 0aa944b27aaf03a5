// dumps.cpp - a map's registers read one by one (--dump, --bridge-dump) and registers shown as
// lspci -xxx shows a configuration space (--hexdump, --bridge-hexdump), each through the report.
#include <stdio.h>

#include <set>
#include <string>
#include <vector>

#include "command_table.h"
#include "duze_limits.h"
#include "error_report.h"
#include "operations.h"
#include "printable.h"
#include "register_access.h"
#include "register_map.h"
#include "report.h"
#include "run_operation.h"

namespace {

OperationOutcome Failed(KYN_HANDLE hDevice, KYN_RESULT nResult)
{
    OperationOutcome outcome;
    outcome.nStatus = 1;
    outcome.hDevice = hDevice;
    outcome.nResult = nResult;
    return outcome;
}

OperationOutcome Refused(const Operation &op, const std::string &strWhy, bool bErrorWord)
{
    ReportRefusal(op.nLine, strWhy);
    OperationOutcome outcome;
    outcome.nStatus = 1;
    outcome.strError = strWhy;
    outcome.bErrorWord = bErrorWord;
    return outcome;
}

// A register of the map read at its width: 8, 16 or 32 bits, or a 64-bit one as two 32-bit words,
// the low one first. A bridge's narrower register is taken from its 32-bit word, the width a
// bridge answers. The first failure's result in *pnFailed.
uint64_t ReadMapRegister(KYN_HANDLE hBoard, const MapRegister &reg, bool bBridge, KYN_RESULT *pnFailed)
{
    bool bFromWord = bBridge && reg.nBits < 32;
    RegisterAccess access;
    access.bBridge = bBridge;
    access.nWidth = reg.nBits <= 8 && !bFromWord ? 8 : reg.nBits <= 16 && !bFromWord ? 16 : 32;
    access.nAddress = bFromWord ? reg.nAddress & ~3u : reg.nAddress;
    if ((*pnFailed = RunRegisterAccess(hBoard, access)) < 0)
        return 0;
    if (bFromWord)
        return (access.nValue >> ((reg.nAddress & 3) * 8)) & ((1u << reg.nBits) - 1);
    uint64_t nValue = access.nValue;
    if (reg.nBits > 32) {
        access.nAddress += 4;
        if ((*pnFailed = RunRegisterAccess(hBoard, access)) < 0)
            return 0;
        nValue |= access.nValue << 32;
    }
    *pnFailed = 0;
    return nValue;
}

// Why a register of the map is listed and not read: write-only, its read has an effect, or it is
// not aligned to its width; "" for one that is read.
std::string NotRead(const MapRegister &reg, bool bBridge)
{
    // An access is as wide as the register and aligned to it (a 64-bit one to its words).
    uint32_t nAlign = reg.nBits <= 8 ? 1 : reg.nBits <= 16 ? 2 : 4;
    if (bBridge && reg.nBits < 32 && (reg.nAddress & 3) * 8 + reg.nBits > 32)
        nAlign = 4;
    return reg.eAccess == kMapWriteOnly     ? "write-only"
           : !reg.strReadAction.empty()    ? "a read has an effect (" + reg.strReadAction + ")"
           : reg.nAddress % nAlign != 0    ? "not aligned to its " + std::to_string(reg.nBits) + " bits"
                                           : "";
}

// The 32-bit words of a map's registers whose reads change them, or that cannot be read: a dump shows
// them as -- and never reads them.
std::set<uint32_t> UnreadWords(const RegisterMap *pMap)
{
    std::set<uint32_t> words;
    for (size_t i = 0; pMap != nullptr && i < pMap->aRegisters.size(); ++i) {
        const MapRegister &reg = pMap->aRegisters[i];
        if (!reg.bOnBoard || (reg.eAccess != kMapWriteOnly && reg.strReadAction.empty()))
            continue;
        uint64_t nEnd = (uint64_t)reg.nAddress + (reg.nBits + 7) / 8;
        for (uint64_t nWord = reg.nAddress & ~3u; nWord < nEnd; nWord += 4)
            words.insert((uint32_t)nWord);
    }
    return words;
}

// A failed read of a hex dump: its record, as any failed access.
OperationOutcome HexReadFailed(const Operation &op, KYN_HANDLE hDevice, const RegisterAccess &access)
{
    ReportHexEnd(false);
    AccessRecord record;
    static_cast<RegisterAccess &>(record) = access;
    record.nLine = op.nLine;
    record.strError = LibraryText(access.nResult);
    ReportAccess(record, {}, false);
    return Failed(hDevice, access.nResult);
}

// Registers from nStart, nLength bytes, 16 a line, as lspci -xxx shows a configuration space, so
// that lspci -F reads it back; each line led by its offset from nStart.
OperationOutcome HexLines(const Operation &op, KYN_HANDLE hDevice, bool bBridge, const std::string &strHeader, uint32_t nStart,
                          uint32_t nLength)
{
    const std::set<uint32_t> unread = UnreadWords(RunMap(bBridge));
    ReportHexBegin(op.nLine, bBridge, strHeader, nStart);
    std::vector<int> anBytes;
    for (uint64_t nOffset = 0; nOffset < nLength; nOffset += 4) {
        uint32_t nAddress = (uint32_t)(nStart + nOffset);
        RegisterAccess access;
        access.bBridge = bBridge;
        access.nAddress = nAddress;
        bool bRead = unread.count(nAddress) == 0;
        if (bRead && RunRegisterAccess(hDevice, access) < 0)
            return HexReadFailed(op, hDevice, access);
        for (int i = 0; i < 4; ++i)
            anBytes.push_back(bRead ? (int)((access.nValue >> (8 * i)) & 0xFF) : -1);
        if (nOffset % 16 == 12 || nOffset + 4 >= nLength) {
            ReportHexLine((uint32_t)(nOffset - nOffset % 16), anBytes);
            anBytes.clear();
        }
    }
    ReportHexEnd(true);
    return OperationOutcome();
}

} // namespace

uint32_t NumberAttribute(KYN_HANDLE hDevice, uint32_t nId, uint32_t nDefault)
{
    uint32_t nKind = 0, nSize = 0, nFlags = 0, nValue = 0;
    if (hDevice == 0 || KynDrvGetAttributeType(hDevice, nId, &nKind, &nSize, &nFlags) < 0 ||
        nKind != KYN_ATTR_KIND_UINT32 || KynDrvGetAttributeValueUint32(hDevice, nId, &nValue) < 0)
        return nDefault;
    return nValue;
}

std::string TextAttribute(KYN_HANDLE hDevice, uint32_t nId, const std::string &strDefault)
{
    uint32_t nKind = 0, nSize = 0, nFlags = 0;
    if (hDevice == 0 || KynDrvGetAttributeType(hDevice, nId, &nKind, &nSize, &nFlags) < 0 || nKind != KYN_ATTR_KIND_SZ ||
        nSize == 0 || nSize > kAttributeTextMax)
        return strDefault;
    std::string strText(nSize, '\0');
    if (KynDrvGetAttributeValueSz(hDevice, nId, &strText[0], nSize) < 0)
        return strDefault;
    return Printable(strText.c_str());
}

// Every register of the map, in address order, one record each: those the board does not reach are
// listed as not on it, and the dump goes on; those whose reads change them, or that cannot be read,
// are listed and not read. A value beside its register's reset value, the fields that differ from
// it marked *.
OperationOutcome DumpMap(const Operation &op, const BoardHandles &devices)
{
    bool bBridge = op.eKind == kOpBridgeDump;
    const RegisterMap &map = *RunMap(bBridge);
    KYN_HANDLE hDevice = bBridge ? devices.hBridge : devices.hBoard;
    if (hDevice == 0)
        return Refused(op, "No Plx device on this board", false);
    uint32_t nWindow = NumberAttribute(hDevice, KYN_ATTR_REGISTER_SPACE, 0);
    for (const MapRegister &reg : map.aRegisters) {
        std::string strWhy = MapNotOnBoard(map, reg, nWindow);
        DumpRecord record;
        record.nLine = op.nLine;
        record.bBridge = bBridge;
        record.strName = reg.strName;
        record.nSvdAddress = reg.nSvdAddress;
        record.bOnBoard = reg.bOnBoard;
        record.nAddress = reg.nAddress;
        record.nBits = reg.nBits;
        record.bReset = reg.bReset;
        record.nReset = reg.nReset;
        record.strSkipped = strWhy.empty() ? NotRead(reg, bBridge) : "not on the board: " + strWhy;
        if (!record.strSkipped.empty()) {
            ReportDump(record);
            continue;
        }
        KYN_RESULT nFailed = 0;
        record.nValue = ReadMapRegister(hDevice, reg, bBridge, &nFailed);
        if (nFailed < 0) {
            record.nResult = nFailed;
            record.strError = LibraryText(nFailed);
            ReportDump(record);
            return Failed(hDevice, nFailed);
        }
        record.bRead = true;
        record.pRegister = &reg;
        record.strFields = DescribeRegister(reg, record.nValue, false, true);
        ReportDump(record);
    }
    return OperationOutcome();
}

OperationOutcome HexDump(const Operation &op, const BoardHandles &devices)
{
    std::string strHeader = TextAttribute(devices.hBridge != 0 ? devices.hBridge : devices.hBoard, KYN_ATTR_LOCATION,
                                          "0000:00:00.0");
    char szRange[64];
    snprintf(szRange, sizeof szRange, " board registers 0x%X to 0x%X", (unsigned)op.nStart,
             (unsigned)(op.nStart + op.nLength - 1));
    return HexLines(op, devices.hBoard, false, strHeader + szRange, op.nStart, op.nLength);
}

// The bridge's whole register space (256 bytes where the library does not say), led by a line in
// lspci -n's form: slot, class, IDs and revision from its first bytes.
OperationOutcome BridgeHexDump(const Operation &op, const BoardHandles &devices)
{
    if (devices.hBridge == 0)
        return Refused(op, OperationName(op) + ": the board has no PCI bridge", true);
    uint32_t nSize = NumberAttribute(devices.hBridge, KYN_ATTR_REGISTER_SPACE, 256);
    nSize = nSize < 64 || nSize > 4096 ? 256 : nSize & ~3u;
    std::string strSlot = TextAttribute(devices.hBridge, KYN_ATTR_LOCATION, "0000:00:00.0");
    const std::set<uint32_t> unread = UnreadWords(RunMap(true));
    uint32_t anWords[3] = {0, 0, 0};
    for (uint32_t i = 0; i < 3; ++i) {
        RegisterAccess access;
        access.bBridge = true;
        access.nAddress = i * 4;
        if (unread.count(access.nAddress) != 0)
            continue;
        if (RunRegisterAccess(devices.hBridge, access) < 0) {
            AccessRecord record;
            static_cast<RegisterAccess &>(record) = access;
            record.nLine = op.nLine;
            record.strError = LibraryText(access.nResult);
            ReportAccess(record, {}, false);
            return Failed(devices.hBridge, access.nResult);
        }
        anWords[i] = (uint32_t)access.nValue;
    }
    char szHeader[96];
    snprintf(szHeader, sizeof szHeader, "%s %04x: %04x:%04x", strSlot.c_str(), (unsigned)(anWords[2] >> 16),
             (unsigned)(anWords[0] & 0xFFFF), (unsigned)(anWords[0] >> 16));
    std::string strHeader = szHeader;
    if ((anWords[2] & 0xFF) != 0) {
        snprintf(szHeader, sizeof szHeader, " (rev %02x)", (unsigned)(anWords[2] & 0xFF));
        strHeader += szHeader;
    }
    return HexLines(op, devices.hBridge, true, strHeader, 0, nSize);
}
