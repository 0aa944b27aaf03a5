// register_commands.cpp - the commands on registers: 8-, 16- and 32-bit reads and writes of the board
// and its PCI bridge, the bridge's dump, the driver debug command, and the sleep.
#include <algorithm>
#include <string>

#include "command_table.h"
#include "screen.h"
#include "error_report.h"
#include "number_entry.h"
#include "register_access.h"
#include "register_map.h"

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

const RegisterMap *MapOf(const Command &command)
{
    return RunMap(command.eDevice == kBridge);
}

// One register's line: its fields at this access's width, and what a write to it warns of.
void ShowOneMapLine(const Command &command, const MapRegister &reg, uint32_t nValue, bool bWrite)
{
    const MapRegister *pRegister = &reg;
    // An access narrower than the register shows the fields it covers.
    MapRegister shown = *pRegister;
    if (command.nWidth < (int)shown.nBits)
        shown.aFields.erase(std::remove_if(shown.aFields.begin(), shown.aFields.end(),
                                           [&](const MapField &field) { return field.nLsb + field.nWidth > (uint32_t)command.nWidth; }),
                            shown.aFields.end());
    std::string strLine = DescribeRegister(shown, nValue, bWrite);
    strLine.pop_back();
    // Not refused: a bench engineer may mean it. Said once, on the line the write prints.
    if (bWrite && (pRegister->eAccess == kMapReadOnly))
        strLine += " (warning: a read-only register)";
    else if (bWrite && pRegister->nBits < 32 && (nValue >> pRegister->nBits) != 0)
        strLine += " (warning: the value is wider than its " + std::to_string(pRegister->nBits) + " bits)";
    LogPrintF("%s\n", strLine.c_str());
}

} // namespace

void ShowMapLine(const Command &command, uint32_t nAddress, uint32_t nValue, bool bWrite, const MapRegister *pNamed)
{
    const RegisterMap *pMap = MapOf(command);
    if (pMap == nullptr)
        return;
    std::vector<const MapRegister *> apAt;
    if (pNamed != nullptr && pNamed->nAddress == nAddress)
        apAt.push_back(pNamed);
    else
        apAt = MapRegistersAt(*pMap, nAddress);
    for (const MapRegister *pRegister : apAt)
        ShowOneMapLine(command, *pRegister, nValue, bWrite);
}


void ShowRegisterLine(const Command &command, uint32_t nAddress, uint32_t nValue, const MapRegister *pNamed)
{
    if (command.eAccess == kWriteAccess) {
        // The library gets the whole value; only the printed one is cut to the width.
        uint32_t nMask = command.nWidth == 32 ? 0xFFFFFFFFu : (1u << command.nWidth) - 1;
        LogPrintF(command.pszResult, command.nWidth / 4, (unsigned)(nValue & nMask), (unsigned)nAddress);
    } else {
        LogPrintF(command.pszResult, (unsigned)nAddress, command.nWidth / 4, (unsigned)nValue, (int)nValue);
    }
    ShowMapLine(command, nAddress, nValue, command.eAccess == kWriteAccess, pNamed);
}

namespace {

// The key's access, checked as every library call is, and its line: after a failure the user chose
// to go on from, the line still shows what the command holds.
void AccessAndShow(const Command &command, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue, const MapRegister *pNamed)
{
    RegisterAccess access;
    AccessOf(command, nAddress, nValue, access);
    CheckResult(hDevice, RunRegisterAccess(hDevice, access));
    ShowRegisterLine(command, nAddress, (uint32_t)access.nValue, pNamed);
}

} // namespace

CommandOutcome ReadRegister(const Command &command, CommandDefaults &remembered, const BoardHandles &devices)
{
    KYN_HANDLE hDevice = 0;
    if (!DeviceOf(command, devices, &hDevice))
        return kGoOn;
    LogPrintF("%s", command.pszTitle);
    const MapRegister *pNamed = nullptr;
    if (!PromptAddress(kAddressPrompt, &remembered.nFirst, MapOf(command), &pNamed))
        return kGoOn;
    AccessAndShow(command, hDevice, remembered.nFirst, 0, pNamed);
    return kGoOn;
}

CommandOutcome WriteRegister(const Command &command, CommandDefaults &remembered, const BoardHandles &devices)
{
    KYN_HANDLE hDevice = 0;
    if (!DeviceOf(command, devices, &hDevice))
        return kGoOn;
    LogPrintF("%s", command.pszTitle);
    const MapRegister *pNamed = nullptr;
    if (!PromptAddress(kAddressPrompt, &remembered.nFirst, MapOf(command), &pNamed))
        return kGoOn;
    PromptValue(kValuePrompt, &remembered.nSecond);
    AccessAndShow(command, hDevice, remembered.nFirst, remembered.nSecond, pNamed);
    return kGoOn;
}

// The dump keeps its own running address, from 0 at every dump: p's address stays as it was.
CommandOutcome DumpBridge(const Command &command, CommandDefaults &, const BoardHandles &devices)
{
    KYN_HANDLE hDevice = 0;
    if (!DeviceOf(command, devices, &hDevice))
        return kGoOn;
    LogPrintF("%s", command.pszTitle);
    for (uint32_t nAddress = 0; nAddress <= 0x1FC; nAddress += 4) {
        RegisterAccess access;
        AccessOf(*FindCommand('p'), nAddress, 0, access);
        CheckResult(hDevice, RunRegisterAccess(hDevice, access));
        uint32_t nValue = (uint32_t)access.nValue;
        LogPrintF(command.pszResult, (unsigned)nAddress, command.nWidth / 4, (unsigned)nValue, (int)nValue);
        ShowMapLine(command, nAddress, nValue, false);
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
