// map_file_win32.cpp - a register map's file read on Windows, never larger than a map can be.
#include "register_map.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

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

std::string ShippedMapFile(const std::string &strName)
{
    // A file of that name wins: a name alone is a map the .zip carries in maps\ beside the program.
    if (strName.empty() || strName.find_first_of("/\\:") != std::string::npos)
        return strName;
    if (FILE *pFile = fopen(strName.c_str(), "rb")) {
        fclose(pFile);
        return strName;
    }
    char szExe[MAX_PATH];
    DWORD nLength = GetModuleFileNameA(nullptr, szExe, sizeof szExe);
    std::string strDir = nLength > 0 && nLength < sizeof szExe ? std::string(szExe, nLength) : std::string();
    strDir = strDir.substr(0, strDir.find_last_of("\\/") + 1);
    for (const std::string &strPlace : {strDir + "maps\\", strDir + "..\\maps\\"}) {
        std::string strFile = strPlace + strName + ".svd";
        if (FILE *pFile = strDir.empty() ? nullptr : fopen(strFile.c_str(), "rb")) {
            fclose(pFile);
            return strFile;
        }
    }
    return strName;
}
