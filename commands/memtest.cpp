// memtest.cpp - the M command: fill a range of board addresses with their own address, read back, count mismatches.
#include <string.h>

#include "commands.h"
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

// A failing board gives one error line per word, millions of them: each is formatted once
// and shown as soon as its word is compared.
static inline void PrintErrorLine(uint32_t nAddress, uint32_t nReadVal)
{
    char szLine[kMemoryErrorLineMax];
    LogPutLine(szLine, FormatMemoryError(szLine, nAddress, nReadVal));
}

void MemoryTest()
{
    LogPrintF("Memory Read/Write test.\n");
    PromptValue("Which Start Address (0x%X): ", &g_commandDefaults.nMemStart);
    PromptValue("Which Range (in bytes) (0x%X): ", &g_commandDefaults.nMemRange);
    const uint32_t nStart = g_commandDefaults.nMemStart;
    const KYN_HANDLE hBoard = g_hBoard;
    // Counted in 64 bits, so that a range above 0xFFFFFFFC ends after the last word whose
    // offset fits in 32 bits instead of starting again at 0. The address wraps in 32 bits.
    const uint64_t nWords = ((uint64_t)g_commandDefaults.nMemRange + 3) / 4;

    // The sign test before CheckResult keeps the per-word path to the library call alone.
    uint32_t nAddress = nStart;
    for (uint64_t nLeft = nWords; nLeft != 0; --nLeft, nAddress += 4) {
        KYN_RESULT nResult = KynDrvWriteReg32(hBoard, nAddress, nAddress);
        if (nResult < 0)
            CheckResult(hBoard, nResult);
    }

    int32_t nErrorCount = 0;
    uint32_t nReadVal = 0; // a failed read leaves what the word before it read
    nAddress = nStart;
    for (uint64_t nLeft = nWords; nLeft != 0; --nLeft, nAddress += 4) {
        KYN_RESULT nResult = KynDrvReadReg32(hBoard, nAddress, &nReadVal);
        if (nResult < 0)
            CheckResult(hBoard, nResult);
        if (nReadVal != nAddress) {
            PrintErrorLine(nAddress, nReadVal);
            ++nErrorCount;
        }
    }
    LogPrintF("Memory test finished. ErrorCount=%d\n", (int)nErrorCount);
}
