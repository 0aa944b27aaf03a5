// one_shot.cpp - a run for scripts: after the start-up, each access of the command line in order,
// read values alone on standard output; the boards that open; a result code's fields and text.
#include "one_shot.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "board_table.h"
#include "command_table.h"
#include "error_report.h"
#include "options.h"
#include "printable.h"
#include "register_map.h"
#include "startup.h"
#include "screen.h"

namespace {

// The boards of one type --list tries, from number 0 until one does not open.
const uint32_t kListedBoardsMax = 16;
const uint32_t kResultTextSize = 256;

std::string ResultText(KYN_RESULT nResult)
{
    char szText[kResultTextSize];
    if (KynDrvResultCode2String(0, nResult, sizeof szText, szText) < 0)
        return "Cannot translate this result code.";
    szText[sizeof szText - 1] = '\0';
    return szText;
}

// A line of the run's result: on standard output, and in the log when one is named.
template <typename... Args> void ShowAndLog(const char *pszFormat, Args... args)
{
    LogPrintF(pszFormat, args...);
    ShowResultLine(pszFormat, args...);
}

void DecodeResult(uint32_t nCode)
{
    KYN_RESULT nResult = (KYN_RESULT)nCode;
    if (nResult >= 0) {
        ShowAndLog("0x%.8X is no failure: results of 0 and above are successes\n", (unsigned)nCode);
        return;
    }
    ShowAndLog("%#lX [%d.%d]: %s\n", (unsigned long)ReportedCode(nResult), (int)UpperField(nResult),
               (int)MiddleField(nResult), ResultText(nResult).c_str());
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
    return "no serial number: " + ResultText(nResult);
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
            ShowAndLog("%c %2d  %-34s %2u  %s\n", type.cLetter, (int)type.nCode, strName.c_str(), (unsigned)nNumber,
                       SerialNumber(hBoard).c_str());
            ++nListed;
        }
    }
    if (nListed == 0)
        LogPrintFailureF("No board of any type opens\n");
}

// A script's mistake, before the library is touched: status 2.
[[noreturn]] void Refuse(const std::string &strWhy)
{
    fprintf(stderr, "Error: %s\n", Printable(strWhy).c_str());
    fflush(stderr);
    EndRun(2, kKeepLibrary);
}

// Accesses that name their register: the name's address in the device's map.
void ResolveNames()
{
    for (OneShotAccess &access : g_toolOptions.aAccesses) {
        if (access.strName.empty())
            continue;
        const RegisterMap *pMap = RunMap(FindCommand(access.cKey)->eDevice == kBridge);
        if (pMap == nullptr)
            Refuse("'" + access.strName + "' is no number, and no register map is named (--map, --bridge-map)");
        const MapRegister *pRegister = FindMapRegisterByName(*pMap, access.strName);
        if (pRegister == nullptr)
            Refuse("No register " + access.strName + " in the map " + pMap->strFile);
        access.nAddress = pRegister->nAddress;
    }
    if (g_toolOptions.bDump && RunMap(false) == nullptr)
        Refuse("--dump needs the board's register map (--map or DUZE_MAP)");
}

// Every register of the board's map, in address order, one line each; those whose reads change
// them, or that cannot be read, are listed and not read.
void DumpMap(const BoardHandles &devices)
{
    for (const MapRegister &reg : RunMap(false)->aRegisters) {
        std::string strName = DescribeRegister(reg, 0).substr(2);
        strName = strName.substr(0, strName.find_first_of(":\n"));
        if (reg.eAccess == kMapWriteOnly || !reg.strReadAction.empty()) {
            ShowAndLog("Brd Address 0x%X not read  %s: %s\n", (unsigned)reg.nAddress, strName.c_str(),
                       reg.eAccess == kMapWriteOnly ? "write-only" : ("a read has an effect (" + reg.strReadAction + ")").c_str());
            continue;
        }
        uint32_t nValue = 0;
        int nWidth = reg.nBits <= 8 ? 8 : reg.nBits <= 16 ? 16 : 32;
        if (nWidth == 8) {
            uint8_t nByte = 0;
            CheckResult(devices.hBoard, KynDrvReadReg8(devices.hBoard, reg.nAddress, &nByte));
            nValue = nByte;
        } else if (nWidth == 16) {
            uint16_t nHalf = 0;
            CheckResult(devices.hBoard, KynDrvReadReg16(devices.hBoard, reg.nAddress, &nHalf));
            nValue = nHalf;
        } else {
            CheckResult(devices.hBoard, KynDrvReadReg32(devices.hBoard, reg.nAddress, &nValue));
        }
        std::string strFields = DescribeRegister(reg, nValue);
        ShowAndLog("Brd Address 0x%X = 0x%.*X%s", (unsigned)reg.nAddress, nWidth / 4, (unsigned)nValue, strFields.c_str());
    }
}

} // namespace

int RunOneShot()
{
    // No question is asked: the first failure ends the run with status 1.
    SetQuietErrors(true);
    ResolveNames();
    if (g_toolOptions.bDecode)
        DecodeResult(g_toolOptions.nDecode);
    if (g_toolOptions.bList || !g_toolOptions.aAccesses.empty() || g_toolOptions.bDump)
        OpenLogAndShowIdentity();
    if (g_toolOptions.bList)
        ListBoards();
    if (!g_toolOptions.aAccesses.empty() || g_toolOptions.bDump) {
        const BoardHandles devices = OpenAndIdentifyBoard();
        for (const OneShotAccess &access : g_toolOptions.aAccesses) {
            const Command *pCommand = FindCommand(access.cKey);
            uint32_t nRead = 0;
            if (!RunAccess(*pCommand, access.nAddress, access.nValue, devices, &nRead))
                EndRun(1, kReleaseThenConsole);
            if (pCommand->pfnRun == ReadRegister)
                ShowResultLine("0x%.*X\n", pCommand->nWidth / 4, (unsigned)nRead);
        }
        if (g_toolOptions.bDump)
            DumpMap(devices);
    }
    return FinishRun(0, kReleaseThenConsole);
}
