// baseline_failing.cpp - the failing-board memory test's output as a plain program: each error line
// printed with two vfprintf calls, one to standard output and one to a log file.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static FILE *g_pLog;

static void PrintBoth(const char *pszFormat, ...)
{
    va_list args, argsForLog;
    va_start(args, pszFormat);
    va_copy(argsForLog, args);
    vfprintf(stdout, pszFormat, args);
    vfprintf(g_pLog, pszFormat, argsForLog);
    va_end(argsForLog);
    va_end(args);
}

int main(int argc, char **argv)
{
    uint32_t nBytes = argc > 1 ? (uint32_t)strtoul(argv[1], nullptr, 0) : (16u << 20);
    g_pLog = fopen(argc > 2 ? argv[2] : "baseline.log", "w");
    if (g_pLog == nullptr)
        return 1;
    // A board that reads back 0: every word but the one at address 0 is an error.
    int nErrors = 0;
    for (uint32_t nAddress = 4; nAddress < nBytes; nAddress += 4) {
        PrintBoth("Memory error at Address 0x%X   (nReadVal(0x%X) != nWriteVal(0x%X))\n", nAddress, 0u, nAddress);
        ++nErrors;
    }
    PrintBoth("Memory test finished. ErrorCount=%d\n", nErrors);
    fclose(g_pLog);
    return 0;
}
