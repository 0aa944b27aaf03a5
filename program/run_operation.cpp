// run_operation.cpp - the one runner of a script's operations, options and batch lines alike: each
// register access through the access layer, each record through the report; what it came to
// returned to the caller, which decides whether the run goes on.
#include "run_operation.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "board_table.h"
#include "command_line.h"
#include "command_table.h"
#include "duze_limits.h"
#include "error_report.h"
#include "memtest_job.h"
#include "operations.h"
#include "printable.h"
#include "register_access.h"
#include "register_map.h"
#include "report.h"
#include "screen.h"

namespace {

const char *const kNoBridge = "No Plx device on this board";

// The read of the same width and device as a write's key.
char ReadKeyOf(char cWriteKey)
{
    return cWriteKey == 'W' ? 'R' : cWriteKey == 'o' ? 'i' : cWriteKey == 'w' ? 'r' : 'p';
}

// One access of an operation; an option's is logged as its key's command logs it.
bool Step(const Operation &op, const Command &command, KYN_HANDLE hDevice, RegisterAccess &access)
{
    if (op.nLine == 0)
        LogPrintF("%s", command.pszTitle);
    if (RunRegisterAccess(hDevice, access) < 0)
        return false;
    if (op.nLine == 0)
        ShowRegisterLine(command, access.nAddress, (uint32_t)access.nValue);
    return true;
}

// A script's write that the map warns of, on standard error where a script sees it.
void WarnOfWrite(const std::vector<const MapRegister *> &apRegisters, uint32_t nWritten)
{
    for (const MapRegister *pRegister : apRegisters) {
        if (pRegister->eAccess == kMapReadOnly)
            fprintf(stderr, "Warning: %s is a read-only register\n", pRegister->strName.c_str());
        else if (pRegister->nBits < 32 && (nWritten >> pRegister->nBits) != 0)
            fprintf(stderr, "Warning: 0x%X is wider than %s's %u bits\n", (unsigned)nWritten, pRegister->strName.c_str(),
                    (unsigned)pRegister->nBits);
    }
    fflush(stderr);
}

// An access that failed: its record, and the outcome that names its device and result.
OperationOutcome AccessFailed(const Operation &op, const RegisterAccess &access, KYN_HANDLE hDevice,
                              const std::vector<const MapRegister *> &apRegisters)
{
    AccessRecord record;
    static_cast<RegisterAccess &>(record) = access;
    record.nLine = op.nLine;
    record.strError = hDevice != 0 ? LibraryText(access.nResult) : kNoBridge;
    ReportAccess(record, apRegisters, false);
    OperationOutcome outcome;
    outcome.nStatus = 1;
    outcome.hDevice = hDevice;
    outcome.nResult = hDevice != 0 ? access.nResult : 0;
    outcome.strError = hDevice != 0 ? "" : kNoBridge;
    return outcome;
}

// A register access: a masked write's read first (the bits outside the mask kept), the access, a
// 64-bit register's high word after its low one; the record shows the whole register.
OperationOutcome RunAccess(const Operation &op, const BoardHandles &devices)
{
    const Command &command = *FindCommand(op.cKey);
    bool bWrite = command.eAccess == kWriteAccess;
    KYN_HANDLE hDevice = command.eDevice == kBridge ? devices.hBridge : devices.hBoard;
    std::vector<const MapRegister *> apRegisters = AccessRegisters(op);
    AccessRecord record;
    AccessOf(command, op.nAddress, op.nValue, record);
    record.nLine = op.nLine;
    if (hDevice == 0) {
        record.nResult = -1;
        return AccessFailed(op, record, hDevice, apRegisters);
    }
    uint32_t nWritten = op.nValue;
    if (op.bMasked) {
        // Read, the bits of the mask replaced, written back (setpci's VALUE:MASK).
        const Command &read = *FindCommand(ReadKeyOf(op.cKey));
        RegisterAccess old;
        AccessOf(read, op.nAddress, 0, old);
        if (!op.bNoRead && !Step(op, read, hDevice, old))
            return AccessFailed(op, old, hDevice, apRegisters);
        uint32_t nOld = op.bNoRead ? op.nUnread : (uint32_t)old.nValue;
        nWritten = (((nOld & ~op.nMask) | (op.nValue & op.nMask)) & ~op.nForceZero) | op.nForceOne;
        record.nValue = nWritten;
    }
    if (!Step(op, command, hDevice, record))
        return AccessFailed(op, record, hDevice, apRegisters);
    // A 64-bit register of the map, named: its high word after the low, both shown as one value.
    if (command.nWidth == 32 && op.nMapBits > 32) {
        RegisterAccess high;
        AccessOf(command, op.nAddress + 4, op.nValueHigh, high);
        if (!Step(op, command, hDevice, high))
            return AccessFailed(op, high, hDevice, apRegisters);
        record.nWidth = 64;
        record.nValue = bWrite ? (uint64_t)op.nValueHigh << 32 | nWritten : high.nValue << 32 | record.nValue;
    }
    if (bWrite)
        WarnOfWrite(apRegisters, nWritten);
    ReportAccess(record, apRegisters, g_toolOptions.bFields);
    return OperationOutcome();
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

// Every type of the board table, numbers from 0 until the first that does not open; or the
// program's own list (the PCI program's: every PCI function of the machine). The library's release
// at the run's end closes what was opened.
OperationOutcome ListBoards(const Operation &op, const ProgramExtras &extras)
{
    OperationOutcome outcome;
    std::vector<std::string> aLines;
    std::vector<std::vector<std::pair<std::string, std::string>>> aListed;
    if (extras.pfnList != nullptr) {
        if (!extras.pfnList(g_toolOptions.nBoardType, g_toolOptions.nBoardNumber, aLines, aListed, outcome.strError)) {
            outcome.nStatus = 1;
            outcome.strError = Printable(outcome.strError);
            outcome.bErrorWord = true;
            ReportRefusal(op.nLine, outcome.strError);
            return outcome;
        }
        ReportList(op.nLine, aLines, aListed);
        return outcome;
    }
    for (int i = 0; i < g_nBoardTypeCount; ++i) {
        const BoardType &type = g_aBoardTypeTable[i];
        std::string strName = type.pszOpening + strlen("Opening ");
        strName.resize(strName.size() - 1);
        for (uint32_t nNumber = 0; nNumber < kListedBoardsMax; ++nNumber) {
            KYN_HANDLE hBoard = 0;
            if (KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, (uint32_t)type.nCode, nNumber, &hBoard) < 0)
                break;
            std::string strSerial = SerialNumber(hBoard);
            bool bSerial = strSerial.compare(0, 7, "serial ") == 0;
            char szLine[128];
            snprintf(szLine, sizeof szLine, "%c %2d  %-34s %2u  ", type.cLetter, (int)type.nCode, strName.c_str(), (unsigned)nNumber);
            aLines.push_back(szLine + strSerial);
            aListed.push_back({{"letter", std::string(1, type.cLetter)}, {"type", std::to_string(type.nCode)}, {"name", strName},
                               {"number", std::to_string(nNumber)}, {bSerial ? "serial" : "error", bSerial ? strSerial.substr(7) : strSerial}});
        }
    }
    ReportList(op.nLine, aLines, aListed);
    if (aLines.empty())
        LogPrintFailureF("No board of any type opens\n");
    return outcome;
}

} // namespace

std::string BridgeRangeProblem(const Operation &op, const BoardHandles &devices)
{
    const Command *pCommand = op.eKind == kOpAccess ? FindCommand(op.cKey) : nullptr;
    if (pCommand == nullptr || pCommand->eDevice != kBridge)
        return "";
    uint32_t nSize = NumberAttribute(devices.hBridge, KYN_ATTR_REGISTER_SPACE, 0);
    if (nSize == 0 || (uint64_t)op.nAddress + pCommand->nWidth / 8 <= nSize)
        return "";
    char szWhy[160];
    snprintf(szWhy, sizeof szWhy, "Bridge register 0x%X is past the end of the bridge's %u bytes of registers (its configuration space)",
             (unsigned)op.nAddress, (unsigned)nSize);
    return szWhy;
}

OperationOutcome RunOperation(const Operation &op, const BoardHandles &devices, const ProgramExtras &extras)
{
    switch (op.eKind) {
    case kOpAccess:
        return RunAccess(op, devices);
    case kOpSleep:
        OsaThreadSleep((int32_t)op.nNumber);
        ReportSleep(op.nLine, op.nNumber);
        break;
    case kOpDump:
    case kOpBridgeDump:
        return DumpMap(op, devices);
    case kOpHexdump:
        return HexDump(op, devices);
    case kOpBridgeHexdump:
        return BridgeHexDump(op, devices);
    case kOpMemtest: {
        AccessRecord failed;
        OperationOutcome outcome;
        outcome.nStatus = RunMemtestJob(devices, op, failed);
        if (outcome.nStatus == 1)
            return AccessFailed(op, failed, devices.hBoard, {});
        return outcome;
    }
    case kOpDecode:
        ReportDecode(op.nLine, op.nNumber);
        break;
    case kOpList:
        return ListBoards(op, extras);
    case kOpNames:
        for (const MapRegister &reg : RunMap(op.nNumber == 2)->aRegisters)
            ReportName(op.nLine, op.nNumber == 2, reg.strName);
        break;
    }
    return OperationOutcome();
}
