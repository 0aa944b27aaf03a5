// sim_config.cpp - reads the simulated library's KYNSIM_* settings; a malformed one stops the run.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "sim_internal.h"

namespace {

const char *const g_apszOpNames[] = {
    "ConnectLib",     "ReleaseLib",       "GetAttributeType", "GetAttributeValueSz", "GetAttributeValueBool",
    "GetAttributeValueUint32", "GetDeviceHandle", "ReadReg8",  "ReadReg16",           "ReadReg32",
    "WriteReg8",      "WriteReg16",       "WriteReg32",       "DbgDump",             "ResultCode2String",
    "GetCurrentTime",
};

static_assert(sizeof g_apszOpNames / sizeof g_apszOpNames[0] == SIM_OP_COUNT, "one name for each SimOp, in its order");

const char *const g_apszObjectNames[] = {"library", "driver", "board", "bridge"};
static_assert(sizeof g_apszObjectNames / sizeof g_apszObjectNames[0] == SIM_OBJ_COUNT,
              "one name for each SimObjectKind, in its order");

// Whole-text number: optional '-', then "0x" hex, leading-0 octal or decimal, nothing after.
bool ParseNumber(const std::string &strText, uint64_t nMax, bool bAllowNegative, int64_t &nValue)
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

// A 32-bit result code, written as a signed or unsigned number.
bool ParseResult(const std::string &strText, KYN_RESULT &nResult)
{
    int64_t nValue = 0;
    if (!ParseNumber(strText, 0xFFFFFFFFull, true, nValue))
        return false;
    nResult = (KYN_RESULT)(uint32_t)nValue;
    return true;
}

bool ParseU32(const std::string &strText, uint32_t &nResult)
{
    int64_t nValue = 0;
    if (!ParseNumber(strText, 0xFFFFFFFFull, false, nValue))
        return false;
    nResult = (uint32_t)nValue;
    return true;
}

std::vector<std::string> Split(const std::string &strText, char cSep)
{
    std::vector<std::string> aParts;
    size_t nStart = 0;
    for (;;) {
        size_t nPos = strText.find(cSep, nStart);
        aParts.push_back(strText.substr(nStart, nPos == std::string::npos ? std::string::npos : nPos - nStart));
        if (nPos == std::string::npos)
            return aParts;
        nStart = nPos + 1;
    }
}

bool FindOp(const std::string &strName, SimOp &eOp)
{
    std::string strShort = strName.compare(0, 6, "KynDrv") == 0 ? strName.substr(6) : strName;
    for (int i = 0; i < SIM_OP_COUNT; ++i) {
        if (strShort == g_apszOpNames[i]) {
            eOp = (SimOp)i;
            return true;
        }
    }
    return false;
}

// KYNSIM_FAIL: OP:RESULT[@MATCH|#CALL], comma-separated.
bool ParseFailRules(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    for (const std::string &strRule : Split(strValue, ',')) {
        SimFailRule rule = {SIM_OP_COUNT, 0, SIM_FAIL_ALWAYS, 0};
        size_t nColon = strRule.find(':');
        if (nColon == std::string::npos) {
            strWhy = "'" + strRule + "' is not OPERATION:RESULT[@MATCH|#CALL]";
            return false;
        }
        if (!FindOp(strRule.substr(0, nColon), rule.eOp)) {
            strWhy = "unknown operation '" + strRule.substr(0, nColon) + "'";
            return false;
        }
        std::string strRest = strRule.substr(nColon + 1);
        size_t nMark = strRest.find_first_of("@#");
        std::string strResult = strRest.substr(0, nMark);
        if (!ParseResult(strResult, rule.nResult) || rule.nResult >= 0) {
            strWhy = "'" + strResult + "' is not a negative 32-bit result code";
            return false;
        }
        if (nMark != std::string::npos) {
            rule.eWhen = strRest[nMark] == '@' ? SIM_FAIL_AT : SIM_FAIL_ON_CALL;
            std::string strMatch = strRest.substr(nMark + 1);
            if (!ParseU32(strMatch, rule.nMatch) || (rule.eWhen == SIM_FAIL_ON_CALL && rule.nMatch == 0)) {
                strWhy = "'" + strMatch + "' is not a " +
                         (rule.eWhen == SIM_FAIL_AT ? "32-bit number" : "call number from 1");
                return false;
            }
        }
        settings.aFailRules.push_back(rule);
        settings.abOpHasRule[rule.eOp] = true;
    }
    return true;
}

// KYNSIM_NO_ATTR: OBJECT:ID, comma-separated.
bool ParseAbsentAttrs(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    for (const std::string &strItem : Split(strValue, ',')) {
        size_t nColon = strItem.find(':');
        std::string strObject = strItem.substr(0, nColon);
        int nObject = -1;
        for (int i = 0; i < SIM_OBJ_COUNT; ++i)
            if (strObject == g_apszObjectNames[i])
                nObject = i;
        uint32_t nId = 0;
        if (nColon == std::string::npos || nObject < 0 || !ParseU32(strItem.substr(nColon + 1), nId)) {
            strWhy = "'" + strItem + "' is not OBJECT:ID with OBJECT library, driver, board or bridge";
            return false;
        }
        settings.anAbsentAttrs[nObject].push_back(nId);
    }
    return true;
}

bool ParseNoText(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    if (strValue == "all") {
        settings.bNoTextForAll = true;
        return true;
    }
    for (const std::string &strItem : Split(strValue, ',')) {
        KYN_RESULT nResult = 0;
        if (!ParseResult(strItem, nResult)) {
            strWhy = "'" + strItem + "' is not 'all' or a 32-bit result code";
            return false;
        }
        settings.anNoText.push_back(nResult);
    }
    return true;
}

// KYNSIM_MEMORY: ok, zero, stuck-high=MASK, stuck-low=MASK, comma-separated.
bool ParseMemory(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    for (const std::string &strItem : Split(strValue, ',')) {
        if (strItem == "ok")
            continue;
        if (strItem == "zero") {
            settings.bMemoryReadsZero = true;
            continue;
        }
        if (strItem == "address") {
            settings.bMemoryEchoesAddress = true;
            continue;
        }
        size_t nEq = strItem.find('=');
        std::string strKey = strItem.substr(0, nEq);
        uint32_t nMask = 0;
        if (nEq != std::string::npos && (strKey == "stuck-high" || strKey == "stuck-low") &&
            ParseU32(strItem.substr(nEq + 1), nMask)) {
            (strKey == "stuck-high" ? settings.nStuckHigh : settings.nStuckLow) |= nMask;
            continue;
        }
        strWhy = "'" + strItem + "' is not ok, zero, address, stuck-high=MASK or stuck-low=MASK";
        return false;
    }
    return true;
}

// KYNSIM_BOARDS: COUNT for every type, or TYPE:COUNT pairs with '*' for the rest.
bool ParseBoards(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    for (const std::string &strItem : Split(strValue, ',')) {
        size_t nColon = strItem.find(':');
        uint32_t nCount = 0;
        uint32_t nType = 0;
        bool bOk;
        if (nColon == std::string::npos) {
            bOk = ParseU32(strItem, nCount) && nCount <= 16;
            if (bOk)
                settings.nDefaultBoardCount = nCount;
        } else {
            std::string strType = strItem.substr(0, nColon);
            bOk = ParseU32(strItem.substr(nColon + 1), nCount) && nCount <= 16;
            if (bOk && strType == "*")
                settings.nDefaultBoardCount = nCount;
            else if (bOk && ParseU32(strType, nType))
                settings.aBoardCounts.push_back({nType, nCount});
            else
                bOk = false;
        }
        if (!bOk) {
            strWhy = "'" + strItem + "' is not COUNT or TYPE:COUNT with COUNT from 0 to 16";
            return false;
        }
    }
    return true;
}

} // namespace

const char *SimOpName(SimOp eOp)
{
    return eOp < SIM_OP_COUNT ? g_apszOpNames[eOp] : "?";
}

bool SimParseSettings(const std::vector<std::pair<std::string, std::string>> &aEnv, SimSettings &settings,
                      std::string &strError)
{
    for (const auto &item : aEnv) {
        const std::string &strName = item.first;
        const std::string &strValue = item.second;
        std::string strWhy;
        bool bOk = true;
        if (strName == "KYNSIM_CONNECT") {
            bOk = ParseResult(strValue, settings.nConnectResult);
            if (!bOk)
                strWhy = "'" + strValue + "' is not a 32-bit result code";
        } else if (strName == "KYNSIM_FAIL") {
            bOk = ParseFailRules(strValue, settings, strWhy);
        } else if (strName == "KYNSIM_NO_ATTR") {
            bOk = ParseAbsentAttrs(strValue, settings, strWhy);
        } else if (strName == "KYNSIM_NO_TEXT") {
            bOk = ParseNoText(strValue, settings, strWhy);
        } else if (strName == "KYNSIM_MEMORY") {
            bOk = ParseMemory(strValue, settings, strWhy);
        } else if (strName == "KYNSIM_TIME") {
            int64_t nValue = 0;
            bOk = ParseNumber(strValue, UINT64_MAX, false, nValue);
            if (bOk) {
                settings.bFixedTime = true;
                settings.nFixedTime = strtoull(strValue.c_str(), nullptr, 0);
            } else {
                strWhy = "'" + strValue + "' is not a 64-bit count of 100-ns intervals";
            }
        } else if (strName == "KYNSIM_BOARDS") {
            bOk = ParseBoards(strValue, settings, strWhy);
        } else if (strName == "KYNSIM_KEYS") {
            for (const std::string &strItem : Split(strValue, ',')) {
                KYN_RESULT nKey = 0; // any 32-bit code, -1 and -2 (end of input, read error) included
                if (!ParseResult(strItem, nKey)) {
                    bOk = false;
                    strWhy = "'" + strItem + "' is not a 32-bit key code";
                    break;
                }
                settings.anKeys.push_back(nKey);
            }
        } else if (strName == "KYNSIM_HANDLES") {
            uint32_t nFirst = 0;
            // Clear of -2, -1 and 0 (library, no device, driver) for all 1024 devices.
            bOk = ParseU32(strValue, nFirst) && nFirst >= 1 && nFirst <= 0x7FFFFFFFu - 1024;
            settings.hFirstDevice = (KYN_HANDLE)nFirst;
            if (!bOk)
                strWhy = "'" + strValue + "' is not a first handle from 1 to 0x7FFFFBFF";
        } else if (strName == "KYNSIM_TRACE") {
            bOk = !strValue.empty();
            settings.strTracePath = strValue;
            settings.bTrace = bOk;
            if (!bOk)
                strWhy = "no file name";
        } else {
            bOk = false;
            strWhy = "unknown setting";
        }
        if (!bOk) {
            strError = "kynsim: bad setting " + strName + "=" + strValue + ": " + strWhy;
            return false;
        }
    }
    return true;
}

const SimSettings *g_pSimSettings = nullptr;

const SimSettings &SimLoadSettings()
{
    if (g_pSimSettings == nullptr) {
        SimSettings *pSettings = new SimSettings(); // kept for the run
        std::string strError;
        if (!SimParseSettings(SimHostEnvironment(), *pSettings, strError))
            SimHostFatal(strError);
        g_pSimSettings = pSettings;
    }
    return *g_pSimSettings;
}
