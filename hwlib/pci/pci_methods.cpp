// pci_methods.cpp - the list of the PCI library's access methods, and what is decided over it: the
// method a device takes, KYNPCI_ACCESS's names, the driver line's words.
#include "pci_internal.h"

extern const PciMethods g_pciSysfs;
extern const PciMethods g_pciVfio;

// A new access method is one more line.
const PciMethods *const g_apPciMethods[] = {&g_pciSysfs, &g_pciVfio};
const size_t g_nPciMethods = sizeof g_apPciMethods / sizeof g_apPciMethods[0];

const PciMethods *PciFindMethod(const std::string &strName)
{
    for (const PciMethods *pMethods : g_apPciMethods)
        if (strName == pMethods->pszName)
            return pMethods;
    return nullptr;
}

const PciMethods *PciMethodFor(const std::string &strDriver)
{
    if (PciGetSettings().pAccess != nullptr)
        return PciGetSettings().pAccess;
    const PciMethods *pTree = nullptr;
    for (const PciMethods *pMethods : g_apPciMethods) {
        if (pMethods->pfnClaims == nullptr)
            pTree = pMethods;
        else if (pMethods->pfnClaims(strDriver))
            return pMethods;
    }
    return pTree;
}

// The tree's method alone: its tree; one other alone: its way, the devices from the tree; several:
// the tree's, then each other with the devices it takes.
std::string PciWaysText(const std::vector<bool> &abInUse, const std::string &strTree)
{
    std::vector<const PciMethods *> apOthers;
    for (size_t i = 0; i < g_nPciMethods; ++i)
        if (abInUse[i] && g_apPciMethods[i]->pszWay != nullptr)
            apOthers.push_back(g_apPciMethods[i]);
    bool bTree = false;
    for (size_t i = 0; i < g_nPciMethods; ++i)
        bTree = bTree || (abInUse[i] && g_apPciMethods[i]->pszWay == nullptr);
    if (apOthers.empty())
        return strTree;
    if (!bTree && apOthers.size() == 1)
        return std::string(apOthers[0]->pszWay) + ", devices from " + strTree;
    std::string strText = strTree;
    for (const PciMethods *pMethods : apOthers)
        strText += std::string(", ") + pMethods->pszWay + pMethods->pszClaimed;
    return strText;
}
