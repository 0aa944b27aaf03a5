// memory_command.cpp - the M command: fill a range of board addresses with their own address, read it all
// back, count the mismatches. Its passes call the library directly, not through the access record: a
// failed read keeps the word before it as the value compared, as its transcripts show, and the
// per-word path stays the library call alone.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "command_table.h"
#include "screen.h"
#include "progress_line.h"
#include "error_report.h"
#include "number_entry.h"
#include "register_map.h"

namespace {

// Keeps the rare branches of the per-word path out of its straight line.
#if defined(__GNUC__)
#define DUZE_RARELY(bCondition) __builtin_expect(!!(bCondition), 0)
#else
#define DUZE_RARELY(bCondition) (bCondition)
#endif

// Words between two looks at the progress line: the per-word path stays the library call alone.
const uint64_t kProgressStride = 4096;

template <size_t N> inline char *PutText(char *p, const char (&acText)[N])
{
    memcpy(p, acText, N - 1);
    return p + N - 1;
}

// As printf's "%X".
inline char *PutHex(char *p, uint32_t nValue)
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

// One test, from its prompts to its count.
struct MemoryTestRun {
    KYN_HANDLE hBoard;
    uint32_t nStart;   // the address wraps in 32 bits
    uint64_t nWords;
    int32_t nErrors;
};

// A failing board gives one error line per word, millions of them: each is formatted once and
// shown as soon as its word is compared.
inline void ShowMismatch(MemoryTestRun &run, uint32_t nAddress, uint32_t nReadVal)
{
    char szLine[kMemoryErrorLineMax];
    size_t nLength = FormatMemoryError(szLine, nAddress, nReadVal);
    LogAndShowText(szLine, nLength);
    ++run.nErrors;
}

void WritePass(MemoryTestRun &run)
{
    // The sign test before the check keeps the per-word path to the library call alone.
    uint32_t nAddress = run.nStart;
    for (uint64_t nDone = 0; nDone < run.nWords;) {
        uint64_t nChunk = std::min(run.nWords - nDone, kProgressStride);
        for (uint64_t nLeft = nChunk; nLeft != 0; --nLeft, nAddress += 4) {
            KYN_RESULT nResult = KynDrvWriteReg32(run.hBoard, nAddress, nAddress);
            if (DUZE_RARELY(nResult < 0))
                CheckResult(run.hBoard, nResult);
        }
        nDone += nChunk;
        ProgressUpdate(0, nDone, 0);
    }
}

void ReadPass(MemoryTestRun &run)
{
    uint32_t nReadVal = 0; // a failed read leaves what the word before it read
    uint32_t nAddress = run.nStart;
    for (uint64_t nDone = 0; nDone < run.nWords;) {
        uint64_t nChunk = std::min(run.nWords - nDone, kProgressStride);
        for (uint64_t nLeft = nChunk; nLeft != 0; --nLeft, nAddress += 4) {
            KYN_RESULT nResult = KynDrvReadReg32(run.hBoard, nAddress, &nReadVal);
            if (DUZE_RARELY(nResult < 0))
                CheckResult(run.hBoard, nResult);
            if (DUZE_RARELY(nReadVal != nAddress))
                ShowMismatch(run, nAddress, nReadVal);
        }
        nDone += nChunk;
        ProgressUpdate(1, nDone, run.nErrors);
    }
}

// Set by the first test that counts an error, for the run's exit status.
bool g_bErrorsFound = false;

// Where the board's map has registers in the tested words: " (warning: ...)", else empty.
std::string MappedRegistersWarning(uint32_t nStart, uint64_t nWords)
{
    const RegisterMap *pMap = RunMap(false);
    if (pMap == nullptr || nWords == 0)
        return "";
    const uint64_t kTop = 1ull << 32;
    uint64_t nEnd = (uint64_t)nStart + nWords * 4; // past the last word; a range across the top wraps
    size_t nCount = 0;
    const MapRegister *pFirst = nullptr;
    typedef std::pair<uint64_t, uint64_t> Range;
    for (const Range &range : {Range(nStart, std::min(nEnd, kTop)), Range(0, nEnd > kTop ? nEnd - kTop : 0)}) {
        // The registers on the board, in the order of their board addresses.
        auto itEnd = pMap->aRegisters.begin() + (ptrdiff_t)pMap->nEndOnBoard;
        auto it = std::lower_bound(pMap->aRegisters.begin() + (ptrdiff_t)pMap->nFirstOnBoard, itEnd, range.first,
                                   [](const MapRegister &reg, uint64_t n) { return reg.nAddress < n; });
        for (; it != itEnd && it->nAddress < range.second; ++it, ++nCount)
            if (pFirst == nullptr)
                pFirst = &*it;
    }
    if (nCount == 0)
        return "";
    return " (warning: the range held " + std::to_string(nCount) + " register" + (nCount == 1 ? "" : "s") +
           " of the map, " + pFirst->strName + " first)";
}

} // namespace

bool MemoryTestFoundErrors()
{
    return g_bErrorsFound;
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

uint64_t MemoryTestWords(uint32_t nRange)
{
    return ((uint64_t)nRange + 3) / 4;
}

// All writes finish before the first read; the progress line shows at a terminal.
CommandOutcome TestMemory(const Command &command, CommandDefaults &remembered, const BoardHandles &devices)
{
    LogPrintF("%s", command.pszTitle);
    PromptValue("Which Start Address (0x%X): ", &remembered.nFirst);
    PromptValue("Which Range (in bytes) (0x%X): ", &remembered.nSecond);
    MemoryTestRun run = {devices.hBoard, remembered.nFirst, MemoryTestWords(remembered.nSecond), 0};
    ProgressBegin(run.nWords);
    WritePass(run);
    ReadPass(run);
    ProgressEnd();
    if (run.nErrors != 0)
        g_bErrorsFound = true;
    std::string strWarning = MappedRegistersWarning(run.nStart, run.nWords);
    if (strWarning.empty()) {
        LogPrintF(command.pszResult, (int)run.nErrors);
    } else {
        // Not refused: a bench engineer may mean it. Said once, on the line the test ends with.
        char szLine[128];
        snprintf(szLine, sizeof szLine, command.pszResult, (int)run.nErrors);
        szLine[strcspn(szLine, "\n")] = '\0';
        LogPrintF("%s%s\n", szLine, strWarning.c_str());
    }
    return kGoOn;
}
