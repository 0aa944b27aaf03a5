// baseline_healthy.cpp - the healthy-board memory test as a plain loop: 32-bit words hold their own
// address, in the same memory the simulated board has (the library's window allocation).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "sim_internal.h"

int main(int argc, char **argv)
{
    size_t nBytes = argc > 1 ? strtoull(argv[1], nullptr, 0) : (64u << 20);
    size_t nWords = nBytes / 4;
    uint32_t *pWords = (uint32_t *)SimHostReserveWindow(64u << 20);
    if (pWords == nullptr || nBytes > (64u << 20))
        return 1;
    for (size_t i = 0; i < nWords; ++i)
        pWords[i] = (uint32_t)(i * 4);
    // The reads must happen: the compiler may not assume what memory holds after this.
    __asm__ __volatile__("" : : "r"(pWords) : "memory");
    long nErrors = 0;
    for (size_t i = 0; i < nWords; ++i)
        nErrors += pWords[i] != (uint32_t)(i * 4);
    printf("Memory test finished. ErrorCount=%ld\n", nErrors);
    return 0;
}
