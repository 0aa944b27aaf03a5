// log.cpp - the log file: opened once, written through its own buffer, every write, commit and close checked.
#include "log.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "KynHwDll.h"
#include "host.h"

namespace {

// The log's descriptor from OpenLog until it is closed; -1 before and after.
int g_fdLog = -1;
// The log's name, for the message that tells it could not be written.
const char *g_pszLogName = "";
// Set at the first failed write, commit or close: the log is incomplete from there on, the
// run's status becomes -1, and nothing more is written to it.
bool g_bLogFailed = false;
// Text not yet handed to the system. A signal handler may write [g_nSignalWritten,
// g_nLogUsed) at any moment; the tool only appends beyond g_nLogUsed, and empties the
// buffer with the signals held.
char g_acLog[64 * 1024];
volatile sig_atomic_t g_nLogUsed = 0;
volatile sig_atomic_t g_nSignalWritten = 0;

// Writes all nLength bytes; false with errno set on failure. Safe in a signal handler.
bool WriteAll(const char *pText, size_t nLength)
{
    while (nLength > 0) {
        long n = HostWriteLog(g_fdLog, pText, nLength);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        pText += n;
        nLength -= (size_t)n;
    }
    return true;
}

// To the console alone, as the log is what failed.
void TellConsole(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    OsaConsolePrintF(pszFormat, args);
    va_end(args);
}

void LogFailed()
{
    if (g_bLogFailed)
        return;
    int nErrno = errno;
    g_bLogFailed = true;
    g_nLogUsed = g_nSignalWritten = 0;
    TellConsole("Error: Writing log file %s failed: %s\n", g_pszLogName, strerror(nErrno));
}

void WriteBuffered()
{
    HostHoldSignals(true);
    bool bWritten = WriteAll(g_acLog + g_nSignalWritten, (size_t)(g_nLogUsed - g_nSignalWritten));
    g_nLogUsed = g_nSignalWritten = 0;
    HostHoldSignals(false);
    if (!bWritten)
        LogFailed();
}

// From a signal handler: what the console may have shown goes to the system now, in case
// the process ends before the tool gets to do it.
void WritePendingOnSignal()
{
    if (g_fdLog < 0 || g_bLogFailed)
        return;
    sig_atomic_t nUsed = g_nLogUsed;
    if (nUsed > g_nSignalWritten && WriteAll(g_acLog + g_nSignalWritten, (size_t)(nUsed - g_nSignalWritten)))
        g_nSignalWritten = nUsed;
}

bool LogOpen()
{
    return g_fdLog >= 0 && !g_bLogFailed;
}

void CloseAtExit()
{
    CloseLogFile(0);
}

} // namespace

bool OpenLog(const char *pszName, const char **ppszWhy)
{
    g_fdLog = HostOpenLog(pszName, ppszWhy);
    if (g_fdLog < 0)
        return false;
    g_pszLogName = pszName;
    atexit(CloseAtExit);
    HostGuardLogOnSignals(WritePendingOnSignal);
    return true;
}

void LogWriteText(const char *pText, size_t nLength)
{
    if (!LogOpen())
        return;
    if (nLength > sizeof g_acLog - (size_t)g_nLogUsed) {
        WriteBuffered();
        if (nLength > sizeof g_acLog) {
            if (LogOpen() && !WriteAll(pText, nLength))
                LogFailed();
            return;
        }
    }
    memcpy(g_acLog + g_nLogUsed, pText, nLength);
    g_nLogUsed = g_nLogUsed + (sig_atomic_t)nLength;
}

void LogWriteV(const char *pszFormat, va_list args)
{
    if (!LogOpen())
        return;
    va_list argsAgain;
    va_copy(argsAgain, args);
    size_t nRoom = sizeof g_acLog - (size_t)g_nLogUsed;
    int nLength = vsnprintf(g_acLog + g_nLogUsed, nRoom, pszFormat, args);
    if (nLength >= 0 && (size_t)nLength < nRoom) {
        g_nLogUsed = g_nLogUsed + nLength;
    } else if (nLength >= 0) {
        // Too long for what is left: formatted again on its own.
        char *pszText = (char *)malloc((size_t)nLength + 1);
        if (pszText != nullptr) {
            vsnprintf(pszText, (size_t)nLength + 1, pszFormat, argsAgain);
            LogWriteText(pszText, (size_t)nLength);
            free(pszText);
        } else {
            errno = ENOMEM;
            LogFailed();
        }
    }
    va_end(argsAgain);
}

void LogFlush(bool bCommit)
{
    if (!LogOpen())
        return;
    if (g_nLogUsed > g_nSignalWritten)
        WriteBuffered();
    if (bCommit && LogOpen() && !HostCommitLog(g_fdLog))
        LogFailed();
}

int CloseLogFile(int nStatus)
{
    if (g_fdLog >= 0) {
        LogFlush(false);
        int fdLog = g_fdLog;
        g_fdLog = -1;
        if (!HostCloseLog(fdLog))
            LogFailed();
    }
    return g_bLogFailed ? -1 : nStatus;
}
