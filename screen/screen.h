// screen.h - the tool's screen and log, over the library's Osa console: everything the tool shows, and the keys and lines it reads: each message is formatted
// once and goes to the log, then to the screen; the log's opening, the command string, the run's end.
#ifndef DUZE_SCREEN_H
#define DUZE_SCREEN_H

#include <stddef.h>
#include <stdint.h>

#include "KynHwDll.h"
#include "duze_limits.h"

#if defined(__GNUC__)
#define DUZE_PRINTF(nFormat, nArgs) __attribute__((format(printf, nFormat, nArgs)))
#else
#define DUZE_PRINTF(nFormat, nArgs)
#endif

// To the log file, once it is open, and then to the screen: a line the screen showed is in the
// log whatever ends the run.
void LogPrintF(const char *pszFormat, ...) DUZE_PRINTF(1, 2);
// Text already formatted, to log and screen alike: the bytes LogPrintF("%s") would write.
void LogAndShowText(const char *pText, size_t nLength);
// Lets an interrupt that came meanwhile end the run now (through the console, which acts on it at
// every call): for long work that calls no library, such as reading a large register map.
void LetInterruptsAct();
// To the screen only (the sleep command's lines).
void ScreenPrintF(const char *pszFormat, ...) DUZE_PRINTF(1, 2);
// A line of the tool's own about the run ("Error: ..."), to log and screen, on a line of its own:
// after text that left its line open, a line end comes first.
void LogErrorLine(const char *pszFormat, ...) DUZE_PRINTF(1, 2);

// A one-shot run (--read, --list, ...): from here on the screen shows only result lines, failures go
// to standard error, and the log, when one is open, still gets everything.
void SetOneShotScreen();
// A one-shot run's result, to standard output alone.
void ShowResultLine(const char *pszFormat, ...) DUZE_PRINTF(1, 2);
// A failure of a library call or of the run (the "ERROR(" lines, "No Plx device ..."): as LogPrintF,
// and in a one-shot run on standard error instead of the screen.
void LogPrintFailureF(const char *pszFormat, ...) DUZE_PRINTF(1, 2);

// Opens the log file, emptied and held for the run, or ends the run with status -1.
void OpenLogOrEnd(const char *pszName);

// Hands the command string to the library, which reads it before the keyboard.
void SetCommandString(const char *pszText);

// Key and line input for the whole tool. Before each read the log goes to the system, and when
// the keyboard is a terminal also to disk: a wrong register write can hang the machine while the
// tool waits, and the log must already hold everything shown.
// A key, or OSA_KEY_END_OF_INPUT; a failed read ends the run with status 1. At a terminal a key
// that is no character (two codes, 0 or 0xE0 first) is one key.
int32_t ReadKey();
// A line into a kLineSize-byte buffer, the size the library's line reads fill. Input that ends or
// fails here ends the run with status 1: a command nobody finished typing does not run.
const size_t kLineSize = kDuzeLineSize;
void ReadLine(char *pszLine);

// How the run's end treats the library: the quit command and the exit question release it
// before the console ends, the connect failures after, the early errors not at all.
enum RunEnd { kKeepLibrary, kReleaseThenConsole, kConsoleThenRelease };
// Ends the run. What the screen holds back and the log are written while the log can still say
// that the screen failed; the status is -1 when either could not be written, whatever nStatus says.
[[noreturn]] void EndRun(int nStatus, RunEnd eEnd);
int FinishRun(int nStatus, RunEnd eEnd); // the same, returning the status instead of exiting

#endif
