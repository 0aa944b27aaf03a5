// memtest.cpp - the M command: fill a range of board addresses with their own address, read back, count mismatches.
#include "commands.h"
#include "options.h"
#include "output.h"

void MemoryTest()
{
    LogPrintF("Memory Read/Write test.\n");
    PromptValue("Which Start Address (0x%X): ", &g_commandDefaults.nMemStart);
    PromptValue("Which Range (in bytes) (0x%X): ", &g_commandDefaults.nMemRange);
    const uint32_t nStart = g_commandDefaults.nMemStart;
    const uint64_t nRange = g_commandDefaults.nMemRange;
    const KYN_HANDLE hBoard = g_hBoard;

    // The offset is counted in 64 bits so that a range above 0xFFFFFFFC ends after the
    // last word whose offset fits in 32 bits instead of starting again at 0.
    // The sign test before CheckResult keeps the per-word path to the library call alone.
    for (uint64_t nOffset = 0; nOffset < nRange; nOffset += 4) {
        uint32_t nAddress = nStart + (uint32_t)nOffset;
        KYN_RESULT nResult = KynDrvWriteReg32(hBoard, nAddress, nAddress);
        if (nResult < 0)
            CheckResult(hBoard, nResult);
    }

    int32_t nErrorCount = 0;
    uint32_t nReadVal = 0; // a failed read leaves what the word before it read
    for (uint64_t nOffset = 0; nOffset < nRange; nOffset += 4) {
        uint32_t nAddress = nStart + (uint32_t)nOffset;
        KYN_RESULT nResult = KynDrvReadReg32(hBoard, nAddress, &nReadVal);
        if (nResult < 0)
            CheckResult(hBoard, nResult);
        if (nReadVal != nAddress) {
            LogPrintF("Memory error at Address 0x%X   (nReadVal(0x%X) != nWriteVal(0x%X))\n", (unsigned)nAddress,
                      (unsigned)nReadVal, (unsigned)nAddress);
            ++nErrorCount;
        }
    }
    LogPrintF("Memory test finished. ErrorCount=%d\n", (int)nErrorCount);
}
