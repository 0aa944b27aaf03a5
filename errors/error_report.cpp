// error_report.cpp - the check after every library call: the failed result decoded and reported, and
// the question whether to end the run, which quiet mode answers at once.
#include "error_report.h"

#include <stdio.h>

#include "screen.h"

namespace {

// The question takes a key's low 16 bits for its answer (the main loop, its low 8).
const uint32_t kAnswerKeyMask = 0xFFFFu;
// The buffer for a result's text from the library.
const uint32_t kResultTextSize = 256;
// Code numbers up to this one keep the failure bit in the reported code.
const uint32_t kLastCodeWithFailureBit = 29;
// Quiet mode (/Q): the first failed call ends the run without asking.
bool g_bQuiet = false;
// The no-device form names the library's text too.
bool g_bTextForEveryFailure = false;

// The library's text for a result, or the fixed one when it has none.
void ResultText(KYN_RESULT nResult, char (&szText)[kResultTextSize])
{
    if (KynDrvResultCode2String(0, nResult, sizeof szText, szText) < 0)
        snprintf(szText, sizeof szText, "%s", "Cannot translate this result code.");
    szText[sizeof szText - 1] = '\0';
}

} // namespace

void SetQuietErrors(bool bQuiet)
{
    g_bQuiet = bQuiet;
}

void SetTextForEveryFailure(bool bText)
{
    g_bTextForEveryFailure = bText;
}

uint32_t ReportedCode(KYN_RESULT nResult)
{
    uint32_t nCode = (uint32_t)nResult & 0xFFu;
    return nCode <= kLastCodeWithFailureBit ? (uint32_t)nResult & 0x800000FFu : nCode;
}

uint32_t UpperField(KYN_RESULT nResult)
{
    return ((uint32_t)nResult >> 23) & 0xFFu;
}

uint32_t MiddleField(KYN_RESULT nResult)
{
    return ((uint32_t)nResult >> 8) & 0x7FFFu;
}

void CheckResult(KYN_HANDLE hDevice, KYN_RESULT nResult)
{
    if (nResult >= 0)
        return;
    // Widened without sign extension, so the code never shows more than eight digits.
    unsigned long nReported = ReportedCode(nResult);
    int nUpper = (int)UpperField(nResult);
    int nMiddle = (int)MiddleField(nResult);
    char szText[kResultTextSize];
    if (hDevice == -1 && g_bTextForEveryFailure) {
        ResultText(nResult, szText);
        LogPrintFailureF("ERROR(%#lX [%d.%d]) %s \n", nReported, nUpper, nMiddle, szText);
    } else if (hDevice == -1) {
        LogPrintFailureF("ERROR(%#lX [%d.%d]) \n", nReported, nUpper, nMiddle);
    } else {
        uint32_t nKind = 0, nSize = 0, nFlags = 0;
        uint32_t nDeviceType = 999, nDeviceNumber = 999;
        if (KynDrvGetAttributeType(hDevice, KYN_ATTR_DEVICE_TYPE, &nKind, &nSize, &nFlags) >= 0)
            KynDrvGetAttributeValueUint32(hDevice, KYN_ATTR_DEVICE_TYPE, &nDeviceType);
        if (KynDrvGetAttributeType(hDevice, KYN_ATTR_DEVICE_NUMBER, &nKind, &nSize, &nFlags) >= 0)
            KynDrvGetAttributeValueUint32(hDevice, KYN_ATTR_DEVICE_NUMBER, &nDeviceNumber);
        ResultText(nResult, szText);
        LogPrintFailureF("ERROR(%#lX [%d.%d]) Dev(%X,%d,%d): %s \n", nReported, nUpper, nMiddle, (unsigned)hDevice,
                  (int)nDeviceType, (int)nDeviceNumber, szText);
    }
    AskExit();
}

std::string LibraryText(KYN_RESULT nResult)
{
    char szText[kResultTextSize];
    ResultText(nResult, szText);
    return szText;
}

bool CheckOrKeepResult(KYN_HANDLE hDevice, KYN_RESULT nResult, KYN_RESULT *pnFailed)
{
    if (nResult < 0 && pnFailed != nullptr) {
        *pnFailed = nResult;
        return false;
    }
    CheckResult(hDevice, nResult);
    return true;
}

void AskExit()
{
    if (g_bQuiet)
        EndRun(1, kReleaseThenConsole);
    LogPrintF("Do you want to exit (Y/N) ");
    int32_t nKey = ReadKey();
    // At the end of input nobody can answer: a failure must not end as a success later.
    uint32_t nLow = (uint32_t)nKey & kAnswerKeyMask;
    if (nKey == OSA_KEY_END_OF_INPUT || nLow == 'y' || nLow == 'Y')
        EndRun(1, kReleaseThenConsole);
}
