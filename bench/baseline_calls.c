/* baseline_calls.c - the healthy-board memory test as a plain C program against the tool's library (the
   simulated one, or the PCI one over a fake BAR): one library call per word, as a program driving a
   real board must make. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "KynHwDll.h"

int main(int argc, char **argv)
{
    uint32_t nBytes = argc > 1 ? (uint32_t)strtoul(argv[1], NULL, 0) : (64u << 20);
    KYN_HANDLE hBoard = 0;
    uint32_t nAddress, nValue = 0;
    int32_t nErrors = 0;
    OsaConsoleInit();
    if (KynDrvConnectLib() < 0 || KynDrvGetDeviceHandle(0, 6, 0, &hBoard) < 0)
        return 1;
    for (nAddress = 0; nAddress < nBytes; nAddress += 4)
        if (KynDrvWriteReg32(hBoard, nAddress, nAddress) < 0)
            return 1;
    for (nAddress = 0; nAddress < nBytes; nAddress += 4) {
        if (KynDrvReadReg32(hBoard, nAddress, &nValue) < 0)
            return 1;
        nErrors += nValue != nAddress;
    }
    printf("Memory test finished. ErrorCount=%d\n", (int)nErrors);
    KynDrvReleaseLib();
    OsaConsoleExit();
    return 0;
}
