// one_shot.cpp - a run for scripts: after the start-up, each access of the command line in order,
// read values alone on standard output; the boards that open; a result code's fields and text.
#include "one_shot.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "board_table.h"
#include "command_table.h"
#include "error_report.h"
#include "options.h"
#include "run.h"
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

} // namespace

int RunOneShot()
{
    // No question is asked: the first failure ends the run with status 1.
    SetQuietErrors(true);
    if (g_toolOptions.bDecode)
        DecodeResult(g_toolOptions.nDecode);
    if (g_toolOptions.bList || !g_toolOptions.aAccesses.empty())
        OpenLogAndShowIdentity();
    if (g_toolOptions.bList)
        ListBoards();
    if (!g_toolOptions.aAccesses.empty()) {
        const BoardHandles devices = OpenAndIdentifyBoard();
        for (const OneShotAccess &access : g_toolOptions.aAccesses) {
            const Command *pCommand = FindCommand(access.cKey);
            uint32_t nRead = 0;
            if (!RunAccess(*pCommand, access.nAddress, access.nValue, devices, &nRead))
                EndRun(1, kReleaseThenConsole);
            if (pCommand->pfnRun == ReadRegister)
                ShowResultLine("0x%.*X\n", pCommand->nWidth / 4, (unsigned)nRead);
        }
    }
    return FinishRun(0, kReleaseThenConsole);
}
