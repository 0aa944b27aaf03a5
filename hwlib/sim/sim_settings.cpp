// sim_settings.cpp - reads the simulated library's KYNSIM_* settings; a malformed one stops the run.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "board_image_format.h"
#include "sim_internal.h"

namespace {

const char *const g_apszObjectNames[] = {"library", "driver", "board", "bridge"};
static_assert(sizeof g_apszObjectNames / sizeof g_apszObjectNames[0] == SIM_OBJ_COUNT,
              "one name for each SimObjectKind, in its order");

// KYNSIM_FAIL: OP:RESULT[@MATCH|#CALL], comma-separated.
bool ParseFailRules(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    for (const std::string &strRule : OsaSplit(strValue, ',')) {
        SimFailRule rule = {KYN_OP_COUNT, 0, SIM_FAIL_ALWAYS, 0};
        size_t nColon = strRule.find(':');
        if (nColon == std::string::npos) {
            strWhy = "'" + strRule + "' is not OPERATION:RESULT[@MATCH|#CALL]";
            return false;
        }
        if ((rule.eOp = KynFindOp(strRule.substr(0, nColon))) == KYN_OP_COUNT) {
            strWhy = "unknown operation '" + strRule.substr(0, nColon) + "'";
            return false;
        }
        std::string strRest = strRule.substr(nColon + 1);
        size_t nMark = strRest.find_first_of("@#");
        std::string strResult = strRest.substr(0, nMark);
        if (!OsaParseResult(strResult, rule.nResult) || rule.nResult >= 0) {
            strWhy = "'" + strResult + "' is not a negative 32-bit result code";
            return false;
        }
        if (nMark != std::string::npos) {
            rule.eWhen = strRest[nMark] == '@' ? SIM_FAIL_AT : SIM_FAIL_ON_CALL;
            std::string strMatch = strRest.substr(nMark + 1);
            if (!OsaParseU32(strMatch, rule.nMatch) || (rule.eWhen == SIM_FAIL_ON_CALL && rule.nMatch == 0)) {
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
    for (const std::string &strItem : OsaSplit(strValue, ',')) {
        size_t nColon = strItem.find(':');
        std::string strObject = strItem.substr(0, nColon);
        int nObject = -1;
        for (int i = 0; i < SIM_OBJ_COUNT; ++i)
            if (strObject == g_apszObjectNames[i])
                nObject = i;
        uint32_t nId = 0;
        if (nColon == std::string::npos || nObject < 0 || !OsaParseU32(strItem.substr(nColon + 1), nId)) {
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
    for (const std::string &strItem : OsaSplit(strValue, ',')) {
        KYN_RESULT nResult = 0;
        if (!OsaParseResult(strItem, nResult)) {
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
    for (const std::string &strItem : OsaSplit(strValue, ',')) {
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
            OsaParseU32(strItem.substr(nEq + 1), nMask)) {
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
    for (const std::string &strItem : OsaSplit(strValue, ',')) {
        size_t nColon = strItem.find(':');
        uint32_t nCount = 0;
        uint32_t nType = 0;
        bool bOk;
        if (nColon == std::string::npos) {
            bOk = OsaParseU32(strItem, nCount) && nCount <= kSimMaxBoards;
            if (bOk)
                settings.nDefaultBoardCount = nCount;
        } else {
            std::string strType = strItem.substr(0, nColon);
            bOk = OsaParseU32(strItem.substr(nColon + 1), nCount) && nCount <= kSimMaxBoards;
            if (bOk && strType == "*")
                settings.nDefaultBoardCount = nCount;
            else if (bOk && OsaParseU32(strType, nType))
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

bool ParseConnect(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    if (OsaParseResult(strValue, settings.nConnectResult))
        return true;
    strWhy = "'" + strValue + "' is not a 32-bit result code";
    return false;
}

bool ParseTime(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    int64_t nValue = 0;
    if (!OsaParseNumber(strValue, UINT64_MAX, false, nValue)) {
        strWhy = "'" + strValue + "' is not a 64-bit count of 100-ns intervals";
        return false;
    }
    settings.bFixedTime = true;
    settings.nFixedTime = strtoull(strValue.c_str(), nullptr, 0);
    return true;
}

// Any 32-bit code, -1 and -2 (end of input, read error) included.
bool ParseKeys(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    for (const std::string &strItem : OsaSplit(strValue, ',')) {
        KYN_RESULT nKey = 0;
        if (!OsaParseResult(strItem, nKey)) {
            strWhy = "'" + strItem + "' is not a 32-bit key code";
            return false;
        }
        settings.anKeys.push_back(nKey);
    }
    return true;
}

// Clear of -2, -1 and 0 (library, no device, driver) for every device there can be.
bool ParseHandles(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    uint32_t nFirst = 0;
    if (OsaParseU32(strValue, nFirst) && nFirst >= 1 && nFirst <= 0x7FFFFFFFu - kSimMaxDevices) {
        settings.hFirstDevice = (KYN_HANDLE)nFirst;
        return true;
    }
    strWhy = "'" + strValue + "' is not a first handle from 1 to 0x7FFFFBFF";
    return false;
}

bool ParseTrace(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    settings.strTracePath = strValue;
    settings.bTrace = !strValue.empty();
    if (!settings.bTrace)
        strWhy = "no file name";
    return settings.bTrace;
}

// KYNSIM_CONSOLE: what the interface leaves to the library, set otherwise, comma-separated.
bool ParseConsoleRules(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    for (const std::string &strItem : OsaSplit(strValue, ',')) {
        if (strItem == "semicolon-lines") {
            settings.consoleRules.bLinesEndOnlyAtSemicolon = true;
        } else if (strItem == "bare-echo") {
            settings.consoleRules.bEchoWithoutLineEnd = true;
        } else {
            strWhy = "'" + strItem + "' is not semicolon-lines or bare-echo";
            return false;
        }
    }
    return true;
}

// A small file of the image whole, at most nMax bytes; false where it is no plain file.
bool ReadImageFile(const std::string &strPath, size_t nMax, std::string &strBytes)
{
    if (!SimHostIsPlainFile(strPath))
        return false;
    FILE *pFile = fopen(strPath.c_str(), "rb");
    if (pFile == nullptr)
        return false;
    strBytes.assign(nMax, '\0');
    size_t nRead = fread(&strBytes[0], 1, nMax, pFile);
    fclose(pFile);
    strBytes.resize(nRead);
    return true;
}

// KYNSIM_IMAGE: a board image that duzedevazu-pci saved; its first memory BAR becomes every board's
// memory, as far as the board's 64 MiB go.
bool ParseImage(const std::string &strValue, SimSettings &settings, std::string &strWhy)
{
    std::string strManifest;
    if (!ReadImageFile(strValue + "/manifest.json", kManifestMax, strManifest)) {
        strWhy = "no board image: it has no manifest.json";
        return false;
    }
    ImageManifest manifest;
    if (!ReadImageManifest(strManifest, manifest, strWhy))
        return false;
    const std::string &strSlot = manifest.strSlot;
    if (strSlot.size() != 12 || strSlot.find_first_not_of("0123456789abcdef:.") != std::string::npos) {
        strWhy = "the manifest's slot " + ShownValue(strSlot) + " is no PCI slot";
        return false;
    }
    const ImageBar *pBar = FirstMemoryBar(manifest);
    if (pBar == nullptr) {
        strWhy = "the image has no memory BAR";
        return false;
    }
    std::string strBar = strValue + "/devices/" + strSlot + "/resource" + std::to_string(pBar->nBar);
    if (!ReadImageFile(strBar, kSimWindowSize, settings.strImageBytes)) {
        strWhy = "the image's resource" + std::to_string(pBar->nBar) + " is no plain file";
        return false;
    }
    settings.strImage = strValue;
    SimHostHoldDirectory(strValue);
    return true;
}

// Every KYNSIM_* setting the library knows: name, parser, meaning.
const OsaSettingRow<SimSettings> g_aSettings[] = {
    {"KYNSIM_CONNECT", ParseConnect, "result of KynDrvConnectLib"},
    {"KYNSIM_FAIL", ParseFailRules, "operations that fail: OP:RESULT[@N|#N], comma-separated"},
    {"KYNSIM_NO_ATTR", ParseAbsentAttrs, "absent attributes: OBJECT:ID, comma-separated"},
    {"KYNSIM_NO_TEXT", ParseNoText, "result codes without a text: all, or a list"},
    {"KYNSIM_MEMORY", ParseMemory, "board memory faults: zero, address, stuck-high=MASK, stuck-low=MASK"},
    {"KYNSIM_TIME", ParseTime, "fixed current time, 100-ns intervals since 1601"},
    {"KYNSIM_BOARDS", ParseBoards, "boards present: COUNT, TYPE:COUNT, *:COUNT"},
    {"KYNSIM_KEYS", ParseKeys, "key codes the console returns first"},
    {"KYNSIM_TRACE", ParseTrace, "file for the call trace"},
    {"KYNSIM_HANDLES", ParseHandles, "the first device's handle"},
    {"KYNSIM_CONSOLE", ParseConsoleRules, "console rules the interface leaves open: semicolon-lines, bare-echo"},
    {"KYNSIM_IMAGE", ParseImage, "a board image (duzedevazu-pci --save-image): its first memory BAR is each board's memory"},
};

} // namespace


bool SimParseSettings(const OsaNameValues &aValues, SimSettings &settings, std::string &strError)
{
    return OsaParseSettings("kynsim", g_aSettings, aValues, settings, strError);
}

namespace {

const SimSettings *g_pSimSettings = nullptr;

} // namespace

const SimSettings &SimGetSettings()
{
    if (g_pSimSettings == nullptr) {
        SimSettings *pSettings = new SimSettings(); // kept for the run
        std::string strError;
        if (!SimParseSettings(OsaEnvironment("KYNSIM_"), *pSettings, strError))
            OsaFatal(strError);
        g_pSimSettings = pSettings;
    }
    return *g_pSimSettings;
}
