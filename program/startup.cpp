// startup.cpp - the start-up every run shares, in its fixed order: the register maps, the log, the
// library's and driver's identity with the connect, then the board's opening and identity.
#include "startup.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "board_table.h"
#include "command_line.h"
#include "command_table.h"
#include "error_report.h"
#include "options.h"
#include "printable.h"
#include "register_map.h"
#include "report.h"
#include "screen.h"

BoardHandles OpenBoard()
{
    BoardHandles devices = {0, 0};
    const BoardType *pType = FindBoardType(g_toolOptions.nBoardType);
    if (pType == nullptr) {
        LogPrintFailureF("Board Type (%d) not supported by this demo program\n", (int)g_toolOptions.nBoardType);
        EndRun(1, kKeepLibrary);
    }
    LogPrintF("%s", pType->pszOpening);
    KYN_RESULT nResult = KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, (uint32_t)g_toolOptions.nBoardType,
                                               g_toolOptions.nBoardNumber, &devices.hBoard);
    // A script's run says why the board did not open: its record first, the library's text on the
    // error line. The key loop's start-up keeps its line as it always was.
    if (nResult < 0 && IsOneShot(g_toolOptions)) {
        ReportOpenFailure(nResult);
        SetTextForEveryFailure(true);
    }
    CheckResult(-1, nResult);
    LogPrintF("Board Device Handle = 0x%.8X\n", (unsigned)devices.hBoard);
    if (pType->bBridge) {
        // A board without a working bridge keeps handle 0, which the bridge commands test.
        KynDrvGetDeviceHandle(devices.hBoard, KYN_DEVICE_TYPE_PCI_BRIDGE, 0, &devices.hBridge);
        LogPrintF("Plx Device Handle = 0x%.8X\n", (unsigned)devices.hBridge);
    }
    return devices;
}

namespace {

// The value query follows the type query even when that failed, with the size it left. A size
// of 0 or a failed allocation shows an empty text rather than nothing at all.
void ReportBoardText(KYN_HANDLE hBoard, uint32_t nId, const char *pszFormat)
{
    uint32_t nKind = 0, nSize = 0, nFlags = 0;
    CheckResult(hBoard, KynDrvGetAttributeType(hBoard, nId, &nKind, &nSize, &nFlags));
    char *pszText = (char *)malloc(nSize > 0 ? nSize : 1);
    if (pszText != nullptr) {
        pszText[0] = '\0';
        KYN_RESULT nResult = KynDrvGetAttributeValueSz(hBoard, nId, pszText, nSize);
        CheckResult(hBoard, nResult);
        if (nResult < 0)
            pszText[0] = '\0';
        pszText[nSize > 0 ? nSize - 1 : 0] = '\0';
    }
    LogPrintF(pszFormat, pszText != nullptr ? pszText : "");
    free(pszText);
}

// The sizes handed to the library's identity queries; each buffer is one byte larger, so the
// text ends inside it whatever the library writes.
const uint32_t kVersionQuerySize = 255;
const uint32_t kFileNameQuerySize = 64;

// Reads a text attribute into acBuffer, handing the library N - 1 bytes of it. An identity query
// that fails and is gone on from leaves an empty text.
template <size_t N> void QueryText(KYN_HANDLE hObject, uint32_t nId, char (&acBuffer)[N])
{
    acBuffer[0] = '\0';
    KYN_RESULT nResult = KynDrvGetAttributeValueSz(hObject, nId, acBuffer, (uint32_t)(N - 1));
    CheckResult(-1, nResult);
    if (nResult < 0)
        acBuffer[0] = '\0';
    acBuffer[N - 1] = '\0';
}

// Connect codes 11 and 17 mean the driver is missing or of another revision: nothing can work.
const uint32_t kConnectNoDriver = 11;
const uint32_t kConnectMismatch = 17;

void ConnectLibrary()
{
    LogPrintF("Connecting lib...\n");
    KYN_RESULT nResult = KynDrvConnectLib();
    uint32_t nReported = ReportedCode(nResult);
    if (nReported == kConnectNoDriver || nReported == kConnectMismatch) {
        if (nReported == kConnectNoDriver)
            LogPrintFailureF("Error: Could not connect to the KYN library.\nPossible cause: KYN Driver not loaded\n");
        else
            LogPrintFailureF("Error: Mismatch between KYN Driver revision and KYN Library revision.\n"
                      "Revisions must match.\n");
        EndRun(1, kConsoleThenRelease);
    }
    CheckResult(-1, nResult);
}

void ShowIdentity()
{
    char szVersion[kVersionQuerySize + 1];
    char szFileName[kFileNameQuerySize + 1];
    uint32_t bStatic = 0;
    QueryText(KYN_HANDLE_LIBRARY, KYN_ATTR_VERSION, szVersion);
    KYN_RESULT nResult = KynDrvGetAttributeValueBool(KYN_HANDLE_LIBRARY, KYN_ATTR_STATIC_LINKED, &bStatic);
    CheckResult(-1, nResult);
    if (nResult < 0)
        bStatic = 0;
    QueryText(KYN_HANDLE_LIBRARY, KYN_ATTR_FILE_NAME, szFileName);
    LogPrintF("Library version %s (filename %s, %s linked)\n", szVersion, szFileName,
              bStatic != 0 ? "static" : "dynamic");

    ConnectLibrary();

    QueryText(KYN_HANDLE_DRIVER, KYN_ATTR_VERSION, szVersion);
    LogPrintF("Driver version %s\n", szVersion);
}

} // namespace

void OpenLogAndShowIdentity()
{
    if (g_toolOptions.bLogNamed || !IsOneShot(g_toolOptions))
        OpenLogOrEnd(g_toolOptions.szLogFileName);
    LogPrintF("Log file is  %s\n", Printable(g_toolOptions.szLogFileName).c_str());
    LogPrintF("Board number %d\n", (int)g_toolOptions.nBoardNumber);
    ShowIdentity();
}

BoardHandles OpenAndIdentifyBoard()
{
    LogPrintF("Get Handle to the board device...\n");
    const BoardHandles devices = OpenBoard();
    LogPrintF("Read Serial Number to the board device...\n");
    ReportBoardText(devices.hBoard, KYN_ATTR_SERIAL_NUMBER, "Board Serial Number: %s\n");
    ReportBoardText(devices.hBoard, KYN_ATTR_BUILD_NUMBER, "Board Build Number: %s\n");
    if (FindBoardType(g_toolOptions.nBoardType)->bCpld)
        ReportBoardText(devices.hBoard, KYN_ATTR_CPLD_BUILD, "CPLD Build:\n%s");
    return devices;
}

// The maps the settings name, read before the library is touched: a map that cannot be read, or
// that contradicts itself, ends the run with status 2, saying where.
void LoadRegisterMaps()
{
    SetMapReadPoll(LetInterruptsAct);
    for (bool bBridge : {false, true}) {
        const char *pszFile = bBridge ? g_toolOptions.pszBridgeMapFile : g_toolOptions.pszMapFile;
        const char *pszBase = bBridge || g_toolOptions.pszMapBase == nullptr ? "" : g_toolOptions.pszMapBase;
        std::string strError;
        if (pszFile != nullptr && *pszFile != '\0' && !LoadRunMap(bBridge, pszFile, pszBase, strError)) {
            fprintf(stderr, "Error: register map %s\n", Printable(strError).c_str());
            fflush(stderr);
            EndRun(2, kKeepLibrary);
        }
        for (size_t i = 0; pszFile != nullptr && RunMap(bBridge) != nullptr && i < RunMap(bBridge)->aWarnings.size(); ++i)
            fprintf(stderr, "Warning: register map %s %s\n", Printable(pszFile).c_str(),
                    Printable(RunMap(bBridge)->aWarnings[i]).c_str());
        fflush(stderr);
    }
}

