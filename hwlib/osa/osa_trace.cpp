// osa_trace.cpp - the call trace both libraries write where a setting names a file: one line per call.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "osa_host.h"
#include "osa_library.h"
#include "osa_trace.h"

bool g_bOsaTracing = false;

namespace {

// The trace file, from console start until the process ends.
FILE *g_pTrace = nullptr;

void CloseTrace()
{
    if (g_pTrace != nullptr)
        fclose(g_pTrace);
    g_pTrace = nullptr;
}

} // namespace

void OsaTraceOpen(const std::string &strPath, const char *pszLibrary, const char *pszSetting)
{
    if (g_pTrace != nullptr || strPath.empty())
        return;
    std::string strWhy = "cannot create the file";
    g_pTrace = OsaHostCreateFile(strPath.c_str(), strWhy);
    if (g_pTrace == nullptr)
        OsaFatal(std::string(pszLibrary) + ": bad setting " + pszSetting + "=" + strPath + ": " + strWhy);
    // Each record whole in the file at once: a run that an interrupt ends keeps every record.
    setvbuf(g_pTrace, nullptr, _IOLBF, 4096);
    atexit(CloseTrace);
    g_bOsaTracing = true;
}

void OsaTrace(const char *pszFormat, ...)
{
    if (g_pTrace == nullptr)
        return;
    va_list args;
    va_start(args, pszFormat);
    vfprintf(g_pTrace, pszFormat, args);
    va_end(args);
}
