// error_report.h - the check after every library call: a failed result reported in one of its two
// fixed forms, then the end-or-go-on question.
#ifndef DUZE_ERROR_REPORT_H
#define DUZE_ERROR_REPORT_H

#include <stdint.h>

#include <string>

#include "KynHwDll.h"

// Set once, from the command line: with it the first failed call ends the run without asking.
void SetQuietErrors(bool bQuiet);
// Set once, by a program whose library's failures of calls that concern no device (the board's
// open, the connect) carry the reason: the error line then shows the library's text too.
void SetTextForEveryFailure(bool bText);
// Returns only when the run goes on after a failed call; hDevice is -1 for calls that concern no device.
void CheckResult(KYN_HANDLE hDevice, KYN_RESULT nResult);
// A failed result reported as CheckResult does, or, with pnFailed, kept there for a caller that shows
// it first (a record of --json) and then reports it: false then. True for a success, and for a
// failure reported after which the run goes on.
bool CheckOrKeepResult(KYN_HANDLE hDevice, KYN_RESULT nResult, KYN_RESULT *pnFailed);
// The library's text for a result, or the fixed one where it has none, as the error line shows it.
std::string LibraryText(KYN_RESULT nResult);
// The end-or-go-on question; returns only when the run goes on. Nothing is printed after the
// answer: its text stays on the screen's line.
void AskExit();

// The code a failed result is reported with: bit 31 and the code number for code numbers up to
// 29, the code number alone from 30 on; and the result's two fields.
uint32_t ReportedCode(KYN_RESULT nResult);
uint32_t UpperField(KYN_RESULT nResult);
uint32_t MiddleField(KYN_RESULT nResult);

#endif
