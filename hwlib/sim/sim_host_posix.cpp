// sim_host_posix.cpp - the simulated library's own host calls on POSIX: the boards' memory windows,
// and what a board image's files are.
#include <fcntl.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "sim_internal.h"

uint8_t *SimHostReserveWindow(size_t nSize)
{
    // Aligned to 2 MiB and marked for huge pages: a memory test touching the whole window
    // then costs a few dozen page faults rather than tens of thousands.
    const size_t nAlign = 2u << 20;
    void *pMapped = mmap(nullptr, nSize + nAlign, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                         -1, 0);
    if (pMapped == MAP_FAILED)
        return nullptr;
    uintptr_t nStart = ((uintptr_t)pMapped + nAlign - 1) & ~(uintptr_t)(nAlign - 1);
    size_t nHead = nStart - (uintptr_t)pMapped;
    if (nHead > 0)
        munmap(pMapped, nHead);
    if (nAlign - nHead > 0)
        munmap((uint8_t *)nStart + nSize, nAlign - nHead);
#ifdef MADV_HUGEPAGE
    madvise((void *)nStart, nSize, MADV_HUGEPAGE);
#endif
    return (uint8_t *)nStart;
}

void SimHostDiscardWindow(uint8_t *pWindow, size_t nSize)
{
    madvise(pWindow, nSize, MADV_DONTNEED);
}

void SimHostHoldDirectory(const std::string &strPath)
{
    // Never closed: held for the run.
    open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool SimHostIsPlainFile(const std::string &strPath)
{
    struct stat st;
    return lstat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
