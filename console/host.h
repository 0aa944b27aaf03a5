// host.h - the tool's few host calls: standard descriptors, terminal tests, a clock, the progress
// line's drawing, and the log file's open, write, commit and close.
#ifndef DUZE_HOST_H
#define DUZE_HOST_H

#include <stddef.h>
#include <stdint.h>

// Opens the null device on each of descriptors 0, 1 and 2 that is closed, so that no file
// the tool opens later takes one of them and gets the console's text. Where the null device
// cannot be opened, the run says so on what it has and ends with -1.
void HostOpenStandardDescriptors();

bool HostInputIsTerminal();
// Standard output is a terminal or console, which shows each text at once.
bool HostOutputIsTerminal();
// A clock in milliseconds for measuring spans; its start is arbitrary and it may wrap.
uint32_t HostMilliseconds();

// The progress line, drawn through the console without touching the text around it: on POSIX on
// the row below the cursor, which is saved and restored; on Windows over the cursor's row, whose
// text is read from the console and written back. Whether one can be drawn: standard output is
// a terminal or console the tool knows how to draw on.
bool HostProgressPossible();
// Draws pszText, cut to the terminal's width; *pbShown is false when no progress line is on the
// screen. It turns true before the line's text goes out: an interrupt may end the run inside that
// write, and the way out must still find a line to take away.
void HostProgressDraw(const char *pszText, bool *pbShown);
// Takes it off the screen, which then reads as before it was drawn.
void HostProgressErase();

// Opens the log for writing, emptied, and holds it for the run: a second run refused here
// cannot destroy it. On failure returns -1 with errno set, and *ppszWhy names the reason
// when the tool itself refused the file (in use, a pipe nobody reads, a link another user
// planted, the tool's own standard output), else null. A pipe's writes never wait.
int HostOpenLog(const char *pszName, const char **ppszWhy);
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
