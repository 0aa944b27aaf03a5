// log_host.h - the log file's host calls (log_host_posix.cpp, log_host_win32.cpp): open, write, wait,
// commit, close, and the guard that writes its pending bytes when a signal comes.
#ifndef DUZE_LOG_HOST_H
#define DUZE_LOG_HOST_H

#include <stddef.h>

// Opens the log for writing, emptied, and holds it for the run: a second run refused here
// cannot destroy it. On failure returns -1 with errno set, and *ppszWhy names the reason
// when the tool itself refused the file (in use, a pipe nobody reads, a link another user
// planted, the tool's own standard output), else null. A pipe's writes never wait.
int HostOpenLog(const char *pszName, const char **ppszWhy);
// Whether the last refusal was of a file the run reads (a map, a settings file, a PCI tree's).
bool HostLogIsAnInput();
// One write of up to nLength bytes: how many went, or -1 with errno set (EAGAIN when a pipe
// is full). A pipe whose reader went away gives EPIPE, never SIGPIPE. Safe in a signal handler.
long HostWriteLog(int fdLog, const char *pText, size_t nLength);
// Waits until the log takes text, at most nMilliseconds (-1: as long as it takes); false with
// errno set: EINTR when a signal came, ETIMEDOUT when the time passed.
bool HostWaitLogWritable(int fdLog, int nMilliseconds);
// Has the system put the file's data on disk; false with errno set on failure.
bool HostCommitLog(int fdLog);
// false with errno set on failure.
bool HostCloseLog(int fdLog);
// The log's file no longer has a name (it or its directory was removed during the run).
bool HostLogRemoved(int fdLog);

// pfnWritePending runs first in every signal handler the library installed, so that what
// the console showed is in the log even when a signal ends the process at once.
void HostGuardLogOnSignals(void (*pfnWritePending)());

#endif
