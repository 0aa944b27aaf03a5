// pci_list.cpp - every PCI function of the tree, a line each, for --list: what it is, what holds it, how
// its registers would be reached (or why not), and which board the settings make of it.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>

#include "kyn_pci.h"
#include "pci_internal.h"
#include "printable.h"

namespace {

const char *const kLineFormat = "%-12s  %-9s  %-5s  %-7s  %-12s  %-5s  %s | %s | %s";

struct NameStep {
    pci_dev *pDevice;
    char szName[256];
    char szClass[128];
};

// The names libpci finds in the machine's ID database (pci.ids); empty where it has none. udev's
// hwdb is not asked: where it is missing, libpci makes a udev handle at each look-up and loses it.
const int kLookup = PCI_LOOKUP_NO_NUMBERS | PCI_LOOKUP_NO_HWDB;

void LookUpNamesStep(void *pArg)
{
    NameStep *pStep = (NameStep *)pArg;
    pci_access *pAccess = PciAccess();
    const char *pszName = pci_lookup_name(pAccess, pStep->szName, sizeof pStep->szName,
                                          PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE | kLookup,
                                          pStep->pDevice->vendor_id, pStep->pDevice->device_id);
    if (pszName == nullptr)
        pszName = pci_lookup_name(pAccess, pStep->szName, sizeof pStep->szName, PCI_LOOKUP_VENDOR | kLookup,
                                  pStep->pDevice->vendor_id);
    if (pszName == nullptr)
        pStep->szName[0] = '\0';
    if (pci_lookup_name(pAccess, pStep->szClass, sizeof pStep->szClass, PCI_LOOKUP_CLASS | kLookup,
                        pStep->pDevice->device_class) == nullptr)
        pStep->szClass[0] = '\0';
}

std::string Names(pci_dev *pDevice)
{
    NameStep step;
    step.pDevice = pDevice;
    if (!PciGuarded(LookUpNamesStep, &step))
        return "-";
    std::string strNames = std::string(step.szClass) + (step.szClass[0] != '\0' && step.szName[0] != '\0' ? ": " : "") +
                           step.szName;
    return strNames.empty() ? "-" : Printable(strNames);
}

// 256, 16K, 1M, 4G: as lspci shows sizes.
std::string SizeText(uint64_t nSize)
{
    const char *const pszUnits = "KMGTP";
    std::string strUnit;
    for (int i = 0; i < 5 && nSize >= 1024 && nSize % 1024 == 0; ++i) {
        nSize /= 1024;
        strUnit = pszUnits[i];
    }
    return std::to_string(nSize) + strUnit;
}

bool IsIoBar(const pci_dev *pDevice, int nBar)
{
    return (pDevice->flags[nBar] & PCI_IORESOURCE_IO) != 0 ||
           (pDevice->flags[nBar] == 0 && (pDevice->base_addr[nBar] & PCI_BASE_ADDRESS_SPACE_IO) != 0);
}

std::string BarsText(const pci_dev *pDevice)
{
    std::string strBars;
    for (int i = 0; i < 6; ++i) {
        if (pDevice->size[i] == 0)
            continue;
        std::string strKind = IsIoBar(pDevice, i) ? "io" : (pDevice->flags[i] & PCI_IORESOURCE_MEM_64) != 0 ? "mem64" : "mem";
        if ((pDevice->flags[i] & PCI_IORESOURCE_PREFETCH) != 0)
            strKind += " prefetchable";
        strBars += (strBars.empty() ? "" : ", ") + std::string("BAR") + std::to_string(i) + " " + strKind + " " +
                   SizeText(pDevice->size[i]);
    }
    return strBars.empty() ? "no BARs" : strBars;
}

// The way a run would reach the device's registers now, or why none, checked as far as the tree
// tells without opening anything.
std::string WayIn(const pci_dev *pDevice, const std::string &strOpenDir, const std::string &strDriver,
                  const std::string &strGroup)
{
    const PciSettings &settings = PciGetSettings();
    const PciMethods *pMethods = PciMethodFor(strDriver);
    std::string strMethod = pMethods->pszName;
    if (pMethods->pfnClaims != nullptr) {
        if (!pMethods->pfnClaims(strDriver))
            return "none (" + strMethod + pMethods->pszClaimed + ")";
        return strGroup.empty() ? "none: no IOMMU group" : strMethod;
    }
    if (!strDriver.empty() && !settings.bAllowDriver)
        return "none: held by " + Printable(strDriver) + " (KYNPCI_ALLOW_DRIVER=1)";
    int nBar = settings.nBar;
    for (int i = 0; i < 6 && nBar < 0; ++i)
        if (pDevice->size[i] > 0 && !IsIoBar(pDevice, i))
            nBar = i;
    if (nBar < 0 || pDevice->size[nBar] == 0 || IsIoBar(pDevice, nBar))
        return nBar < 0 ? "none: no memory BAR" : "none: BAR" + std::to_string(nBar) + " is no memory BAR";
    if (!PciLockdown().empty())
        return "none: the kernel is in lockdown";
    std::string strRest;
    std::string strFile = strOpenDir + "/resource" + std::to_string(nBar);
    int fdAt = PciTreeAt(strFile, strRest);
    if (faccessat(fdAt, strRest.c_str(), F_OK, AT_EACCESS) != 0)
        return "none: no file for BAR" + std::to_string(nBar);
    if (faccessat(fdAt, strRest.c_str(), R_OK | W_OK, AT_EACCESS) != 0)
        return "none: needs root or a udev rule";
    return strMethod;
}

// The board type and number the settings make of the device, for a run of nType and nNumber.
std::string BoardText(pci_dev *pDevice, uint32_t nType, uint32_t nNumber)
{
    const PciSettings &settings = PciGetSettings();
    std::vector<pci_dev *> apFound;
    if (settings.bDevice) {
        bool bOne = PciMatch({settings.device}, apFound) && apFound.size() == 1 && apFound[0] == pDevice;
        return bOne ? std::to_string(nType) + "/" + std::to_string(nNumber) : "-";
    }
    std::string strBoards;
    bool bOwnIds = false;
    for (const PciBoardIds &ids : settings.aIds)
        bOwnIds = bOwnIds || ids.nType == nType;
    for (const PciBoardIds &ids : settings.aIds) {
        if (ids.nType == kPciAnyBoardType && bOwnIds)
            continue;
        if (!PciMatch(ids.aFilters, apFound))
            continue;
        auto itFound = std::find(apFound.begin(), apFound.end(), pDevice);
        if (itFound != apFound.end())
            strBoards += (strBoards.empty() ? "" : ",") +
                         std::to_string(ids.nType == kPciAnyBoardType ? nType : ids.nType) + "/" +
                         std::to_string(itFound - apFound.begin());
    }
    return strBoards.empty() ? "-" : strBoards;
}

std::string Line(const char *pszSlot, const char *pszIds, const char *pszClass, const std::string &strBoard,
                 const std::string &strDriver, const std::string &strGroup, const std::string &strWay,
                 const std::string &strBars, const std::string &strNames)
{
    char szLine[1024];
    snprintf(szLine, sizeof szLine, kLineFormat, pszSlot, pszIds, pszClass, strBoard.c_str(), strDriver.c_str(),
             strGroup.c_str(), strWay.c_str(), strBars.c_str(), strNames.c_str());
    return szLine;
}

} // namespace

bool KynPciCheckSlot(const char *pszSlot, std::string &strWhy)
{
    pci_filter filter;
    return PciParseSlotFilter(pszSlot, filter, strWhy);
}

bool KynPciCheckIds(const char *pszIds, std::string &strWhy)
{
    std::vector<pci_filter> aFilters;
    return PciParseIdFilter(pszIds, aFilters, strWhy);
}

bool KynPciListDevices(const char *pszSlot, const char *pszIds, uint32_t nType, uint32_t nNumber,
                       std::vector<std::string> &aLines, std::vector<KynPciListed> &aListed, std::string &strError)
{
    pci_filter all;
    pci_filter_init(nullptr, &all);
    std::vector<pci_filter> aSlot = {all}, aIds = {all};
    if ((pszSlot != nullptr && !PciParseSlotFilter(pszSlot, aSlot[0], strError)) ||
        (pszIds != nullptr && !PciParseIdFilter(pszIds, aIds, strError)))
        return false;
    std::vector<pci_dev *> apSlot, apIds;
    if (!PciMatch(aSlot, apSlot) || !PciMatch(aIds, apIds)) {
        strError = PciResultText(PCI_ERR_DEVICE_LIST);
        return false;
    }
    const PciSettings &settings = PciGetSettings();
    aLines.push_back(Line("Slot", "IDs", "Class", "Board", "Driver", "IOMMU", "Way in", "BARs", "Name"));
    for (pci_dev *pDevice : apSlot) {
        if (std::find(apIds.begin(), apIds.end(), pDevice) == apIds.end())
            continue;
        if (!PciFillInfo(pDevice, PCI_FILL_IDENT | PCI_FILL_CLASS | PCI_FILL_BASES | PCI_FILL_SIZES | PCI_FILL_IO_FLAGS)) {
            aLines.push_back(PciSlotName(pDevice) + "  cannot be read: " + Printable(g_strLibpciMessage));
            aListed.push_back({{"slot", PciSlotName(pDevice)}, {"error", Printable(g_strLibpciMessage)}});
            continue;
        }
        std::string strSlot = PciSlotName(pDevice);
        std::string strOpenDir = settings.strTreeOpen + "/devices/" + strSlot;
        std::string strDriver = PciDriverAt(strOpenDir);
        std::string strGroup = PciLinkName(strOpenDir + "/iommu_group");
        char szIds[16], szClass[8];
        snprintf(szIds, sizeof szIds, "%04x:%04x", (unsigned)pDevice->vendor_id, (unsigned)pDevice->device_id);
        snprintf(szClass, sizeof szClass, "%04x", (unsigned)pDevice->device_class);
        KynPciListed listed = {{"slot", strSlot},
                               {"ids", szIds},
                               {"class", szClass},
                               {"board", BoardText(pDevice, nType, nNumber)},
                               {"driver", strDriver.empty() ? "-" : Printable(strDriver)},
                               {"iommu_group", strGroup.empty() ? "-" : Printable(strGroup)},
                               {"way_in", WayIn(pDevice, strOpenDir, strDriver, strGroup)},
                               {"bars", BarsText(pDevice)},
                               {"name", Names(pDevice)}};
        aLines.push_back(Line(strSlot.c_str(), szIds, szClass, listed[3].second, listed[4].second, listed[5].second,
                              listed[6].second, listed[7].second, listed[8].second));
        // Each BAR for a record: NUMBER KIND SIZE PREFETCHABLE ADDRESS.
        for (int i = 0; i < 6; ++i) {
            if (pDevice->size[i] == 0)
                continue;
            char szBar[96];
            const char *pszKind = IsIoBar(pDevice, i) ? "io" : (pDevice->flags[i] & PCI_IORESOURCE_MEM_64) != 0 ? "mem64" : "mem";
            snprintf(szBar, sizeof szBar, "%d %s %llu %d 0x%llx", i, pszKind, (unsigned long long)pDevice->size[i],
                     (pDevice->flags[i] & PCI_IORESOURCE_PREFETCH) != 0 ? 1 : 0,
                     (unsigned long long)(pDevice->base_addr[i] & (IsIoBar(pDevice, i) ? PCI_ADDR_IO_MASK : PCI_ADDR_MEM_MASK)));
            listed.push_back({"bar", szBar});
        }
        // "-" stands for none in the table; a record leaves the field out.
        listed.erase(std::remove_if(listed.begin(), listed.end(), [](const auto &field) { return field.second == "-"; }),
                     listed.end());
        aListed.push_back(listed);
    }
    return true;
}
