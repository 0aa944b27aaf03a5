// screen.cpp - everything the tool shows and reads: each message formatted once, to the log and
// then the screen; the tool's own error lines; key and line reads; the run's end.
#include "screen.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tool_host.h"
#include "log_file.h"
#include "log_host.h"
#include "printable.h"
#include "progress_line.h"

namespace {

// Whether keys come from a terminal, where reads wait for a person; looked up once.
int g_nInputIsTerminal = -1;
// Whether the screen is a terminal, which shows each text at once; looked up once.
int g_nOutputIsTerminal = -1;
// The last text the tool gave the log, and the screen, left its line open (it did not end in a
// line end): the tool's own error lines start a line of their own. Reads do not change it: what
// the console echoes is the console's affair.
bool g_bLogLineOpen = false;
bool g_bScreenLineOpen = false;

// A one-shot run: ordinary text goes to the log alone, failures to standard error.
bool g_bOneShot = false;

// Set when the screen could not be written: nothing more is tried on it, the log says so (once
// it is open), standard error says it once, and the run ends with -1.
bool g_bScreenFailed = false;
bool g_bScreenFailureLogged = false;
char g_szScreenFailure[160];

void NoteText(bool &bLineOpen, const char *pText, size_t nLength)
{
    if (nLength > 0)
        bLineOpen = pText[nLength - 1] != '\n';
}

// The log's line about the failed screen, as soon as the log can take it.
void LogScreenFailure()
{
    if (g_bScreenFailed && !g_bScreenFailureLogged && LogFileWritable()) {
        g_bScreenFailureLogged = true;
        LogFileWrite(g_szScreenFailure, strlen(g_szScreenFailure));
    }
}

void ToScreen(const char *pszFormat, va_list args)
{
    // A terminal shows each text at once: the log is handed to the system first, so that even a
    // SIGKILL leaves every line the screen showed in the log. A file or pipe gets the screen's
    // text in blocks, as the log does.
    if (g_nOutputIsTerminal < 0)
        g_nOutputIsTerminal = HostOutputIsTerminal() ? 1 : 0;
    if (g_nOutputIsTerminal == 1)
        LogFileFlush(false);
    if (!g_bScreenFailed && OsaConsolePrintF(pszFormat, args) < 0) {
        g_bScreenFailed = true;
        snprintf(g_szScreenFailure, sizeof g_szScreenFailure, "%sError: Writing the console failed: %s\n",
                 g_bLogLineOpen ? "\n" : "", strerror(errno));
        fputs(g_szScreenFailure + (g_bLogLineOpen ? 1 : 0), stderr);
        fflush(stderr);
    }
    LogScreenFailure();
}

void ScreenText(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ToScreen(pszFormat, args);
    va_end(args);
}

} // namespace

void LetInterruptsAct()
{
    ScreenText("");
}

namespace {

void ToStandardError(const char *pText, size_t nLength)
{
    fwrite(pText, 1, nLength, stderr);
    fflush(stderr);
}

// Formats once; the log's copy first, so a line the screen showed is in the log whatever ends the run.
void LogAndShowV(const char *pszFormat, va_list args, bool bFailure = false)
{
    // A one-shot run without a log shows none of its ordinary lines: nothing to format.
    if (g_bOneShot && !bFailure && !LogFileWritable())
        return;
    ProgressHide();
    char szText[512];
    va_list argsAgain;
    va_copy(argsAgain, args);
    int nLength = vsnprintf(szText, sizeof szText, pszFormat, args);
    char *pszText = szText;
    if (nLength >= 0 && (size_t)nLength >= sizeof szText) {
        pszText = (char *)malloc((size_t)nLength + 1);
        if (pszText != nullptr)
            vsnprintf(pszText, (size_t)nLength + 1, pszFormat, argsAgain);
    }
    if (nLength >= 0 && pszText != nullptr) {
        if (g_bOneShot) {
            LogFileWrite(pszText, (size_t)nLength);
            NoteText(g_bLogLineOpen, pszText, (size_t)nLength);
            if (bFailure)
                ToStandardError(pszText, (size_t)nLength);
        } else {
            LogAndShowText(pszText, (size_t)nLength);
        }
    }
    if (pszText != szText)
        free(pszText);
    va_end(argsAgain);
}

// A line of the tool's own to the screen alone (the log is what failed), on a line of its own.
void OnLogFailure(const char *pszName, const char *pszReason)
{
    ProgressHide();
    ScreenText("%sError: Writing log file %s failed: %s\n", g_bScreenLineOpen ? "\n" : "", Printable(pszName).c_str(),
               pszReason);
    g_bScreenLineOpen = false;
}

void FlushLogBeforeInput()
{
    if (g_nInputIsTerminal < 0)
        g_nInputIsTerminal = HostInputIsTerminal() ? 1 : 0;
    // Scripted and piped runs only hand the text to the system: committing costs time there.
    LogFileFlush(g_nInputIsTerminal == 1);
}

// Input that failed or ended where a command needs it: nothing more can be done.
[[noreturn]] void EndOnLostInput(int32_t nCode)
{
    if (nCode == OSA_KEY_READ_ERROR)
        LogErrorLine("Error: Reading input failed\n");
    else
        LogErrorLine("Error: End of input in the middle of a command\n");
    EndRun(1, kReleaseThenConsole);
}

int32_t GetKey()
{
    int32_t nKey = OsaConsoleGetCh();
    if (nKey == OSA_KEY_READ_ERROR)
        EndOnLostInput(nKey);
    return nKey;
}

// On every way out the log is closed first, while a progress line still stands, and then the
// progress line goes: an interrupt may end the process at the screen's next write.
void CloseAtExit()
{
    LogFileClose(0);
    ProgressHide();
}

} // namespace

void LogPrintF(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogAndShowV(pszFormat, args);
    va_end(args);
}

void LogPrintFailureF(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogAndShowV(pszFormat, args, true);
    va_end(args);
}

void SetOneShotScreen()
{
    g_bOneShot = true;
}

void ShowResultLine(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ToScreen(pszFormat, args);
    va_end(args);
}

void LogAndShowText(const char *pText, size_t nLength)
{
    ProgressHide();
    LogFileWrite(pText, nLength);
    NoteText(g_bLogLineOpen, pText, nLength);
    ScreenText("%.*s", (int)nLength, pText);
    NoteText(g_bScreenLineOpen, pText, nLength);
}

void ScreenPrintF(const char *pszFormat, ...)
{
    ProgressHide();
    va_list args;
    va_start(args, pszFormat);
    ToScreen(pszFormat, args);
    va_end(args);
    NoteText(g_bScreenLineOpen, pszFormat, strlen(pszFormat));
}

void LogErrorLine(const char *pszFormat, ...)
{
    ProgressHide();
    char szText[512];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText + 1, sizeof szText - 1, pszFormat, args);
    va_end(args);
    // Each of log and screen gets the line end it needs first, and then the whole line at once.
    szText[0] = '\n';
    const char *pszForLog = g_bLogLineOpen ? szText : szText + 1;
    LogFileWrite(pszForLog, strlen(pszForLog));
    NoteText(g_bLogLineOpen, pszForLog, strlen(pszForLog));
    if (g_bOneShot) {
        ToStandardError(szText + 1, strlen(szText + 1));
        return;
    }
    const char *pszForScreen = g_bScreenLineOpen ? szText : szText + 1;
    ScreenText("%s", pszForScreen);
    NoteText(g_bScreenLineOpen, pszForScreen, strlen(pszForScreen));
}

void OpenLogOrEnd(const char *pszName)
{
    const char *pszWhy = nullptr;
    if (LogFileOpen(pszName, &pszWhy, OnLogFailure)) {
        atexit(CloseAtExit);
        return;
    }
    // Every refusal says why: where the tool itself did not refuse, the system's reason.
    if (pszWhy == nullptr)
        pszWhy = strerror(errno);
    // After what the screen holds: the message comes after the banner.
    ScreenText("");
    // A one-shot run keeps standard output for its results.
    FILE *pOut = g_bOneShot ? stderr : stdout;
    fprintf(pOut, "Couldn't open logfile %s\n", Printable(pszName).c_str());
    if (pszWhy != nullptr)
        fprintf(pOut, "%s\n", pszWhy);
    fflush(pOut);
    EndRun(HostLogIsAnInput() ? 2 : -1, kKeepLibrary);
}

void SetCommandString(const char *pszText)
{
    OsaConsoleInput(pszText);
}

int32_t ReadKey()
{
    FlushLogBeforeInput();
    int32_t nKey = GetKey();
    // Only a key typed at the keyboard begins two codes; the library gives the command string's
    // 0 and 0xE0 as 0x100 and 0x1E0.
    if ((nKey == 0 || nKey == 0xE0) && g_nInputIsTerminal == 1)
        GetKey();
    return nKey;
}

void ReadLine(char *pszLine)
{
    FlushLogBeforeInput();
    // The library says again why no line came: the input's end and failure both stay.
    if (OsaConsoleGetStr(pszLine) == nullptr)
        EndOnLostInput(OsaConsoleGetCh());
}

int FinishRun(int nStatus, RunEnd eEnd)
{
    if (eEnd == kReleaseThenConsole)
        KynDrvReleaseLib();
    // An empty text writes what the screen holds back.
    ScreenText("");
    nStatus = LogFileClose(nStatus);
    OsaConsoleExit();
    if (eEnd == kConsoleThenRelease)
        KynDrvReleaseLib();
    return g_bScreenFailed ? -1 : nStatus;
}

void EndRun(int nStatus, RunEnd eEnd)
{
    exit(FinishRun(nStatus, eEnd));
}
