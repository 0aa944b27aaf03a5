// log_file.cpp - the log file: opened once, written through its own buffer, every write, commit and close checked.
#include "log_file.h"

#include <errno.h>
#include <signal.h>
#include <string.h>

#include <atomic>

#include "KynHwDll.h"
#include "duze_limits.h"
#include "log_host.h"

namespace {

// The log's descriptor from LogFileOpen until it is closed; -1 before and after.
int g_fdLog = -1;
// The log's name, for the message that tells it could not be written.
const char *g_pszLogName = "";
// Set at the first failed write, commit or close: the log is incomplete from there on, the
// run's status becomes -1, and nothing more is written to it.
bool g_bLogFailed = false;
// Text not yet handed to the system: [g_nLogWritten, g_nLogUsed) of g_acLog. A signal handler
// may write that part at any moment, unless the tool is writing it itself (g_bLogWriting); the
// tool only appends beyond g_nLogUsed. No write ever waits with signals held.
char g_acLog[kDuzeLogBlock];
volatile sig_atomic_t g_nLogUsed = 0;
volatile sig_atomic_t g_nLogWritten = 0;
volatile sig_atomic_t g_bLogWriting = 0;
// Set when a signal handler's write failed: no handler tries again (a write past the file-size
// limit would only raise another SIGXFSZ); the tool's own write then fails and says so.
volatile sig_atomic_t g_bSignalWriteFailed = 0;

// Set while the log is closed, an interrupt's way out included.
bool g_bLogClosing = false;

// A pipe whose reader is slow is waited for, however long it pauses. A signal that comes
// meanwhile may be an interrupt: the library's next call ends the run then. While the log
// closes the run is ending already: its lines are still waited for, and a second interrupt
// ends the process at once.
bool WaitForRoom()
{
    if (HostWaitLogWritable(g_fdLog, -1))
        return true;
    if (errno != EINTR)
        return false;
    if (!g_bLogClosing) {
        uint64_t nTime = 0;
        KynDrvGetCurrentTime(&nTime);
    }
    return true;
}

// Writes all nLength bytes of text outside the buffer; false with errno set on failure.
bool WriteAll(const char *pText, size_t nLength)
{
    while (nLength > 0) {
        long n = HostWriteLog(g_fdLog, pText, nLength);
        if (n > 0) {
            pText += n;
            nLength -= (size_t)n;
        } else if (n < 0 && errno == EAGAIN) {
            if (!WaitForRoom())
                return false;
        } else if (n == 0 || errno != EINTR) {
            if (n == 0)
                errno = EIO;
            return false;
        }
    }
    return true;
}

// Who is told, once, that the log could not be written.
void (*g_pfnLogFailed)(const char *pszName, const char *pszReason) = nullptr;

void LogFailed()
{
    if (g_bLogFailed)
        return;
    int nErrno = errno;
    g_bLogFailed = true;
    g_nLogUsed = g_nLogWritten = 0;
    g_pfnLogFailed(g_pszLogName, nErrno == ENOENT ? "the file was removed" : strerror(nErrno));
}

// The buffer's text to the system.
void WriteBuffered()
{
    while (g_nLogWritten < g_nLogUsed) {
        g_bLogWriting = 1;
        sig_atomic_t nFrom = g_nLogWritten;
        long n = HostWriteLog(g_fdLog, g_acLog + nFrom, (size_t)(g_nLogUsed - nFrom));
        int nErrno = errno;
        if (n > 0)
            g_nLogWritten = nFrom + (sig_atomic_t)n;
        g_bLogWriting = 0;
        errno = nErrno;
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n < 0 && errno == EAGAIN && WaitForRoom())
            continue;
        if (n == 0)
            errno = EIO;
        LogFailed();
        return;
    }
    g_bLogWriting = 1;
    g_nLogUsed = g_nLogWritten = 0;
    g_bLogWriting = 0;
}

// From a signal handler: what the console may have shown goes to the system now, in case the
// process ends before the tool gets to do it; never waiting, and never while the tool writes.
void WritePendingOnSignal()
{
    if (g_fdLog < 0 || g_bLogFailed || g_bLogWriting || g_bSignalWriteFailed)
        return;
    int nErrno = errno;
    while (g_nLogWritten < g_nLogUsed) {
        long n = HostWriteLog(g_fdLog, g_acLog + g_nLogWritten, (size_t)(g_nLogUsed - g_nLogWritten));
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            g_bSignalWriteFailed = 1;
        if (n <= 0)
            break;
        g_nLogWritten = g_nLogWritten + (sig_atomic_t)n;
    }
    errno = nErrno;
}

// The log is open and has not failed: it takes text.
bool Writable()
{
    return g_fdLog >= 0 && !g_bLogFailed;
}

} // namespace

bool LogFileWritable()
{
    return Writable();
}

bool LogFileOpen(const char *pszName, const char **ppszWhy, void (*pfnFailed)(const char *pszName, const char *pszReason))
{
    g_fdLog = HostOpenLog(pszName, ppszWhy);
    if (g_fdLog < 0)
        return false;
    g_pszLogName = pszName;
    g_pfnLogFailed = pfnFailed;
    HostGuardLogOnSignals(WritePendingOnSignal);
    return true;
}

void LogFileWrite(const char *pText, size_t nLength)
{
    if (!Writable())
        return;
    if (nLength > sizeof g_acLog - (size_t)g_nLogUsed) {
        WriteBuffered();
        if (!Writable())
            return;
        // Still no room: a text longer than the buffer goes on its own.
        if (nLength > sizeof g_acLog - (size_t)g_nLogUsed) {
            if (g_nLogUsed == 0 && !WriteAll(pText, nLength))
                LogFailed();
            return;
        }
    }
    memcpy(g_acLog + g_nLogUsed, pText, nLength);
    // The text is in place before a signal handler can see it counted.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_nLogUsed = g_nLogUsed + (sig_atomic_t)nLength;
}

void LogFileFlush(bool bCommit)
{
    if (!Writable())
        return;
    if (g_nLogUsed > g_nLogWritten)
        WriteBuffered();
    if (bCommit && Writable() && !HostCommitLog(g_fdLog))
        LogFailed();
    // A file removed with its directory takes every write and keeps none of it.
    if (Writable() && HostLogRemoved(g_fdLog)) {
        errno = ENOENT;
        LogFailed();
    }
}

int LogFileClose(int nStatus)
{
    if (g_fdLog >= 0) {
        g_bLogClosing = true;
        LogFileFlush(false);
        int fdLog = g_fdLog;
        g_fdLog = -1;
        if (!HostCloseLog(fdLog))
            LogFailed();
    }
    return g_bLogFailed ? -1 : nStatus;
}
