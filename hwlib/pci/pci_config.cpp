// pci_config.cpp - reads the PCI library's KYNPCI_* settings, from its settings file and then the
// environment, which wins; a malformed one stops the run.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <map>

#include "pci_internal.h"

namespace {

// KYNPCI_IDS: CODE=VENDOR:DEVICE[,VENDOR:DEVICE...][;CODE=...], the IDs as lspci -d takes them.
bool ParseIds(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    settings.aIds.clear();
    for (const std::string &strItem : OsaSplit(strValue, ';')) {
        size_t nEq = strItem.find('=');
        PciBoardIds ids;
        if (nEq == std::string::npos || !OsaParseU32(strItem.substr(0, nEq), ids.nType) || ids.nType > 0x7FFFFFFFu) {
            strWhy = "'" + strItem + "' is not CODE=VENDOR:DEVICE[,VENDOR:DEVICE...] with a board type code";
            return false;
        }
        for (const PciBoardIds &known : settings.aIds) {
            if (known.nType == ids.nType) {
                strWhy = "board type " + std::to_string(ids.nType) + " is given twice";
                return false;
            }
        }
        ids.strIds = strItem;
        for (const std::string &strId : OsaSplit(strItem.substr(nEq + 1), ',')) {
            pci_filter filter;
            pci_filter_init(nullptr, &filter);
            std::string strCopy = strId;
            const char *pszError = pci_filter_parse_id(&filter, &strCopy[0]);
            // Both IDs, so that a typing slip never selects every device of a vendor, or all.
            if (pszError != nullptr || filter.vendor < 0 || filter.device < 0) {
                strWhy = "'" + strId + "' is not VENDOR:DEVICE in hexadecimal, as lspci -d takes it";
                return false;
            }
            ids.aFilters.push_back(filter);
        }
        settings.aIds.push_back(ids);
    }
    return true;
}

// KYNPCI_DEVICE: [[DOMAIN:]BUS:]DEVICE.FUNCTION, as lspci -s takes it.
bool ParseDevice(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    pci_filter_init(nullptr, &settings.device);
    std::string strCopy = strValue;
    const char *pszError = strValue.empty() ? "" : pci_filter_parse_slot(&settings.device, &strCopy[0]);
    if (pszError != nullptr || settings.device.slot < 0 || settings.device.func < 0) {
        strWhy = "'" + strValue + "' is not [[DOMAIN:]BUS:]DEVICE.FUNCTION, as lspci -s takes it";
        return false;
    }
    settings.bDevice = true;
    settings.strDevice = strValue;
    return true;
}

bool ParseBar(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    uint32_t nBar = 0;
    if (!OsaParseU32(strValue, nBar) || nBar > 5) {
        strWhy = "'" + strValue + "' is not a BAR number from 0 to 5";
        return false;
    }
    settings.nBar = (int)nBar;
    return true;
}

bool ParseSysfs(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    struct stat info;
    if (strValue.empty() || stat((strValue + "/devices").c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        strWhy = "no directory " + strValue + "/devices";
        return false;
    }
    settings.strSysfs = strValue;
    return true;
}

bool ParseAllowDriver(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    if (strValue != "0" && strValue != "1") {
        strWhy = "'" + strValue + "' is not 0 or 1";
        return false;
    }
    settings.bAllowDriver = strValue == "1";
    return true;
}

bool ParseTrace(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    settings.strTracePath = strValue;
    if (strValue.empty())
        strWhy = "no file name";
    return !strValue.empty();
}

// Read before the others, from the environment only.
bool ParseConf(const std::string &, PciSettings &, std::string &)
{
    return true;
}

// Every KYNPCI_* setting the library knows: name, parser, meaning.
const OsaSettingRow<PciSettings> g_aSettings[] = {
    {"KYNPCI_IDS", ParseIds, "PCI IDs of each board type: CODE=VENDOR:DEVICE[,...][;CODE=...]"},
    {"KYNPCI_DEVICE", ParseDevice, "one device by slot, for any board type and number"},
    {"KYNPCI_BAR", ParseBar, "the BAR that holds the board registers"},
    {"KYNPCI_SYSFS", ParseSysfs, "the sysfs PCI tree instead of /sys/bus/pci"},
    {"KYNPCI_ALLOW_DRIVER", ParseAllowDriver, "1: map the BAR of a device a kernel driver holds"},
    {"KYNPCI_TRACE", ParseTrace, "file for the call trace"},
    {"KYNPCI_CONF", ParseConf, "the settings file instead of " KYNPCI_CONF_DEFAULT},
};

std::string Trimmed(const std::string &strText)
{
    size_t nStart = strText.find_first_not_of(" \t\r");
    size_t nEnd = strText.find_last_not_of(" \t\r");
    return nStart == std::string::npos ? "" : strText.substr(nStart, nEnd - nStart + 1);
}

const PciSettings *g_pPciSettings = nullptr;

} // namespace

bool PciParseSettings(const OsaNameValues &aValues, PciSettings &settings, std::string &strError)
{
    return OsaParseSettings("kynpci", g_aSettings, aValues, settings, strError);
}

bool PciParseSettingsFile(const std::string &strText, const std::string &strFile, OsaNameValues &aValues,
                          std::string &strError)
{
    int nLine = 0;
    for (size_t nStart = 0; nStart < strText.size(); ) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strLine = Trimmed(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        ++nLine;
        if (strLine.empty() || strLine[0] == '#')
            continue;
        size_t nEq = strLine.find('=');
        std::string strName = Trimmed(strLine.substr(0, nEq));
        if (nEq == std::string::npos || strName.compare(0, 7, "KYNPCI_") != 0 || strName == "KYNPCI_CONF") {
            strError = "kynpci: " + strFile + " line " + std::to_string(nLine) + ": '" + strLine +
                       "' is not KYNPCI_NAME=VALUE (KYNPCI_CONF only in the environment)";
            return false;
        }
        aValues.emplace_back(strName, Trimmed(strLine.substr(nEq + 1)));
    }
    return true;
}

const PciSettings &PciGetSettings()
{
    if (g_pPciSettings != nullptr)
        return *g_pPciSettings;
    OsaNameValues aEnvironment = OsaEnvironment("KYNPCI_");
    std::string strFile = KYNPCI_CONF_DEFAULT;
    bool bFileNamed = false;
    for (const auto &item : aEnvironment) {
        if (item.first == "KYNPCI_CONF") {
            strFile = item.second;
            bFileNamed = true;
        }
    }
    // The file's settings first; a setting the environment gives replaces the file's.
    OsaNameValues aValues;
    std::string strError;
    FILE *pFile = fopen(strFile.c_str(), "r");
    if (pFile == nullptr && bFileNamed)
        OsaFatal("kynpci: bad setting KYNPCI_CONF=" + strFile + ": the file cannot be read");
    if (pFile != nullptr) {
        std::string strText;
        char acChunk[4096];
        for (size_t nRead; (nRead = fread(acChunk, 1, sizeof acChunk, pFile)) > 0;)
            strText.append(acChunk, nRead);
        fclose(pFile);
        if (!PciParseSettingsFile(strText, strFile, aValues, strError))
            OsaFatal(strError);
    }
    std::map<std::string, std::string> environment(aEnvironment.begin(), aEnvironment.end());
    OsaNameValues aMerged;
    for (const auto &item : aValues)
        if (environment.count(item.first) == 0)
            aMerged.push_back(item);
    aMerged.insert(aMerged.end(), aEnvironment.begin(), aEnvironment.end());
    PciSettings *pSettings = new PciSettings(); // kept for the run
    if (!PciParseSettings(aMerged, *pSettings, strError))
        OsaFatal(strError);
    g_pPciSettings = pSettings;
    return *g_pPciSettings;
}
