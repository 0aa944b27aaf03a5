// osa_settings.cpp - what both libraries' settings tables share: the environment's settings, whole-text
// numbers and comma lists.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "osa_host.h"
#include "osa_library.h"
#include "osa_settings.h"
#include "printable.h"

std::string OsaBadSetting(const char *pszLibrary, const std::string &strName, const std::string &strValue,
                          const std::string &strWhy)
{
    return std::string(pszLibrary) + ": bad setting " + Printable(strName) + "=" + Printable(strValue) + ": " + strWhy;
}

OsaNameValues OsaEnvironment(const char *pszPrefix)
{
    OsaNameValues aValues;
    size_t nPrefix = strlen(pszPrefix);
    for (char **ppsz = OsaHostEnvironmentBlock(); ppsz != nullptr && *ppsz != nullptr; ++ppsz) {
        if (strncmp(*ppsz, pszPrefix, nPrefix) != 0)
            continue;
        const char *pszEq = strchr(*ppsz, '=');
        if (pszEq != nullptr)
            aValues.emplace_back(std::string(*ppsz, (size_t)(pszEq - *ppsz)), std::string(pszEq + 1));
    }
    return aValues;
}

bool OsaParseNumber(const std::string &strText, uint64_t nMax, bool bAllowNegative, int64_t &nValue)
{
    const char *psz = strText.c_str();
    bool bNegative = false;
    if (*psz == '-') {
        if (!bAllowNegative)
            return false;
        bNegative = true;
        ++psz;
    }
    if (*psz < '0' || *psz > '9')
        return false;
    char *pszEnd = nullptr;
    errno = 0;
    unsigned long long nRaw = strtoull(psz, &pszEnd, 0);
    if (errno != 0 || *pszEnd != '\0')
        return false;
    if (bNegative) {
        if (nRaw > 0x80000000ull)
            return false;
        nValue = -(int64_t)nRaw;
        return true;
    }
    if (nRaw > nMax)
        return false;
    nValue = (int64_t)nRaw;
    return true;
}

bool OsaParseU32(const std::string &strText, uint32_t &nValue)
{
    int64_t nParsed = 0;
    if (!OsaParseNumber(strText, 0xFFFFFFFFull, false, nParsed))
        return false;
    nValue = (uint32_t)nParsed;
    return true;
}

bool OsaParseResult(const std::string &strText, int32_t &nValue)
{
    int64_t nParsed = 0;
    if (!OsaParseNumber(strText, 0xFFFFFFFFull, true, nParsed))
        return false;
    nValue = (int32_t)(uint32_t)nParsed;
    return true;
}

std::vector<std::string> OsaSplit(const std::string &strText, char cSeparator)
{
    std::vector<std::string> aParts;
    size_t nStart = 0;
    for (;;) {
        size_t nPos = strText.find(cSeparator, nStart);
        aParts.push_back(strText.substr(nStart, nPos == std::string::npos ? std::string::npos : nPos - nStart));
        if (nPos == std::string::npos)
            return aParts;
        nStart = nPos + 1;
    }
}
