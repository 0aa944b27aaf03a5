// map_file_win32.cpp - a register map's file read on Windows, never larger than a map can be.
#include "register_map.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

bool ReadMapFile(const std::string &strFile, std::string &strText, std::string &strWhy)
{
    FILE *pFile = fopen(strFile.c_str(), "rb");
    if (pFile == nullptr) {
        strWhy = strerror(errno);
        return false;
    }
    strText.clear();
    char acChunk[65536];
    size_t nRead;
    while ((nRead = fread(acChunk, 1, sizeof acChunk, pFile)) > 0 && strText.size() <= (size_t)kMapFileMax)
        strText.append(acChunk, nRead);
    bool bFailed = ferror(pFile) != 0;
    fclose(pFile);
    if (bFailed || strText.size() > (size_t)kMapFileMax) {
        strWhy = bFailed ? "it cannot be read" : "larger than a register map may be (64 MiB)";
        return false;
    }
    return true;
}

// Windows keeps no list of a process's open files that the log could be compared with.
void HoldMapFile(const std::string &)
{
}
