// osa_settings.h - what the libraries' settings share (osa_settings.cpp): the environment, the table that
// reads a record, numbers and lists, and the text of a bad setting.
#ifndef KYN_OSA_SETTINGS_H
#define KYN_OSA_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

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
