// output.cpp - console and log output, the log file, and the check after every library call.
#include "output.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h"
#include "log.h"
#include "options.h"

// Whether keys come from a terminal, where reads wait for a person; looked up once.
static int g_nInputIsTerminal = -1;
// The command string's part not yet read, followed the way the library reads it: a key
// takes one character, a line runs to LF, CR, CR LF or ';'. A line read once it is used up
// comes from standard input, and at a terminal the library echoes it with its line end.
static const char *g_pszScriptLeft = "";
static bool g_bLineEchoed = false;

const char kExitQuestion[] = "Do you want to exit (Y/N) ";
// The question takes a key's low 16 bits for its answer (the main loop, its low 8).
static const uint32_t kAnswerKeyMask = 0xFFFFu;
// The buffer for a result's text from the library.
static const uint32_t kResultTextSize = 256;

void SetCommandString(const char *pszText)
{
    g_pszScriptLeft = pszText;
    OsaConsoleInput(pszText);
}

// Set when the console could not be written: nothing more is tried on it, the log says so
// (once it is open), and the run ends with -1.
static bool g_bConsoleFailed = false;
static bool g_bConsoleFailureLogged = false;
static char g_szConsoleFailure[160];

static void RecordConsoleFailure(int nErrno)
{
    g_bConsoleFailed = true;
    snprintf(g_szConsoleFailure, sizeof g_szConsoleFailure, "Error: Writing the console failed: %s\n", strerror(nErrno));
    fputs(g_szConsoleFailure, stderr);
    fflush(stderr);
}

// The log's line about the failed console, as soon as the log can take it.
static void LogConsoleFailure()
{
    if (g_bConsoleFailed && !g_bConsoleFailureLogged && LogIsOpen()) {
        g_bConsoleFailureLogged = true;
        LogWriteText(g_szConsoleFailure, strlen(g_szConsoleFailure));
    }
}

static void ToConsole(const char *pszFormat, va_list args)
{
    if (g_bConsoleFailed)
        return;
    if (OsaConsolePrintF(pszFormat, args) < 0)
        RecordConsoleFailure(errno);
    LogConsoleFailure();
}

static void ConsoleText(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ToConsole(pszFormat, args);
    va_end(args);
}

// What the console holds back is written now, while the log can still say it failed.
static void WriteHeldConsoleText()
{
    ConsoleText("");
}

void LogPrintF(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list argsForLog;
    va_copy(argsForLog, args);
    LogWriteV(pszFormat, argsForLog);
    ToConsole(pszFormat, args);
    va_end(argsForLog);
    va_end(args);
}

void LogPutLine(const char *pszLine, size_t nLength)
{
    LogWriteText(pszLine, nLength);
    ConsoleText("%s", pszLine);
}

void ScreenPrintF(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ToConsole(pszFormat, args);
    va_end(args);
}

static void FlushLogBeforeInput()
{
    if (g_nInputIsTerminal < 0)
        g_nInputIsTerminal = HostInputIsTerminal() ? 1 : 0;
    // Scripted and piped runs only hand the text to the system: committing costs time there.
    LogFlush(g_nInputIsTerminal == 1);
}

// Input that failed or ended where a command needs it: nothing more can be done.
[[noreturn]] static void EndOnLostInput(int32_t nCode)
{
    if (nCode == OSA_KEY_READ_ERROR)
        LogPrintF("Error: Reading input failed\n");
    else
        LogPrintF("Error: End of input in the middle of a command\n");
    EndRun(1, kReleaseThenConsole);
}

static int32_t GetKey()
{
    if (*g_pszScriptLeft != '\0')
        ++g_pszScriptLeft;
    int32_t nKey = OsaConsoleGetCh();
    if (nKey == OSA_KEY_READ_ERROR)
        EndOnLostInput(nKey);
    return nKey;
}

int32_t ReadKey()
{
    FlushLogBeforeInput();
    int32_t nKey = GetKey();
    // At the keyboard an arrow or function key comes as two codes, 0 or 0xE0 and its scan
    // code: one key, which is no command letter and no answer.
    if ((nKey == 0 || nKey == 0xE0) && g_nInputIsTerminal == 1)
        GetKey();
    return nKey;
}

void ReadLine(char *pszLine)
{
    FlushLogBeforeInput();
    g_bLineEchoed = *g_pszScriptLeft == '\0' && g_nInputIsTerminal == 1;
    if (*g_pszScriptLeft != '\0') {
        size_t nLength = strcspn(g_pszScriptLeft, ";\r\n");
        const char *pszEnd = g_pszScriptLeft + nLength;
        g_pszScriptLeft = pszEnd + (*pszEnd == '\0' ? 0 : pszEnd[0] == '\r' && pszEnd[1] == '\n' ? 2 : 1);
    }
    // The library says again why no line came: the input's end and failure both stay.
    if (OsaConsoleGetStr(pszLine) == nullptr)
        EndOnLostInput(OsaConsoleGetCh());
}

bool LastLineEchoed()
{
    return g_bLineEchoed;
}

void OpenLogFile(const char *pszName)
{
    const char *pszWhy = nullptr;
    if (OpenLog(pszName, &pszWhy))
        return;
    // After what the console holds: the message comes after the banner.
    WriteHeldConsoleText();
    printf("Couldn't open logfile %s\n", pszName);
    if (pszWhy != nullptr)
        printf("%s\n", pszWhy);
    fflush(stdout);
    EndRun(-1, kKeepLibrary);
}

int FinishRun(int nStatus, RunEnd eEnd)
{
    if (eEnd == kReleaseThenConsole)
        KynDrvReleaseLib();
    WriteHeldConsoleText();
    nStatus = CloseLogFile(nStatus);
    OsaConsoleExit();
    if (eEnd == kConsoleThenRelease)
        KynDrvReleaseLib();
    return g_bConsoleFailed ? -1 : nStatus;
}

void EndRun(int nStatus, RunEnd eEnd)
{
    exit(FinishRun(nStatus, eEnd));
}

// Code numbers up to this one keep the failure bit in the reported code.
static const uint32_t kLastCodeWithFailureBit = 29;

uint32_t ReportedCode(KYN_RESULT nResult)
{
    uint32_t nCode = (uint32_t)nResult & 0xFFu;
    return nCode <= kLastCodeWithFailureBit ? (uint32_t)nResult & 0x800000FFu : nCode;
}

uint32_t UpperField(KYN_RESULT nResult)
{
    return ((uint32_t)nResult >> 23) & 0xFFu;
}

uint32_t MiddleField(KYN_RESULT nResult)
{
    return ((uint32_t)nResult >> 8) & 0x7FFFu;
}

void CheckResult(KYN_HANDLE hDevice, KYN_RESULT nResult)
{
    if (nResult >= 0)
        return;
    // Widened without sign extension, so the code never shows more than eight digits.
    unsigned long nReported = ReportedCode(nResult);
    int nUpper = (int)UpperField(nResult);
    int nMiddle = (int)MiddleField(nResult);
    if (hDevice == -1) {
        LogPrintF("ERROR(%#lX [%d.%d]) \n", nReported, nUpper, nMiddle);
    } else {
        uint32_t nKind = 0, nSize = 0, nFlags = 0;
        uint32_t nDeviceType = 999, nDeviceNumber = 999;
        if (KynDrvGetAttributeType(hDevice, KYN_ATTR_DEVICE_TYPE, &nKind, &nSize, &nFlags) >= 0)
            KynDrvGetAttributeValueUint32(hDevice, KYN_ATTR_DEVICE_TYPE, &nDeviceType);
        if (KynDrvGetAttributeType(hDevice, KYN_ATTR_DEVICE_NUMBER, &nKind, &nSize, &nFlags) >= 0)
            KynDrvGetAttributeValueUint32(hDevice, KYN_ATTR_DEVICE_NUMBER, &nDeviceNumber);
        char szText[kResultTextSize];
        if (KynDrvResultCode2String(0, nResult, sizeof szText, szText) < 0)
            snprintf(szText, sizeof szText, "%s", "Cannot translate this result code.");
        szText[sizeof szText - 1] = '\0';
        LogPrintF("ERROR(%#lX [%d.%d]) Dev(%X,%d,%d): %s \n", nReported, nUpper, nMiddle, (unsigned)hDevice,
                  (int)nDeviceType, (int)nDeviceNumber, szText);
    }
    AskExit();
}

void AskExit()
{
    if (g_toolOptions.bQuiet)
        EndRun(1, kReleaseThenConsole);
    LogPrintF("%s", kExitQuestion);
    int32_t nKey = ReadKey();
    // At the end of input nobody can answer: a failure must not end as a success later.
    uint32_t nLow = (uint32_t)nKey & kAnswerKeyMask;
    if (nKey == OSA_KEY_END_OF_INPUT || nLow == 'y' || nLow == 'Y')
        EndRun(1, kReleaseThenConsole);
}
