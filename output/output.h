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

// To the console and, once it is open, to the log file.
void LogPrintF(const char *pszFormat, ...) DUZE_PRINTF(1, 2);
// Text already formatted, to the console and the log alike: the same bytes LogPrintF("%s")
// would write, for output in bulk.
void LogPutText(const char *pText, size_t nLength);
// To the console only.
void ScreenPrintF(const char *pszFormat, ...) DUZE_PRINTF(1, 2);

// Opens the log file or ends the run with status -1.
void OpenLogFile(const char *pszName);

// Key and line input for the whole tool. Before each read the log is flushed, and when
// the keyboard is a terminal also committed to disk: a wrong register write can hang the
// machine while the tool waits, and the log must already hold everything shown.
int32_t ReadKey();
void ReadLine(char *pszLine); // 64-byte buffer

// Returns only when the run goes on after a failed call; hDevice is -1 for calls that concern no device.
void CheckResult(KYN_HANDLE hDevice, KYN_RESULT nResult);
// The end-or-go-on question; returns only when the run goes on.
void AskExit();

// The code a failed result is reported with: bit 31 and the code number for code numbers
// up to 29, the code number alone from 30 on.
uint32_t ReportedCode(KYN_RESULT nResult);
uint32_t UpperField(KYN_RESULT nResult);
uint32_t MiddleField(KYN_RESULT nResult);

#endif
