// osa_library.h - the Osa console both hardware libraries share, as a library built on it sees it: the one
// call it must supply, and the console's services to it (interrupts, keys, output, fatal errors, the
// clock). The call trace is in osa_trace.h, the settings' common parts in osa_settings.h.
#ifndef KYN_OSA_LIBRARY_H
#define KYN_OSA_LIBRARY_H

#include <signal.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "KynHwDll.h"

// Supplied by the library built on the console. OsaConsoleInit calls it first, so that a malformed
// setting stops the run before the tool has opened anything; it reads the library's settings and
// hands the console what they say (the trace file, keys to return first, an interrupt hook).
void KynLibStartConsole();

// Interrupts (Ctrl-C, SIGTERM, ...) are only noted by their handler; the next library call ends
// the run from ordinary code, so that exit handlers can close the log and restore the terminal.
extern volatile sig_atomic_t g_nOsaPendingSignal;
[[noreturn]] void OsaEndOnSignal();
inline void OsaCheckSignal()
{
    if (g_nOsaPendingSignal != 0)
        OsaEndOnSignal();
}
// pfnOnInterrupt runs inside the handler of the first interrupt, so it may only store to
// volatile variables: a library's fast path uses it to send the next call the checked way.
void OsaOnInterrupt(void (*pfnOnInterrupt)());

// pfnOnInput runs before every key or line read, that is between a run's commands: a library's
// fast path starts over there, so that the next command's first access is checked.
void OsaOnInput(void (*pfnOnInput)());

// 32-bit key codes the console returns first, before the command string and the keyboard.
void OsaInjectKeys(const std::vector<int32_t> &anKeys);

// What the interface leaves to the library, here set otherwise for tests of the tool's screen:
// by default lines of the command string end at LF, CR, CR LF or ';', and a line typed at the
// keyboard is echoed with its line end.
struct OsaConsoleRules {
    bool bLinesEndOnlyAtSemicolon = false;
    bool bEchoWithoutLineEnd = false;
};
void OsaSetConsoleRules(const OsaConsoleRules &rules);

// The library's own text (debug commands) goes to the console like everything else.
void OsaLibraryPrint(const char *pszFormat, ...);

// A message on standard error, then the run ends with status 2 through the exit handlers.
[[noreturn]] void OsaFatal(const std::string &strMessage);

// The host's clock: 100-ns intervals since 1601-01-01 00:00 UTC.
uint64_t OsaTime100ns();

#endif
