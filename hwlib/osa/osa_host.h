// osa_host.h - the shared console's host layer, what the console asks of each host (osa_*_posix.cpp,
// osa_host_win32.cpp): terminal, keys, interrupts, standard input and output, sleep, clock, local time.
#ifndef KYN_OSA_HOST_H
#define KYN_OSA_HOST_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <string>

#include "duze_limits.h"

// The library's hook for the first interrupt (OsaOnInterrupt), or null; the host's handler calls it.
extern void (*volatile g_pfnOsaOnInterrupt)();

// Console start and end: key mode at a terminal, interrupts caught; settings put back at the end.
void OsaHostConsoleInit();
void OsaHostConsoleExit();
// Standard input is the keyboard, not a pipe or file.
bool OsaHostKeyboardInput();
// Standard input is a connection that can drop (a socket), where input that ends without its
// line end may be a line cut short rather than a script's last line.
bool OsaHostInputCanDrop();
// Waits until standard input has something to read, for input left non-blocking by whoever
// shares it; false with errno set when the wait failed (EINTR when a signal came).
bool OsaHostWaitInput();
// One key from the keyboard, no echo, or OSA_KEY_END_OF_INPUT or OSA_KEY_READ_ERROR. Keys that are
// no characters (arrows, function and editing keys) come as two codes, 0xE0 or 0 and the key's scan
// code, as the Windows console gives them, on every host.
int OsaHostReadKey();
// A count of 0 or less does not sleep.
void OsaHostSleep(int32_t nMilliseconds);
bool OsaHostLocalTime(int64_t nSeconds, struct tm *pTime);
// The environment block, NAME=VALUE strings.
char **OsaHostEnvironmentBlock();

// Standard output, where the console's text goes. One write of up to nLength bytes: how many
// went, or -1 with errno set. A write that waits is woken every kOsaStallMs with EINTR (or ends
// early with what went), so that its caller sees an interrupt that came meanwhile.
long OsaHostWriteOutput(const char *pText, size_t nLength);
bool OsaHostOutputIsTerminal();
// Waits until standard output takes text, at most nMilliseconds (-1: as long as it takes);
// false with errno set (ETIMEDOUT when the time passed).
bool OsaHostWaitOutputWritable(int nMilliseconds);

// A file a library writes (the call trace), opened and emptied as the tool opens its log: a link
// another user may have planted is not followed, and the tool's own output or error is refused.
// Null with strWhy saying why.
FILE *OsaHostCreateFile(const char *pszName, std::string &strWhy);
#endif
