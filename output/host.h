// host.h - the tool's few host calls: standard descriptors, terminal tests, and the log file's open, write, commit and close.
#ifndef DUZE_HOST_H
#define DUZE_HOST_H

#include <stddef.h>
#include <stdint.h>

// Opens the null device on each of descriptors 0, 1 and 2 that is closed, so that no file
// the tool opens later takes one of them and gets the console's text.
void HostOpenStandardDescriptors();

bool HostInputIsTerminal();
bool HostOutputIsTerminal();
// A clock in milliseconds for measuring spans; its start is arbitrary and it may wrap.
uint32_t HostMilliseconds();

// Opens the log for writing, emptied, and holds it for the run: a second run refused here
// cannot destroy it. On failure returns -1 with errno set, and *ppszWhy names the reason
// when the tool itself refused the file (in use, a pipe nobody reads), else null.
int HostOpenLog(const char *pszName, const char **ppszWhy);
// One write of up to nLength bytes: how many went, or -1 with errno set.
long HostWriteLog(int fdLog, const char *pText, size_t nLength);
// Has the system put the file's data on disk; false with errno set on failure.
bool HostCommitLog(int fdLog);
// false with errno set on failure.
bool HostCloseLog(int fdLog);

// While held, the signals that end the run wait: the log's buffer is written and emptied
// as one step, so the handler below never writes its bytes a second time.
void HostHoldSignals(bool bHold);
// pfnWritePending runs first in every signal handler the library installed, so that what
// the console showed is in the log even when a second signal ends the process at once.
void HostGuardLogOnSignals(void (*pfnWritePending)());

#endif
