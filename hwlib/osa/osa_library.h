// osa_library.h - the Osa console both hardware libraries share, as a library built on it sees it: the one
// call it must supply, and the console's services to it (interrupts, the call trace, settings, the clock).
#ifndef KYN_OSA_LIBRARY_H
#define KYN_OSA_LIBRARY_H

#include <signal.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "KynHwDll.h"

// Supplied by the library built on the console. OsaConsoleInit calls it first, so that a malformed
// setting stops the run before the tool has opened anything; it reads the library's settings and
// hands the console what they say (the trace file, keys to return first, an interrupt hook).
void KynLibStartConsole();

// Interrupts (Ctrl-C, SIGTERM, ...) are only noted by their handler; the next library call ends
// the run from ordinary code, so that exit handlers can close the log and restore the terminal.
extern volatile sig_atomic_t g_nOsaPendingSignal;
[[noreturn]] void OsaEndOnSignal();
inline void OsaCheckSignal()
{
    if (g_nOsaPendingSignal != 0)
        OsaEndOnSignal();
}
// pfnOnInterrupt runs inside the handler of the first interrupt, so it may only store to
// volatile variables: a library's fast path uses it to send the next call the checked way.
void OsaOnInterrupt(void (*pfnOnInterrupt)());

// 32-bit key codes the console returns first, before the command string and the keyboard.
void OsaInjectKeys(const std::vector<int32_t> &anKeys);

// What the interface leaves to the library, here set otherwise for tests of the tool's screen:
// by default lines of the command string end at LF, CR, CR LF or ';', and a line typed at the
// keyboard is echoed with its line end.
struct OsaConsoleRules {
    bool bLinesEndOnlyAtSemicolon = false;
    bool bEchoWithoutLineEnd = false;
};
void OsaSetConsoleRules(const OsaConsoleRules &rules);

// The library's own text (debug commands) goes to the console like everything else.
void OsaLibraryPrint(const char *pszFormat, ...);

// A message on standard error, then the run ends with status 2 through the exit handlers.
[[noreturn]] void OsaFatal(const std::string &strMessage);

// The host's clock: 100-ns intervals since 1601-01-01 00:00 UTC.
uint64_t OsaTime100ns();

// The call trace: one line per call, in the file a setting names. Opened at console start, so
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

// Settings: NAME=VALUE pairs, read into a library's settings record by a table with one row per
// setting. A malformed or unknown one is refused with "LIBRARY: bad setting NAME=VALUE: why".
typedef std::vector<std::pair<std::string, std::string>> OsaNameValues;
// The environment's variables whose names start with pszPrefix.
OsaNameValues OsaEnvironment(const char *pszPrefix);

// "LIBRARY: bad setting NAME=VALUE: why", with control bytes of name and value escaped.
std::string OsaBadSetting(const char *pszLibrary, const std::string &strName, const std::string &strValue,
                          const std::string &strWhy);

template <class Settings> struct OsaSettingRow {
    const char *pszName;
    // Fills its part of the record; false with strWhy set when the value is malformed.
    bool (*pfnParse)(const std::string &strValue, Settings &settings, std::string &strWhy);
    const char *pszMeaning;
};

template <class Settings, size_t N>
bool OsaParseSettings(const char *pszLibrary, const OsaSettingRow<Settings> (&aRows)[N], const OsaNameValues &aValues,
                      Settings &settings, std::string &strError)
{
    for (const auto &item : aValues) {
        std::string strWhy = "unknown setting";
        bool bOk = false;
        for (const OsaSettingRow<Settings> &row : aRows) {
            if (item.first == row.pszName) {
                bOk = row.pfnParse(item.second, settings, strWhy);
                break;
            }
        }
        if (!bOk) {
            strError = OsaBadSetting(pszLibrary, item.first, item.second, strWhy);
            return false;
        }
    }
    return true;
}

// Whole-text numbers: an optional '-' where allowed, then "0x" hexadecimal, a leading-0 octal or
// decimal, and nothing after.
bool OsaParseNumber(const std::string &strText, uint64_t nMax, bool bAllowNegative, int64_t &nValue);
bool OsaParseU32(const std::string &strText, uint32_t &nValue);
// A 32-bit result code or key code, written as a signed or unsigned number.
bool OsaParseResult(const std::string &strText, int32_t &nValue);
std::vector<std::string> OsaSplit(const std::string &strText, char cSeparator);

#endif
