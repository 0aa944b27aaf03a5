// pci_settings.cpp - reads the PCI library's KYNPCI_* settings, from its settings file and then the
// environment, which wins; a malformed one stops the run.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "create_file.h"
#include "kyn_pci.h"
#include "pci_internal.h"

namespace {

// The board type codes the maker ships: a code in KYNPCI_IDS that is none of these is a typing slip.
const uint32_t kBoardTypeCodes[] = {6,  7,  30, 32, 33, 35, 39, 40, 41, 45, 46, 47, 48,
                                    53, 54, 55, 57, 60, 61, 67, 68, 69, 70, 71, 72, 75};

// One filter of the board type *, as lspci -d takes it, and a vendor alone without its colon: any
// form the user types on the command line (--ids); false where libpci refuses it.
bool ParseAnyFilter(const std::string &strId, pci_filter &filter, std::string &strWhy)
{
    pci_filter_init(nullptr, &filter);
    std::string strCopy = strId.find(':') == std::string::npos ? strId + ":" : strId;
    const char *pszError = strId.empty() ? "empty" : pci_filter_parse_id(&filter, &strCopy[0]);
    if (pszError != nullptr)
        strWhy = "'" + strId + "' is not [VENDOR][:DEVICE[:CLASS]] in hexadecimal, as lspci -d takes it (" + pszError + ")";
    return pszError == nullptr;
}

} // namespace

bool PciParseIdFilter(const std::string &strIds, std::vector<pci_filter> &aFilters, std::string &strWhy)
{
    aFilters.clear();
    for (const std::string &strId : OsaSplit(strIds, ',')) {
        pci_filter filter;
        if (!ParseAnyFilter(strId, filter, strWhy))
            return false;
        aFilters.push_back(filter);
    }
    return true;
}

bool PciParseSlotFilter(const std::string &strSlot, pci_filter &filter, std::string &strWhy)
{
    pci_filter_init(nullptr, &filter);
    std::string strCopy = strSlot;
    const char *pszError = strSlot.empty() ? "empty" : pci_filter_parse_slot(&filter, &strCopy[0]);
    if (pszError != nullptr)
        strWhy = "'" + strSlot + "' is not [[DOMAIN:]BUS:][DEVICE][.FUNCTION], as lspci -s takes it (" + pszError + ")";
    return pszError == nullptr;
}

namespace {

// KYNPCI_IDS: CODE=VENDOR:DEVICE[,VENDOR:DEVICE...][;CODE=...], the IDs as lspci -d takes them and
// the code in decimal, as the README's board table gives it; code * stands for every board type
// that has no IDs of its own, and takes every form of lspci -d (what --ids gives). Empty: no board
// type selected.
bool ParseIds(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    settings.aIds.clear();
    if (strValue.empty())
        return true;
    for (const std::string &strItem : OsaSplit(strValue, ';')) {
        size_t nEq = strItem.find('=');
        PciBoardIds ids;
        if (nEq != std::string::npos && strItem.compare(0, nEq, "*") == 0) {
            ids.nType = kPciAnyBoardType;
            ids.strIds = strItem;
            for (const PciBoardIds &known : settings.aIds) {
                if (known.nType == ids.nType) {
                    strWhy = "board type * is given twice";
                    return false;
                }
            }
            for (const std::string &strId : OsaSplit(strItem.substr(nEq + 1), ',')) {
                pci_filter filter;
                if (!ParseAnyFilter(strId, filter, strWhy))
                    return false;
                ids.aFilters.push_back(filter);
            }
            settings.aIds.push_back(ids);
            continue;
        }
        if (nEq == std::string::npos || !OsaParseU32(strItem.substr(0, nEq), ids.nType) || ids.nType > 0x7FFFFFFFu) {
            strWhy = "'" + strItem + "' is not CODE=VENDOR:DEVICE[,VENDOR:DEVICE...] with a board type code";
            return false;
        }
        std::string strCode = strItem.substr(0, nEq);
        if (strCode.find_first_not_of("0123456789") != std::string::npos || (strCode.size() > 1 && strCode[0] == '0')) {
            strWhy = "board type code '" + strCode + "' is not decimal";
            return false;
        }
        if (std::find(std::begin(kBoardTypeCodes), std::end(kBoardTypeCodes), ids.nType) == std::end(kBoardTypeCodes)) {
            strWhy = "no board type has code " + strCode;
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

// KYNPCI_DEVICE: [[DOMAIN:]BUS:][DEVICE][.FUNCTION], as lspci -s takes it, wildcards and all; it must
// still name one device when a board is opened. Empty: no slot selected.
bool ParseDevice(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    pci_filter_init(nullptr, &settings.device);
    settings.bDevice = false;
    settings.strDevice.clear();
    if (strValue.empty())
        return true;
    if (!PciParseSlotFilter(strValue, settings.device, strWhy))
        return false;
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

// The tree's root is walked one component at a time under the log's rule for links, and held open
// for the run: its check and every later open see the same directory. libpci opens by name, so
// it gets the held directory's name in /proc/self/fd, unless nobody but this user and root can
// change what the name given leads to: the walk through /proc costs a one-shot read more than
// all of setpci's own opens.
bool ParseSysfs(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    PlantedLink planted;
    bool bKept = false;
    int fdRoot = strValue.empty() ? -1 : OpenDirectoryNoPlantedLinks(strValue.c_str(), planted, &bKept);
    if (planted.bFound) {
        strWhy = (planted.bDirectory ? "its directory " + planted.strLink + " is" : "it is") + std::string(" a link that user ") +
                 std::to_string(planted.nOwner) + " made in a directory others may write: it is not followed";
        return false;
    }
    int nErrno = strValue.empty() ? 0 : errno;
    struct stat info;
    std::string strOpen = fdRoot >= 0 && !bKept ? "/proc/self/fd/" + std::to_string(fdRoot) : strValue;
    if (fdRoot < 0 && PciFailedForItsOwnReason(nErrno)) {
        strWhy = strValue + " cannot be opened: " + strerror(nErrno);
        return false;
    }
    if (fdRoot < 0 || fstatat(fdRoot, "devices", &info, 0) != 0 || !S_ISDIR(info.st_mode)) {
        nErrno = fdRoot >= 0 ? errno : 0;
        if (fdRoot >= 0)
            close(fdRoot);
        strWhy = PciFailedForItsOwnReason(nErrno) ? strValue + "/devices cannot be read: " + strerror(nErrno)
                                               : "no directory " + strValue + "/devices";
        return false;
    }
    // The kernel's own tree is sysfs; any other is files that someone made.
    const long kSysfsMagic = 0x62656572;
    struct statfs fs;
    settings.bKernelTree = fstatfs(fdRoot, &fs) == 0 && (long)fs.f_type == kSysfsMagic;
    if (settings.bKernelTree) {
        close(fdRoot);
        strOpen = strValue;
    } else if (!PciTrustedTree(fdRoot, strValue, strWhy)) {
        close(fdRoot);
        return false;
    }
    settings.strSysfs = strValue;
    settings.strTreeOpen = strOpen;
    settings.fdTree = settings.bKernelTree ? -1 : fdRoot;
    return true;
}

bool ParseFlag(const std::string &strValue, bool &bFlag, std::string &strWhy)
{
    if (strValue != "0" && strValue != "1") {
        strWhy = "'" + strValue + "' is not 0 or 1";
        return false;
    }
    bFlag = strValue == "1";
    return true;
}

bool ParseAllowDriver(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    return ParseFlag(strValue, settings.bAllowDriver, strWhy);
}

bool ParseEnable(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    return ParseFlag(strValue, settings.bEnable, strWhy);
}

bool ParseAccess(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    settings.pAccess = PciFindMethod(strValue);
    if (settings.pAccess != nullptr || strValue == "auto")
        return true;
    strWhy = "'" + strValue + "' is not auto";
    for (size_t i = 0; i < g_nPciMethods; ++i)
        strWhy += std::string(i + 1 < g_nPciMethods ? ", " : " or ") + g_apPciMethods[i]->pszName;
    return false;
}

bool ParseTrace(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    settings.strTracePath = strValue;
    if (strValue.empty())
        strWhy = "no file name";
    return !strValue.empty();
}

// The program makes the image ready (checked, copied) and points KYNPCI_SYSFS and KYNPCI_DEVICE
// at it; the library only names it.
bool ParseImage(const std::string &strValue, PciSettings &settings, std::string &strWhy)
{
    settings.strImage = strValue;
    if (strValue.empty())
        strWhy = "no directory";
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
    {"KYNPCI_ENABLE", ParseEnable, "1: turn on the memory decoding of a device no driver holds"},
    {"KYNPCI_ACCESS", ParseAccess, "how registers are reached: auto (vfio for a device bound to vfio-pci), sysfs or vfio"},
    {"KYNPCI_TRACE", ParseTrace, "file for the call trace"},
    {"KYNPCI_IMAGE", ParseImage, "a saved board image to run on as on its device (duzedevazu-pci --image)"},
    {"KYNPCI_CONF", ParseConf, "the settings file instead of " KYNPCI_CONF_DEFAULT},
};

std::string Trimmed(const std::string &strText)
{
    size_t nStart = strText.find_first_not_of(" \t\r");
    size_t nEnd = strText.find_last_not_of(" \t\r");
    return nStart == std::string::npos ? "" : strText.substr(nStart, nEnd - nStart + 1);
}

const PciSettings *g_pPciSettings = nullptr;
// What the program gives from its command line (--device, --ids, --image): wins over the rest.
OsaNameValues g_aProgramSettings;

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
        if (strName == "KYNPCI_IMAGE") {
            strError = "kynpci: " + strFile + " line " + std::to_string(nLine) +
                       ": KYNPCI_IMAGE only in the environment (duzedevazu-pci --image sets it)";
            return false;
        }
        if (nEq == std::string::npos || strName.compare(0, 7, "KYNPCI_") != 0 || strName == "KYNPCI_CONF") {
            strError = "kynpci: " + strFile + " line " + std::to_string(nLine) + ": '" + strLine +
                       "' is not KYNPCI_NAME=VALUE (KYNPCI_CONF only in the environment)";
            return false;
        }
        auto itKnown = std::find_if(aValues.begin(), aValues.end(), [&](const auto &item) { return item.first == strName; });
        if (itKnown != aValues.end()) {
            strError = "kynpci: " + strFile + " line " + std::to_string(nLine) + ": " + strName + " is given twice";
            return false;
        }
        aValues.emplace_back(strName, Trimmed(strLine.substr(nEq + 1)));
    }
    return true;
}

namespace {

// The settings file's text, read only where nobody but root or the one who runs the tool can have
// written it: a file others may change would let them point root's writes at any device. The
// default file may be missing; one named by KYNPCI_CONF must be there.
std::string ReadSettingsFile(const std::string &strFile, bool bNamed)
{
    // Without waiting: a FIFO there would hold the start-up until some program wrote to it.
    int fd = open(strFile.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && bNamed)
        OsaFatal("kynpci: bad setting KYNPCI_CONF=" + strFile + ": the file cannot be read");
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR)
        OsaFatal("kynpci: settings file " + strFile + " cannot be read: " + strerror(errno));
    if (fd < 0)
        return "";
    struct stat info;
    std::string strRefused;
    char szMode[16];
    if (fstat(fd, &info) != 0) {
        strRefused = strerror(errno);
    } else if (S_ISCHR(info.st_mode) && major(info.st_rdev) == 1 && minor(info.st_rdev) == 3) {
        close(fd); // the null device: no settings
        return "";
    } else if (!S_ISREG(info.st_mode)) {
        strRefused = "it is not a regular file";
    } else if (info.st_uid != 0 && info.st_uid != geteuid()) {
        strRefused = "it belongs to user " + std::to_string((unsigned)info.st_uid) + ", neither root nor you";
    } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        snprintf(szMode, sizeof szMode, "%04o", (unsigned)(info.st_mode & 07777));
        strRefused = std::string("group or others may write it (mode ") + szMode + ")";
    }
    if (!strRefused.empty()) {
        close(fd);
        OsaFatal("kynpci: settings file " + strFile + " is not used: " + strRefused);
    }
    std::string strText;
    char acChunk[4096];
    ssize_t nRead;
    while ((nRead = read(fd, acChunk, sizeof acChunk)) > 0 || (nRead < 0 && errno == EINTR))
        if (nRead > 0)
            strText.append(acChunk, (size_t)nRead);
    int nErrno = errno;
    if (nRead < 0)
        OsaFatal("kynpci: settings file " + strFile + " cannot be read: " + strerror(nErrno));
    // Held for the run, never closed: the trace and the log then refuse to empty it.
    return strText;
}

bool SelectsDevices(const std::string &strName)
{
    return strName == "KYNPCI_IDS" || strName == "KYNPCI_DEVICE";
}

} // namespace

const PciSettings &PciGetSettings()
{
    if (g_pPciSettings != nullptr)
        return *g_pPciSettings;
    OsaNameValues aEnvironment = OsaEnvironment("KYNPCI_");
    std::string strFile = KYNPCI_CONF_DEFAULT;
    bool bFileNamed = false;
    bool bEnvironmentSelects = false;
    for (const auto &item : aEnvironment) {
        if (item.first == "KYNPCI_CONF") {
            strFile = item.second;
            bFileNamed = true;
        }
        bEnvironmentSelects = bEnvironmentSelects || SelectsDevices(item.first);
    }
    OsaNameValues aValues;
    std::string strError;
    if (!PciParseSettingsFile(ReadSettingsFile(strFile, bFileNamed), strFile, aValues, strError))
        OsaFatal(strError);
    // The file's settings first; a setting the environment gives replaces the file's, and a
    // selection the environment gives (KYNPCI_IDS or KYNPCI_DEVICE, even empty) replaces the
    // file's selection as a whole.
    std::map<std::string, std::string> environment(aEnvironment.begin(), aEnvironment.end());
    OsaNameValues aMerged;
    for (const auto &item : aValues)
        if (environment.count(item.first) == 0 && !(bEnvironmentSelects && SelectsDevices(item.first)))
            aMerged.push_back(item);
    aMerged.insert(aMerged.end(), aEnvironment.begin(), aEnvironment.end());
    // The program's command line over both, in the same way: its selection replaces the others'.
    bool bProgramSelects = false;
    std::map<std::string, std::string> program;
    for (const auto &item : g_aProgramSettings) {
        bProgramSelects = bProgramSelects || SelectsDevices(item.first);
        program[item.first] = item.second;
    }
    aMerged.erase(std::remove_if(aMerged.begin(), aMerged.end(),
                                 [&](const auto &item) {
                                     return program.count(item.first) != 0 || (bProgramSelects && SelectsDevices(item.first));
                                 }),
                  aMerged.end());
    aMerged.insert(aMerged.end(), g_aProgramSettings.begin(), g_aProgramSettings.end());
    PciSettings *pSettings = new PciSettings(); // kept for the run
    if (!PciParseSettings(aMerged, *pSettings, strError))
        OsaFatal(strError);
    g_pPciSettings = pSettings;
    return *g_pPciSettings;
}

void KynPciSetSetting(const char *pszName, const char *pszValue)
{
    for (auto &item : g_aProgramSettings)
        if (item.first == pszName) {
            item.second = pszValue;
            return;
        }
    g_aProgramSettings.push_back({pszName, pszValue});
}

std::string KynPciProgramSetting(const char *pszName)
{
    for (const auto &item : g_aProgramSettings)
        if (item.first == pszName)
            return item.second;
    const char *pszValue = getenv(pszName);
    return pszValue != nullptr ? pszValue : "";
}

int KynPciBoardBar()
{
    return PciGetSettings().nBar;
}

bool KynPciAllowsDriver()
{
    return PciGetSettings().bAllowDriver;
}
