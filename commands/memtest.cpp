// memtest.cpp - the M command: fill a range of board addresses with their own address, read back, count mismatches.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "commands.h"
#include "host.h"
#include "options.h"
#include "output.h"

template <size_t N> static inline char *PutText(char *p, const char (&acText)[N])
{
    memcpy(p, acText, N - 1);
    return p + N - 1;
}

// As printf's "%X".
static inline char *PutHex(char *p, uint32_t nValue)
{
    char acDigits[8];
    int nDigits = 0;
    do {
        acDigits[nDigits++] = "0123456789ABCDEF"[nValue & 0xF];
        nValue >>= 4;
    } while (nValue != 0);
    while (nDigits > 0)
        *p++ = acDigits[--nDigits];
    return p;
}

size_t FormatMemoryError(char *pszLine, uint32_t nAddress, uint32_t nReadVal)
{
    char *p = PutText(pszLine, "Memory error at Address 0x");
    p = PutHex(p, nAddress);
    p = PutText(p, "   (nReadVal(0x");
    p = PutHex(p, nReadVal);
    p = PutText(p, ") != nWriteVal(0x");
    p = PutHex(p, nAddress);
    p = PutText(p, "))\n");
    *p = '\0';
    return (size_t)(p - pszLine);
}

// The progress line, at a terminal only: shown once a test has run for a second, redrawn
// four times a second over the console's current line, and erased before any other output
// by writing that line's own text back, so the screen then reads as if it never was.
static int g_nOutputIsTerminal = -1;
static bool g_bProgress = false;
static char g_szConsoleLine[160];   // what the console's current line holds besides the progress
static int g_nProgressWidth = 0;    // columns the progress line covers; 0 while none is shown
static uint32_t g_nProgressStart = 0, g_nProgressNext = 0;
static uint64_t g_nProgressWords = 0; // per pass
// Keeps the rare branches of the per-word path out of its straight line.
#if defined(__GNUC__)
#define DUZE_RARELY(bCondition) __builtin_expect(!!(bCondition), 0)
#else
#define DUZE_RARELY(bCondition) (bCondition)
#endif

// Words between two looks at the clock: the per-word path stays the library call alone.
static const uint64_t kProgressStride = 4096;

int FormatProgress(char *pszText, size_t nSize, int nPass, uint64_t nDone, uint64_t nWords, int32_t nErrors,
                   uint32_t nElapsedMs)
{
    uint64_t nAllDone = (uint64_t)nPass * nWords + nDone, nAll = 2 * nWords;
    uint64_t nPerSecond = nElapsedMs > 0 ? nAllDone * 1000 / nElapsedMs : 0;
    uint64_t nLeft = nPerSecond > 0 ? (nAll - nAllDone + nPerSecond - 1) / nPerSecond : 0;
    return snprintf(pszText, nSize, "%s: %u%% done, %llu words/s, %d errors, %u:%02u:%02u left",
                    nPass == 0 ? "Writing" : "Reading back", (unsigned)(nWords > 0 ? nDone * 100 / nWords : 100),
                    (unsigned long long)nPerSecond, (int)nErrors, (unsigned)(nLeft / 3600), (unsigned)(nLeft / 60 % 60),
                    (unsigned)(nLeft % 60));
}

static void ProgressStart(const char *pszConsoleLine, uint64_t nWords)
{
    if (g_nOutputIsTerminal < 0)
        g_nOutputIsTerminal = HostOutputIsTerminal() ? 1 : 0;
    g_bProgress = g_nOutputIsTerminal == 1 && strlen(pszConsoleLine) < sizeof g_szConsoleLine;
    if (g_bProgress)
        strcpy(g_szConsoleLine, pszConsoleLine);
    g_nProgressWidth = 0;
    g_nProgressWords = nWords;
    g_nProgressStart = HostMilliseconds();
    g_nProgressNext = g_nProgressStart + 1000;
}

static void ProgressUpdate(int nPass, uint64_t nDone, int32_t nErrors)
{
    if (!g_bProgress)
        return;
    uint32_t nNow = HostMilliseconds();
    if ((int32_t)(nNow - g_nProgressNext) < 0)
        return;
    g_nProgressNext = nNow + 250;
    char szText[128];
    int nLength = FormatProgress(szText, sizeof szText, nPass, nDone, g_nProgressWords, nErrors,
                                 nNow - g_nProgressStart);
    // Wide enough to cover the line's own text and the progress drawn before.
    int nWidth = std::max({nLength, g_nProgressWidth, (int)strlen(g_szConsoleLine)});
    ScreenPrintF("\r%-*s", nWidth, szText);
    g_nProgressWidth = nWidth;
}

static void ProgressErase()
{
    if (g_nProgressWidth == 0)
        return;
    ScreenPrintF("\r%-*s\r%s", g_nProgressWidth, g_szConsoleLine, g_szConsoleLine);
    g_nProgressWidth = 0;
}

// After other output, the console's line holds its last line's unfinished text.
static void ProgressLineIs(const char *pszText)
{
    if (g_bProgress)
        snprintf(g_szConsoleLine, sizeof g_szConsoleLine, "%s", pszText);
}

// A failing board gives one error line per word, millions of them: each is formatted once
// and shown as soon as its word is compared.
static inline void PrintErrorLine(uint32_t nAddress, uint32_t nReadVal)
{
    char szLine[kMemoryErrorLineMax];
    size_t nLength = FormatMemoryError(szLine, nAddress, nReadVal);
    ProgressErase();
    LogPutLine(szLine, nLength);
    ProgressLineIs("");
}

static void CheckWordResult(KYN_HANDLE hBoard, KYN_RESULT nResult)
{
    ProgressErase();
    CheckResult(hBoard, nResult);
    ProgressLineIs(kExitQuestion);
}

// Asks for one of the test's values and adds to pszLine what the console's line then holds:
// the prompt, unless the answer was typed and echoed with its line end.
static void PromptNoting(const char *pszPrompt, uint32_t *pnValue, char *pszLine, size_t nSize)
{
    char szShown[64];
    snprintf(szShown, sizeof szShown, pszPrompt, (unsigned)*pnValue);
    PromptValue(pszPrompt, pnValue);
    if (LastLineEchoed())
        pszLine[0] = '\0';
    else
        strncat(pszLine, szShown, nSize - strlen(pszLine) - 1);
}

uint64_t MemoryTestWords(uint32_t nRange)
{
    return ((uint64_t)nRange + 3) / 4;
}

void MemoryTest(Command &command)
{
    LogPrintF("%s", command.pszTitle);
    char szLine[160] = "";
    PromptNoting("Which Start Address (0x%X): ", &command.defaults.nFirst, szLine, sizeof szLine);
    PromptNoting("Which Range (in bytes) (0x%X): ", &command.defaults.nSecond, szLine, sizeof szLine);
    // The address wraps in 32 bits.
    const uint32_t nStart = command.defaults.nFirst;
    const KYN_HANDLE hBoard = g_hBoard;
    const uint64_t nWords = MemoryTestWords(command.defaults.nSecond);
    ProgressStart(szLine, nWords);

    // The sign test before the check keeps the per-word path to the library call alone.
    uint32_t nAddress = nStart;
    for (uint64_t nDone = 0; nDone < nWords;) {
        uint64_t nChunk = std::min(nWords - nDone, kProgressStride);
        for (uint64_t nLeft = nChunk; nLeft != 0; --nLeft, nAddress += 4) {
            KYN_RESULT nResult = KynDrvWriteReg32(hBoard, nAddress, nAddress);
            if (DUZE_RARELY(nResult < 0))
                CheckWordResult(hBoard, nResult);
        }
        nDone += nChunk;
        ProgressUpdate(0, nDone, 0);
    }

    int32_t nErrorCount = 0;
    uint32_t nReadVal = 0; // a failed read leaves what the word before it read
    nAddress = nStart;
    for (uint64_t nDone = 0; nDone < nWords;) {
        uint64_t nChunk = std::min(nWords - nDone, kProgressStride);
        for (uint64_t nLeft = nChunk; nLeft != 0; --nLeft, nAddress += 4) {
            KYN_RESULT nResult = KynDrvReadReg32(hBoard, nAddress, &nReadVal);
            if (DUZE_RARELY(nResult < 0))
                CheckWordResult(hBoard, nResult);
            if (DUZE_RARELY(nReadVal != nAddress)) {
                PrintErrorLine(nAddress, nReadVal);
                ++nErrorCount;
            }
        }
        nDone += nChunk;
        ProgressUpdate(1, nDone, nErrorCount);
    }
    ProgressErase();
    LogPrintF(command.pszResult, (int)nErrorCount);
}
