// one_shot.cpp - a run for scripts: after the start-up, each access of the command line in order,
// read values alone on standard output; the boards that open; a result code's fields and text.
#include "one_shot.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "board_table.h"
#include "batch.h"
#include "command_line.h"
#include "json_records.h"
#include "memtest_job.h"
#include "command_table.h"
#include "error_report.h"
#include "options.h"
#include "printable.h"
#include "register_access.h"
#include "register_map.h"
#include "startup.h"
#include "screen.h"

namespace {

// The boards of one type --list tries, from number 0 until one does not open.
const uint32_t kListedBoardsMax = 16;
// A text attribute longer than this is not shown.
const uint32_t kAttributeTextMax = 256;
// A line of the run's result: on standard output, and in the log when one is named.
template <typename... Args> void ShowAndLog(const char *pszFormat, Args... args)
{
    LogPrintF(pszFormat, args...);
    ShowResultLine(pszFormat, args...);
}

void DecodeResult(uint32_t nCode)
{
    KYN_RESULT nResult = (KYN_RESULT)nCode;
    if (nResult >= 0 && g_toolOptions.bJson) {
        ShowAndLog("%s\n", DecodeJson(nCode, "", false, "").c_str());
        return;
    }
    if (nResult >= 0) {
        ShowAndLog("0x%.8X is no failure: results of 0 and above are successes\n", (unsigned)nCode);
        return;
    }
    char szReported[48];
    snprintf(szReported, sizeof szReported, "%#lX [%d.%d]", (unsigned long)ReportedCode(nResult), (int)UpperField(nResult),
             (int)MiddleField(nResult));
    if (g_toolOptions.bJson)
        ShowAndLog("%s\n", DecodeJson(nCode, szReported, true, LibraryText(nResult)).c_str());
    else
        ShowAndLog("%s: %s\n", szReported, LibraryText(nResult).c_str());
}

// The board's serial number, or why there is none.
std::string SerialNumber(KYN_HANDLE hBoard)
{
    uint32_t nKind = 0, nSize = 0, nFlags = 0;
    KYN_RESULT nResult = KynDrvGetAttributeType(hBoard, KYN_ATTR_SERIAL_NUMBER, &nKind, &nSize, &nFlags);
    if (nResult >= 0) {
        std::string strText(nSize > 0 ? nSize : 1, '\0');
        nResult = KynDrvGetAttributeValueSz(hBoard, KYN_ATTR_SERIAL_NUMBER, &strText[0], nSize);
        if (nResult >= 0)
            return "serial " + std::string(strText.c_str());
    }
    return "no serial number: " + LibraryText(nResult);
}

// The serial number as a record's field: "serial", or "error" with why there is none.
std::pair<std::string, std::string> SerialField(KYN_HANDLE hBoard)
{
    std::string strSerial = SerialNumber(hBoard);
    if (strSerial.compare(0, 7, "serial ") == 0)
        return {"serial", strSerial.substr(7)};
    return {"error", strSerial};
}

// Every type of the board table, numbers from 0 until the first that does not open. The library's
// release at the run's end closes what was opened.
void ListBoards()
{
    int nListed = 0;
    for (int i = 0; i < g_nBoardTypeCount; ++i) {
        const BoardType &type = g_aBoardTypeTable[i];
        std::string strName = type.pszOpening + strlen("Opening ");
        strName.resize(strName.size() - 1);
        for (uint32_t nNumber = 0; nNumber < kListedBoardsMax; ++nNumber) {
            KYN_HANDLE hBoard = 0;
            if (KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, (uint32_t)type.nCode, nNumber, &hBoard) < 0)
                break;
            if (g_toolOptions.bJson)
                ShowAndLog("%s\n", ListedJson({{"letter", std::string(1, type.cLetter)},
                                                {"type", std::to_string(type.nCode)},
                                                {"name", strName},
                                                {"number", std::to_string(nNumber)},
                                                SerialField(hBoard)})
                                         .c_str());
            else
                ShowAndLog("%c %2d  %-34s %2u  %s\n", type.cLetter, (int)type.nCode, strName.c_str(), (unsigned)nNumber,
                           SerialNumber(hBoard).c_str());
            ++nListed;
        }
    }
    if (nListed == 0)
        LogPrintFailureF("No board of any type opens\n");
}

// The program's own list (the PCI program's: every PCI function of the machine).
void ListProgramsOwn(const ProgramExtras &extras)
{
    std::vector<std::string> aLines;
    std::vector<std::vector<std::pair<std::string, std::string>>> aListed;
    std::string strError;
    if (!extras.pfnList(g_toolOptions.nBoardType, g_toolOptions.nBoardNumber, aLines, aListed, strError)) {
        LogPrintFailureF("Error: %s\n", Printable(strError).c_str());
        EndRun(1, kReleaseThenConsole);
    }
    if (g_toolOptions.bJson) {
        for (const auto &listed : aListed)
            ShowAndLog("%s\n", ListedJson(listed).c_str());
        return;
    }
    for (const std::string &strLine : aLines)
        ShowAndLog("%s\n", strLine.c_str());
}

// A script's mistake, before the library is touched: status 2.
[[noreturn]] void Refuse(const std::string &strWhy)
{
    fprintf(stderr, "Error: %s\n", Printable(strWhy).c_str());
    fflush(stderr);
    EndRun(2, kKeepLibrary);
}

// An attribute of a device where the library has it, else the default.
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

// A register of the map read at its width: 8, 16 or 32 bits, or a 64-bit one as two 32-bit words,
// the low one first. A bridge's narrower register is taken from its 32-bit word, the width a
// bridge answers.
uint64_t ReadMapRegister(KYN_HANDLE hBoard, const MapRegister &reg, bool bBridge = false, KYN_RESULT *pnFailed = nullptr)
{
    bool bFromWord = bBridge && reg.nBits < 32;
    RegisterAccess access;
    access.bBridge = bBridge;
    access.nWidth = reg.nBits <= 8 && !bFromWord ? 8 : reg.nBits <= 16 && !bFromWord ? 16 : 32;
    access.nAddress = bFromWord ? reg.nAddress & ~3u : reg.nAddress;
    if (!CheckOrKeepResult(hBoard, RunRegisterAccess(hBoard, access), pnFailed))
        return 0;
    if (bFromWord)
        return (access.nValue >> ((reg.nAddress & 3) * 8)) & ((1u << reg.nBits) - 1);
    uint64_t nValue = access.nValue;
    if (reg.nBits > 32) {
        access.nAddress += 4;
        if (!CheckOrKeepResult(hBoard, RunRegisterAccess(hBoard, access), pnFailed))
            return 0;
        nValue |= access.nValue << 32;
    }
    return nValue;
}

std::string Hex(uint32_t nValue)
{
    char szHex[16];
    snprintf(szHex, sizeof szHex, "%X", (unsigned)nValue);
    return szHex;
}

std::string Hex8(uint32_t nValue)
{
    char szHex[16];
    snprintf(szHex, sizeof szHex, "%.8X", (unsigned)nValue);
    return szHex;
}

bool SameLetters(const std::string &strA, const std::string &strB)
{
    if (strA.size() != strB.size())
        return false;
    for (size_t i = 0; i < strA.size(); ++i)
        if (toupper((unsigned char)strA[i]) != toupper((unsigned char)strB[i]))
            return false;
    return true;
}

// NAME.FIELD=VALUE: the field's bits alone are written, the value checked against its width.
void TakeField(OneShotAccess &access, const MapRegister &reg)
{
    const MapField *pField = nullptr;
    for (const MapField &field : reg.aFields)
        if (field.strName == access.strField || (pField == nullptr && SameLetters(field.strName, access.strField)))
            pField = &field;
    if (pField == nullptr)
        Refuse("Register " + reg.strName + " has no field " + Printable(access.strField));
    int nWidth = FindCommand(access.cKey)->nWidth;
    if (pField->nLsb + pField->nWidth > (uint32_t)nWidth)
        Refuse("Field " + reg.strName + "." + pField->strName + " lies past the " + std::to_string(nWidth) + " bits this write takes");
    uint32_t nFieldMask = pField->nWidth >= 32 ? 0xFFFFFFFFu : (1u << pField->nWidth) - 1;
    if ((access.nValue & ~nFieldMask) != 0)
        Refuse("Value 0x" + Hex(access.nValue) + " is wider than field " + reg.strName + "." + pField->strName + "'s " +
               std::to_string(pField->nWidth) + " bits");
    access.bMasked = true;
    access.nMask = nFieldMask << pField->nLsb;
    access.nValue <<= pField->nLsb;
}

// The bits a masked write leaves are written back as read, but for fields whose write acts: a
// write-one-to-clear field written as the 1 it reads would be cleared. Those are written as the
// value that does nothing. A write-only register is not read: its reset value stands for it.
void KeepOtherBits(OneShotAccess &access)
{
    const Command *pCommand = FindCommand(access.cKey);
    const RegisterMap *pMap = RunMap(pCommand->eDevice == kBridge);
    const MapRegister *pRegister = pMap != nullptr ? FindMapRegister(*pMap, access.nAddress) : nullptr;
    if (!access.strName.empty() && pMap != nullptr)
        pRegister = FindMapRegisterByName(*pMap, access.strField.empty() ? access.strName
                                                                          : access.strName.substr(0, access.strName.rfind('.')));
    if (pRegister == nullptr)
        return;
    for (const MapField &field : pRegister->aFields) {
        uint32_t nBits = field.nLsb >= 32 ? 0 : (field.nWidth >= 32 ? 0xFFFFFFFFu : (1u << field.nWidth) - 1) << field.nLsb;
        nBits &= ~access.nMask;
        const std::string &strWrite = field.strModifiedWrite;
        if (strWrite == "oneToClear" || strWrite == "oneToSet" || strWrite == "oneToToggle")
            access.nForceZero |= nBits;
        else if (strWrite == "zeroToClear" || strWrite == "zeroToSet" || strWrite == "zeroToToggle")
            access.nForceOne |= nBits;
    }
    if (pRegister->eAccess == kMapWriteOnly) {
        access.bNoRead = true;
        access.nUnread = pRegister->bReset ? (uint32_t)pRegister->nReset : 0;
    }
}

// Accesses that name their register: the name's address in the device's map.
void ResolveNames()
{
    for (OneShotAccess &access : g_toolOptions.aAccesses) {
        if (access.strName.empty())
            continue;
        const RegisterMap *pMap = RunMap(FindCommand(access.cKey)->eDevice == kBridge);
        bool bBridge = FindCommand(access.cKey)->eDevice == kBridge;
        if (pMap == nullptr && bBridge)
            Refuse("'" + access.strName + "' is no number, and the bridge's accesses take names from the bridge's register "
                   "map, which none names (--bridge-map or DUZE_BRIDGE_MAP)");
        if (pMap == nullptr)
            Refuse("'" + access.strName + "' is no number, and the board's accesses take names from the board's register "
                   "map, which none names (--map or DUZE_MAP)");
        std::vector<const MapRegister *> apCandidates;
        const MapRegister *pRegister = FindMapRegisterByName(*pMap, access.strName, &apCandidates);
        // A write to NAME.FIELD: the register's field.
        size_t nDot = access.strName.rfind('.');
        if (pRegister == nullptr && apCandidates.empty() && nDot != std::string::npos &&
            FindCommand(access.cKey)->eAccess == kWriteAccess) {
            pRegister = FindMapRegisterByName(*pMap, access.strName.substr(0, nDot), &apCandidates);
            if (pRegister != nullptr)
                access.strField = access.strName.substr(nDot + 1);
        }
        if (pRegister == nullptr && !apCandidates.empty())
            Refuse(AmbiguousName(access.strName, apCandidates));
        if (pRegister == nullptr)
            Refuse("No register " + access.strName + " in the map " + pMap->strFile);
        if (!pRegister->bOnBoard)
            Refuse("register " + pRegister->strName + " is not on the board: " + MapNotOnBoard(*pMap, *pRegister, 0));
        access.nAddress = pRegister->nAddress;
        access.nMapBits = pRegister->nBits;
        if (access.nValueHigh != 0 && pRegister->nBits <= 32)
            Refuse("Value 0x" + Hex(access.nValueHigh) + Hex8(access.nValue) + " is wider than register " + pRegister->strName +
                   "'s " + std::to_string(pRegister->nBits) + " bits");
        if (!access.strField.empty())
            TakeField(access, *pRegister);
    }
    for (OneShotAccess &access : g_toolOptions.aAccesses)
        if (access.bMasked)
            KeepOtherBits(access);
    if (g_toolOptions.bDump && RunMap(false) == nullptr)
        Refuse("--dump needs the board's register map (--map or DUZE_MAP)");
    if (g_toolOptions.bBridgeDump && RunMap(true) == nullptr)
        Refuse("--bridge-dump needs the bridge's register map (--bridge-map or DUZE_BRIDGE_MAP)");
}

// Every register of the board's map, in address order, one line each: those the board does not
// reach are listed as not on it, and the dump goes on; those whose reads change them, or that
// cannot be read, are listed and not read. A value beside its register's reset value, the fields
// that differ from it marked *.
void DumpMap(const BoardHandles &devices, bool bBridge)
{
    const RegisterMap &map = *RunMap(bBridge);
    KYN_HANDLE hDevice = bBridge ? devices.hBridge : devices.hBoard;
    const char *pszDevice = bBridge ? "Plx" : "Brd";
    if (hDevice == 0) {
        LogPrintFailureF("No Plx device on this board\n");
        EndRun(1, kReleaseThenConsole);
    }
    uint32_t nWindow = NumberAttribute(hDevice, KYN_ATTR_REGISTER_SPACE, 0);
    for (const MapRegister &reg : map.aRegisters) {
        std::string strWhy = MapNotOnBoard(map, reg, nWindow);
        DumpRecord record;
        record.bBridge = bBridge;
        record.strName = reg.strName;
        record.nSvdAddress = reg.nSvdAddress;
        record.bOnBoard = reg.bOnBoard;
        record.nAddress = reg.nAddress;
        record.nBits = reg.nBits;
        record.bReset = reg.bReset;
        record.nReset = reg.nReset;
        if (!strWhy.empty() && g_toolOptions.bJson) {
            record.strSkipped = "not on the board: " + strWhy;
            ShowAndLog("%s\n", DumpJson(record).c_str());
            continue;
        }
        if (!strWhy.empty()) {
            ShowAndLog("SVD address 0x%llX not on the board  %s: %s\n", (unsigned long long)reg.nSvdAddress,
                       reg.strName.c_str(), strWhy.c_str());
            continue;
        }
        // An access is as wide as the register and aligned to it (a 64-bit one to its words).
        uint32_t nAlign = reg.nBits <= 8 ? 1 : reg.nBits <= 16 ? 2 : 4;
        if (bBridge && reg.nBits < 32 && (reg.nAddress & 3) * 8 + reg.nBits > 32)
            nAlign = 4;
        if (reg.eAccess == kMapWriteOnly || !reg.strReadAction.empty() || reg.nAddress % nAlign != 0) {
            std::string strWhy = reg.eAccess == kMapWriteOnly  ? "write-only"
                                 : !reg.strReadAction.empty() ? "a read has an effect (" + reg.strReadAction + ")"
                                                              : "not aligned to its " + std::to_string(reg.nBits) + " bits";
            record.strSkipped = strWhy;
            if (g_toolOptions.bJson)
                ShowAndLog("%s\n", DumpJson(record).c_str());
            else
                ShowAndLog("%s Address 0x%X not read  %s: %s\n", pszDevice, (unsigned)reg.nAddress, reg.strName.c_str(),
                           strWhy.c_str());
            continue;
        }
        KYN_RESULT nFailed = 0;
        uint64_t nValue = ReadMapRegister(hDevice, reg, bBridge, g_toolOptions.bJson ? &nFailed : nullptr);
        if (nFailed < 0) {
            // --json: the failed read is a record before the error line ends the run.
            record.nResult = nFailed;
            record.strError = LibraryText(nFailed);
            ShowAndLog("%s\n", DumpJson(record).c_str());
            CheckResult(hDevice, nFailed);
            EndRun(1, kReleaseThenConsole);
        }
        int nDigits = reg.nBits <= 8 ? 2 : reg.nBits <= 16 ? 4 : reg.nBits <= 32 ? 8 : 16;
        char szReset[48] = "";
        if (reg.bReset)
            snprintf(szReset, sizeof szReset, " (reset 0x%.*llX)", nDigits, (unsigned long long)reg.nReset);
        std::string strFields = DescribeRegister(reg, nValue, false, true);
        if (g_toolOptions.bJson) {
            record.bRead = true;
            record.nValue = nValue;
            record.strFields = strFields.substr(2, strFields.size() - 3);
            ShowAndLog("%s\n", DumpJson(record).c_str());
            continue;
        }
        ShowAndLog("%s Address 0x%X = 0x%.*llX%s%s", pszDevice, (unsigned)reg.nAddress, nDigits, (unsigned long long)nValue,
                   szReset, strFields.c_str());
    }
}

// Bridge registers past the end of its register space, where the library tells its size: a script's
// read there is refused as setpci refuses it, before any access of the run is made. A dump and the
// p command still show the all-ones a bus answers there.
void CheckBridgeAccesses(const BoardHandles &devices)
{
    bool bBridge = false;
    for (const OneShotAccess &access : g_toolOptions.aAccesses)
        bBridge = bBridge || FindCommand(access.cKey)->eDevice == kBridge;
    uint32_t nSize = bBridge ? NumberAttribute(devices.hBridge, KYN_ATTR_REGISTER_SPACE, 0) : 0;
    for (const OneShotAccess &access : g_toolOptions.aAccesses) {
        const Command *pCommand = FindCommand(access.cKey);
        if (nSize == 0 || pCommand->eDevice != kBridge || (uint64_t)access.nAddress + pCommand->nWidth / 8 <= nSize)
            continue;
        LogPrintFailureF("Error: Bridge register 0x%X is past the end of the bridge's %u bytes of registers "
                         "(its configuration space)\n", (unsigned)access.nAddress, (unsigned)nSize);
        EndRun(1, kReleaseThenConsole);
    }
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

// Registers from nStart, nLength bytes, as lspci -xxx shows a configuration space, so that lspci -F
// reads it back: the header line, then 16 bytes a line, each line led by its offset from nStart.
void HexDump(KYN_HANDLE hDevice, const RegisterMap *pMap, const std::string &strHeader, uint32_t nStart, uint32_t nLength)
{
    const std::set<uint32_t> unread = UnreadWords(pMap);
    ShowAndLog("%s\n", strHeader.c_str());
    std::string strLine;
    for (uint64_t nOffset = 0; nOffset < nLength; nOffset += 4) {
        uint32_t nAddress = (uint32_t)(nStart + nOffset);
        char szBytes[32];
        if (unread.count(nAddress) != 0) {
            snprintf(szBytes, sizeof szBytes, " -- -- -- --");
        } else {
            RegisterAccess access;
            access.nAddress = nAddress;
            CheckResult(hDevice, RunRegisterAccess(hDevice, access));
            uint32_t nValue = (uint32_t)access.nValue;
            snprintf(szBytes, sizeof szBytes, " %02x %02x %02x %02x", (unsigned)(nValue & 0xFF), (unsigned)((nValue >> 8) & 0xFF),
                     (unsigned)((nValue >> 16) & 0xFF), (unsigned)(nValue >> 24));
        }
        if (nOffset % 16 == 0) {
            char szOffset[16];
            snprintf(szOffset, sizeof szOffset, "%02llx:", (unsigned long long)nOffset);
            strLine = szOffset;
        }
        strLine += szBytes;
        if (nOffset % 16 == 12 || nOffset + 4 >= nLength) {
            ShowAndLog("%s\n", strLine.c_str());
            strLine.clear();
        }
    }
    ShowAndLog("%s", "\n");
}

// The bridge's whole register space (256 bytes where the library does not say), led by a line in
// lspci -n's form: slot, class, IDs and revision from its first bytes.
void BridgeHexDump(const BoardHandles &devices)
{
    if (devices.hBridge == 0) {
        LogPrintFailureF("Error: --bridge-hexdump: the board has no PCI bridge\n");
        EndRun(1, kReleaseThenConsole);
    }
    uint32_t nSize = NumberAttribute(devices.hBridge, KYN_ATTR_REGISTER_SPACE, 256);
    nSize = nSize < 64 || nSize > 4096 ? 256 : nSize & ~3u;
    std::string strSlot = TextAttribute(devices.hBridge, KYN_ATTR_LOCATION, "0000:00:00.0");
    const std::set<uint32_t> unread = UnreadWords(RunMap(true));
    uint32_t anWords[3] = {0, 0, 0};
    for (uint32_t i = 0; i < 3; ++i) {
        RegisterAccess access;
        access.bBridge = true;
        access.nAddress = i * 4;
        if (unread.count(access.nAddress) == 0) {
            CheckResult(devices.hBridge, RunRegisterAccess(devices.hBridge, access));
            anWords[i] = (uint32_t)access.nValue;
        }
    }
    char szHeader[96];
    snprintf(szHeader, sizeof szHeader, "%s %04x: %04x:%04x", strSlot.c_str(), (unsigned)(anWords[2] >> 16),
             (unsigned)(anWords[0] & 0xFFFF), (unsigned)(anWords[0] >> 16));
    std::string strHeader = szHeader;
    if ((anWords[2] & 0xFF) != 0) {
        snprintf(szHeader, sizeof szHeader, " (rev %02x)", (unsigned)(anWords[2] & 0xFF));
        strHeader += szHeader;
    }
    HexDump(devices.hBridge, RunMap(true), strHeader, 0, nSize);
}

// The read of the same width and device as a write's key.
char ReadKeyOf(char cWriteKey)
{
    return cWriteKey == 'W' ? 'R' : cWriteKey == 'o' ? 'i' : cWriteKey == 'w' ? 'r' : 'p';
}

// The registers of the map an access concerns: the one it named, or each one at its address.
std::vector<const MapRegister *> AccessRegisters(const OneShotAccess &access)
{
    const RegisterMap *pMap = RunMap(FindCommand(access.cKey)->eDevice == kBridge);
    if (pMap == nullptr)
        return {};
    if (!access.strName.empty()) {
        std::string strRegister = access.strField.empty() ? access.strName : access.strName.substr(0, access.strName.rfind('.'));
        const MapRegister *pRegister = FindMapRegisterByName(*pMap, strRegister);
        return pRegister != nullptr ? std::vector<const MapRegister *>{pRegister} : std::vector<const MapRegister *>{};
    }
    return MapRegistersAt(*pMap, access.nAddress);
}

// A script's write that the map warns of, on standard error where a script sees it.
void WarnOfWrite(const OneShotAccess &access, uint32_t nWritten)
{
    for (const MapRegister *pRegister : AccessRegisters(access)) {
        if (pRegister->eAccess == kMapReadOnly)
            fprintf(stderr, "Warning: %s is a read-only register\n", pRegister->strName.c_str());
        else if (pRegister->nBits < 32 && (nWritten >> pRegister->nBits) != 0)
            fprintf(stderr, "Warning: 0x%X is wider than %s's %u bits\n", (unsigned)nWritten, pRegister->strName.c_str(),
                    (unsigned)pRegister->nBits);
    }
    fflush(stderr);
}

// --json: an access as its record, with its register's name and fields where a map has them.
void ShowAccessJson(const OneShotAccess &access, const Command &command, uint64_t nValue)
{
    AccessRecord record;
    AccessOf(command, access.nAddress, 0, record);
    record.nWidth = access.nMapBits > 32 && command.nWidth == 32 ? 64 : command.nWidth;
    record.nValue = nValue;
    std::vector<const MapRegister *> apRegisters = AccessRegisters(access);
    if (!apRegisters.empty())
        NameAccess(record, *apRegisters[0]);
    ShowResultLine("%s\n", AccessJson(record).c_str());
}

// --json: a failed access as its record (its code and the library's text) before the run ends.
void ShowFailedAccessJson(const OneShotAccess &access, const Command &command, uint32_t nAddress, uint32_t nValue,
                          KYN_RESULT nResult, const std::string &strError)
{
    AccessRecord record;
    AccessOf(command, nAddress, nValue, record);
    record.nResult = nResult;
    record.strError = strError;
    std::vector<const MapRegister *> apRegisters = AccessRegisters(access);
    if (!apRegisters.empty())
        record.strName = apRegisters[0]->strName;
    ShowResultLine("%s\n", AccessJson(record).c_str());
}

// One access of the run: its value read. A failure ends the run with status 1, and with --json
// shows its record first; the error line is the same either way.
uint32_t OneAccess(const OneShotAccess &access, const Command &command, uint32_t nAddress, uint32_t nValue,
                   const BoardHandles &devices)
{
    uint32_t nRead = 0;
    KYN_RESULT nFailed = 0;
    if (!RunAccess(command, nAddress, nValue, devices, &nRead, g_toolOptions.bJson ? &nFailed : nullptr)) {
        if (g_toolOptions.bJson)
            ShowFailedAccessJson(access, command, nAddress, nValue, -1, "No Plx device on this board");
        EndRun(1, kReleaseThenConsole);
    }
    if (nFailed < 0) {
        ShowFailedAccessJson(access, command, nAddress, nValue, nFailed, LibraryText(nFailed));
        CheckResult(command.eDevice == kBridge ? devices.hBridge : devices.hBoard, nFailed);
        EndRun(1, kReleaseThenConsole);
    }
    return nRead;
}

// --fields: the register's line of the map after the value, on standard output.
void ShowFields(const OneShotAccess &access, uint64_t nValue, bool bWrite)
{
    for (const MapRegister *pRegister : AccessRegisters(access))
        ShowResultLine("%s", DescribeRegister(*pRegister, nValue, bWrite).c_str());
}

} // namespace

int RunOneShot(const ProgramExtras &extras)
{
    // No question is asked: the first failure ends the run with status 1.
    SetQuietErrors(true);
    if (g_toolOptions.nNames != 0) {
        const RegisterMap *pMap = RunMap(g_toolOptions.nNames == 2);
        if (pMap == nullptr)
            Refuse(g_toolOptions.nNames == 2 ? "--names bridge needs the bridge's register map (--bridge-map or DUZE_BRIDGE_MAP)"
                                              : "--names board needs the board's register map (--map or DUZE_MAP)");
        for (const MapRegister &reg : pMap->aRegisters)
            ShowResultLine("%s\n", Printable(reg.strName).c_str());
    }
    ResolveNames();
    if (g_toolOptions.bDecode)
        DecodeResult(g_toolOptions.nDecode);
    if (g_toolOptions.bList || OpensBoard(g_toolOptions))
        OpenLogAndShowIdentity();
    if (g_toolOptions.bList && extras.pfnList != nullptr)
        ListProgramsOwn(extras);
    else if (g_toolOptions.bList)
        ListBoards();
    if (OpensBoard(g_toolOptions)) {
        const BoardHandles devices = OpenAndIdentifyBoard();
        CheckBridgeAccesses(devices);
        for (const OneShotAccess &access : g_toolOptions.aAccesses) {
            const Command *pCommand = FindCommand(access.cKey);
            uint32_t nHigh = 0;
            uint32_t nWritten = access.nValue;
            if (access.bMasked) {
                // Read, the bits of the mask replaced, written back (setpci's VALUE:MASK).
                uint32_t nOld = access.bNoRead ? access.nUnread
                                               : OneAccess(access, *FindCommand(ReadKeyOf(access.cKey)), access.nAddress, 0, devices);
                nWritten = (nOld & ~access.nMask) | (access.nValue & access.nMask);
                nWritten = (nWritten & ~access.nForceZero) | access.nForceOne;
            }
            uint32_t nRead = OneAccess(access, *pCommand, access.nAddress, nWritten, devices);
            // A 64-bit register of the map, written by its name: the high word after the low.
            if (pCommand->eAccess == kWriteAccess && pCommand->nWidth == 32 && access.nMapBits > 32)
                OneAccess(access, *pCommand, access.nAddress + 4, access.nValueHigh, devices);
            if (pCommand->eAccess == kWriteAccess)
                WarnOfWrite(access, nWritten);
            // A 64-bit register of the map, read by its name: its high word follows, and both show.
            bool bWide = pCommand->eAccess == kReadAccess && pCommand->nWidth == 32 && access.nMapBits > 32;
            if (bWide)
                nHigh = OneAccess(access, *pCommand, access.nAddress + 4, 0, devices);
            if (g_toolOptions.bJson)
                ShowAccessJson(access, *pCommand, bWide ? ((uint64_t)nHigh << 32 | nRead)
                                                        : pCommand->eAccess == kReadAccess ? nRead : nWritten);
            else if (bWide)
                ShowResultLine("0x%.8X%.8X\n", (unsigned)nHigh, (unsigned)nRead);
            else if (pCommand->eAccess == kReadAccess)
                ShowResultLine("0x%.*X\n", pCommand->nWidth / 4, (unsigned)nRead);
            if (g_toolOptions.bFields && !g_toolOptions.bJson)
                ShowFields(access, pCommand->eAccess == kReadAccess ? ((uint64_t)nHigh << 32 | nRead) : nWritten,
                           pCommand->eAccess == kWriteAccess);
        }
        if (g_toolOptions.bDump)
            DumpMap(devices, false);
        if (g_toolOptions.bBridgeDump)
            DumpMap(devices, true);
        if (g_toolOptions.bBridgeHexdump)
            BridgeHexDump(devices);
        if (g_toolOptions.bMemtest) {
            int nMemtest = RunMemtestJob(devices);
            if (nMemtest != 0)
                return FinishRun(nMemtest, kReleaseThenConsole);
        }
        if (g_toolOptions.pszBatchFile != nullptr) {
            int nBatch = RunBatch(devices);
            if (nBatch != 0)
                return FinishRun(nBatch, kReleaseThenConsole);
        }
        if (g_toolOptions.bHexdump) {
            std::string strHeader = TextAttribute(devices.hBridge != 0 ? devices.hBridge : devices.hBoard, KYN_ATTR_LOCATION,
                                                  "0000:00:00.0");
            char szRange[64];
            snprintf(szRange, sizeof szRange, " board registers 0x%X to 0x%X", (unsigned)g_toolOptions.nHexStart,
                     (unsigned)(g_toolOptions.nHexStart + g_toolOptions.nHexLength - 1));
            HexDump(devices.hBoard, RunMap(false), strHeader + szRange, g_toolOptions.nHexStart, g_toolOptions.nHexLength);
        }
    }
    return FinishRun(0, kReleaseThenConsole);
}
