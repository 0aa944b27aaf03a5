// output.cpp - console and log output, the log file, and the check after every library call.
#include "output.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "host.h"
#include "options.h"

// The log file: absent until OpenLogFile, then open until the exit handler closes it.
static FILE *g_pLogFile = nullptr;
// Whether the log has text that has not been committed to disk yet.
static bool g_bLogUncommitted = false;
// Whether keys come from a terminal, where reads wait for a person; looked up once.
static int g_nInputIsTerminal = -1;

void LogPrintF(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list argsForLog;
    va_copy(argsForLog, args);
    OsaConsolePrintF(pszFormat, args);
    if (g_pLogFile != nullptr) {
        vfprintf(g_pLogFile, pszFormat, argsForLog);
        g_bLogUncommitted = true;
    }
    va_end(argsForLog);
    va_end(args);
}

void LogPutText(const char *pText, size_t nLength)
{
    ScreenPrintF("%.*s", (int)nLength, pText);
    if (g_pLogFile != nullptr) {
        fwrite(pText, 1, nLength, g_pLogFile);
        g_bLogUncommitted = true;
    }
}

void ScreenPrintF(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    OsaConsolePrintF(pszFormat, args);
    va_end(args);
}

static void FlushLogBeforeInput()
{
    if (g_pLogFile == nullptr || !g_bLogUncommitted)
        return;
    fflush(g_pLogFile);
    if (g_nInputIsTerminal < 0)
        g_nInputIsTerminal = HostInputIsTerminal() ? 1 : 0;
    // Scripted and piped runs only hand the text to the system: committing costs time there.
    if (g_nInputIsTerminal == 1) {
        HostCommitFile(g_pLogFile);
        g_bLogUncommitted = false;
    }
}

int32_t ReadKey()
{
    FlushLogBeforeInput();
    return OsaConsoleGetCh();
}

void ReadLine(char *pszLine)
{
    FlushLogBeforeInput();
    OsaConsoleGetStr(pszLine);
}

static void CloseLogFile()
{
    if (g_pLogFile != nullptr)
        fclose(g_pLogFile);
    g_pLogFile = nullptr;
}

void OpenLogFile(const char *pszName)
{
    g_pLogFile = fopen(pszName, "w");
    if (g_pLogFile == nullptr) {
        printf("Couldn't open logfile %s\n", pszName);
        OsaConsoleExit();
        exit(-1);
    }
    setvbuf(g_pLogFile, nullptr, _IOFBF, 64 * 1024);
    atexit(CloseLogFile);
}

uint32_t ReportedCode(KYN_RESULT nResult)
{
    uint32_t nCode = (uint32_t)nResult & 0xFFu;
    return nCode <= 29 ? (uint32_t)nResult & 0x800000FFu : nCode;
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
        char szText[256];
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
    if (g_toolOptions.bQuiet) {
        KynDrvReleaseLib();
        OsaConsoleExit();
        exit(1);
    }
    LogPrintF("Do you want to exit (Y/N) ");
    int32_t nKey = ReadKey();
    // At the end of input nobody can answer: a failure must not end as a success later.
    uint32_t nLow = (uint32_t)nKey & 0xFFFFu;
    if (nKey < 0 || nLow == 'y' || nLow == 'Y') {
        KynDrvReleaseLib();
        OsaConsoleExit();
        exit(1);
    }
}
