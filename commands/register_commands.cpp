// register_commands.cpp - the commands on registers: 8-, 16- and 32-bit reads and writes of the board
// and its PCI bridge, the bridge's dump, the driver debug command, and the sleep.
#include "command_table.h"
#include "screen.h"
#include "error_report.h"
#include "number_entry.h"

namespace {

const char *const kAddressPrompt = "Which Address (0x%X): ";
const char *const kValuePrompt = "Which Value (0x%X): ";

// The handle of the command's device. The bridge commands need a bridge: handle 0 means the
// board has none open.
bool DeviceOf(const Command &command, const BoardHandles &devices, KYN_HANDLE *phDevice)
{
    *phDevice = command.eDevice == kBridge ? devices.hBridge : devices.hBoard;
    if (*phDevice != 0 || command.eDevice != kBridge)
        return true;
    LogPrintFailureF("No Plx device on this board\n");
    return false;
}

// One read of the width; the value zero-extended whatever the width.
KYN_RESULT ReadOfWidth(KYN_HANDLE hDevice, int nWidth, uint32_t nAddress, uint32_t *pnValue)
{
    if (nWidth == 8) {
        uint8_t nByte = 0;
        KYN_RESULT nResult = KynDrvReadReg8(hDevice, nAddress, &nByte);
        *pnValue = nByte;
        return nResult;
    }
    if (nWidth == 16) {
        uint16_t nHalf = 0;
        KYN_RESULT nResult = KynDrvReadReg16(hDevice, nAddress, &nHalf);
        *pnValue = nHalf;
        return nResult;
    }
    return KynDrvReadReg32(hDevice, nAddress, pnValue);
}

KYN_RESULT WriteOfWidth(KYN_HANDLE hDevice, int nWidth, uint32_t nAddress, uint32_t nValue)
{
    return nWidth == 8    ? KynDrvWriteReg8(hDevice, nAddress, nValue)
           : nWidth == 16 ? KynDrvWriteReg16(hDevice, nAddress, nValue)
                          : KynDrvWriteReg32(hDevice, nAddress, nValue);
}

} // namespace

namespace {

uint32_t ReadAndShow(const Command &command, KYN_HANDLE hDevice, uint32_t nAddress)
{
    uint32_t nValue = 0;
    CheckResult(hDevice, ReadOfWidth(hDevice, command.nWidth, nAddress, &nValue));
    LogPrintF(command.pszResult, (unsigned)nAddress, command.nWidth / 4, (unsigned)nValue, (int)nValue);
    return nValue;
}

// The library gets the whole value; only the printed one is cut to the width.
void WriteAndShow(const Command &command, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    CheckResult(hDevice, WriteOfWidth(hDevice, command.nWidth, nAddress, nValue));
    uint32_t nMask = command.nWidth == 32 ? 0xFFFFFFFFu : (1u << command.nWidth) - 1;
    LogPrintF(command.pszResult, command.nWidth / 4, (unsigned)(nValue & nMask), (unsigned)nAddress);
}

} // namespace

CommandOutcome ReadRegister(const Command &command, CommandDefaults &remembered, const BoardHandles &devices)
{
    KYN_HANDLE hDevice = 0;
    if (!DeviceOf(command, devices, &hDevice))
        return kGoOn;
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, &remembered.nFirst);
    ReadAndShow(command, hDevice, remembered.nFirst);
    return kGoOn;
}

CommandOutcome WriteRegister(const Command &command, CommandDefaults &remembered, const BoardHandles &devices)
{
    KYN_HANDLE hDevice = 0;
    if (!DeviceOf(command, devices, &hDevice))
        return kGoOn;
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, &remembered.nFirst);
    PromptValue(kValuePrompt, &remembered.nSecond);
    WriteAndShow(command, hDevice, remembered.nFirst, remembered.nSecond);
    return kGoOn;
}

bool RunAccess(const Command &command, uint32_t nAddress, uint32_t nValue, const BoardHandles &devices,
               uint32_t *pnRead)
{
    KYN_HANDLE hDevice = 0;
    if (!DeviceOf(command, devices, &hDevice))
        return false;
    LogPrintF("%s", command.pszTitle);
    if (command.pfnRun == ReadRegister)
        *pnRead = ReadAndShow(command, hDevice, nAddress);
    else
        WriteAndShow(command, hDevice, nAddress, nValue);
    return true;
}

// The dump keeps its own running address, from 0 at every dump: p's address stays as it was.
CommandOutcome DumpBridge(const Command &command, CommandDefaults &, const BoardHandles &devices)
{
    KYN_HANDLE hDevice = 0;
    if (!DeviceOf(command, devices, &hDevice))
        return kGoOn;
    LogPrintF("%s", command.pszTitle);
    for (uint32_t nAddress = 0; nAddress <= 0x1FC; nAddress += 4) {
        uint32_t nValue = 0;
        CheckResult(hDevice, KynDrvReadReg32(hDevice, nAddress, &nValue));
        LogPrintF(command.pszResult, (unsigned)nAddress, command.nWidth / 4, (unsigned)nValue, (int)nValue);
    }
    return kGoOn;
}

CommandOutcome IssueDebugCommand(const Command &command, CommandDefaults &remembered, const BoardHandles &devices)
{
    int32_t nCommand = (int32_t)remembered.nFirst;
    PromptSignedValue("Driver Debug Command. Which Cmd? [0x%.8X] ", &nCommand);
    remembered.nFirst = (uint32_t)nCommand;
    LogPrintF(command.pszResult, (unsigned)nCommand);
    CheckResult(devices.hBoard, KynDrvDbgDump(devices.hBoard, nCommand));
    return kGoOn;
}

// Screen only: a pause is not part of the board's record.
CommandOutcome SleepForAWhile(const Command &, CommandDefaults &, const BoardHandles &)
{
    char szLine[kLineSize];
    ScreenPrintF("Enter milliseconds to sleep :");
    ReadLine(szLine);
    if (szLine[0] == '\0')
        return kGoOn;
    int32_t nMilliseconds = ConvertSigned32(szLine);
    ScreenPrintF("Sleeping %d milliseconds\n", (int)nMilliseconds);
    // A library may take a negative count as a very long unsigned one.
    if (nMilliseconds >= 0)
        OsaThreadSleep(nMilliseconds);
    return kGoOn;
}
