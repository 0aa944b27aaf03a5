// output.h - console and log output, the log file, and the check after every library call.
#ifndef DUZE_OUTPUT_H
#define DUZE_OUTPUT_H

#include <stddef.h>
#include <stdint.h>

#include "KynHwDll.h"

#if defined(__GNUC__)
#define DUZE_PRINTF(nFormat, nArgs) __attribute__((format(printf, nFormat, nArgs)))
#else
#define DUZE_PRINTF(nFormat, nArgs)
#endif

// To the log file, once it is open, and then to the console: a line the console showed is
// in the log whatever ends the run.
void LogPrintF(const char *pszFormat, ...) DUZE_PRINTF(1, 2);
// One line already formatted, to log and console alike: the bytes LogPrintF("%s") would write.
void LogPutLine(const char *pszLine, size_t nLength);
// To the console only.
void ScreenPrintF(const char *pszFormat, ...) DUZE_PRINTF(1, 2);

// Opens the log file or ends the run with status -1.
void OpenLogFile(const char *pszName);

// Hands the command string to the library, which reads it before the keyboard.
void SetCommandString(const char *pszText);

// Key and line input for the whole tool. Before each read the log is flushed, and when
// the keyboard is a terminal also committed to disk: a wrong register write can hang the
// machine while the tool waits, and the log must already hold everything shown.
// A key, or OSA_KEY_END_OF_INPUT; a failed read ends the run with status 1.
int32_t ReadKey();
// A line into a 64-byte buffer. Input that ends or fails here ends the run with status 1:
// a command nobody finished typing does not run.
void ReadLine(char *pszLine);
// Whether the last line came from the keyboard, which echoes it with its line end, so that
// the console's next output starts a line; a line from the command string or a pipe is not echoed.
bool LastLineEchoed();

// How the run's end treats the library: the quit command and the exit question release it
// before the console ends, the connect failures after, the early errors not at all.
enum RunEnd { kKeepLibrary, kReleaseThenConsole, kConsoleThenRelease };
// Ends the run. The log is closed while the console can still tell that it could not be
// written; the status is then -1 whatever nStatus says.
[[noreturn]] void EndRun(int nStatus, RunEnd eEnd);
int FinishRun(int nStatus, RunEnd eEnd); // the same, returning the status instead of exiting

// Returns only when the run goes on after a failed call; hDevice is -1 for calls that concern no device.
void CheckResult(KYN_HANDLE hDevice, KYN_RESULT nResult);
// The end-or-go-on question; returns only when the run goes on. Its text stays on the
// console's line, as the answer is not echoed.
void AskExit();
extern const char kExitQuestion[];

// The code a failed result is reported with: bit 31 and the code number for code numbers
// up to 29, the code number alone from 30 on.
uint32_t ReportedCode(KYN_RESULT nResult);
uint32_t UpperField(KYN_RESULT nResult);
uint32_t MiddleField(KYN_RESULT nResult);

#endif
