// sim_host_win32.cpp - the simulated library's own host calls on Windows: the boards' memory windows,
// and what a board image's files are.
#include <windows.h>

#include "sim_internal.h"

uint8_t *SimHostReserveWindow(size_t nSize)
{
    // Committed pages read 0 and take memory only when first touched.
    return (uint8_t *)VirtualAlloc(nullptr, nSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void SimHostDiscardWindow(uint8_t *pWindow, size_t nSize)
{
    VirtualFree(pWindow, nSize, MEM_DECOMMIT);
    VirtualAlloc(pWindow, nSize, MEM_COMMIT, PAGE_READWRITE);
}

void SimHostHoldDirectory(const std::string &)
{
    // Windows' own sharing rules keep an image's open files from being emptied.
}

bool SimHostIsPlainFile(const std::string &strPath)
{
    DWORD nAttributes = GetFileAttributesA(strPath.c_str());
    return nAttributes != INVALID_FILE_ATTRIBUTES &&
           (nAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}
