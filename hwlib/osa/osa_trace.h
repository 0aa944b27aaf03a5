// osa_trace.h - the call trace both libraries write (osa_trace.cpp): one line per call, in the file a
// setting names.
#ifndef KYN_OSA_TRACE_H
#define KYN_OSA_TRACE_H

#include <string>

// Opened at console start, so
// that a file that cannot be made stops the run before the tool has opened anything.
// A file that cannot be made is a bad setting: "LIBRARY: bad setting SETTING=PATH: cannot create the file".
void OsaTraceOpen(const std::string &strPath, const char *pszLibrary, const char *pszSetting);
void OsaTrace(const char *pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
extern bool g_bOsaTracing;
inline bool OsaTracing()
{
    return g_bOsaTracing;
}

#endif
