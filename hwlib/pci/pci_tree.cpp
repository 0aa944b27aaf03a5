// pci_tree.cpp - what the sysfs tree tells of a device beside its files: the kernel driver bound to it,
// and the names its links give (a driver's, an IOMMU group's number).
#include <string.h>
#include <unistd.h>

#include "pci_internal.h"

std::string PciDriverOf(const PciObject &object)
{
    return PciDriverAt(object.strOpenDir);
}

std::string PciDriverAt(const std::string &strDir)
{
    return PciLinkName(strDir + "/driver");
}

std::string PciLinkName(const std::string &strLink)
{
    char szTarget[512];
    ssize_t nLength = readlink(strLink.c_str(), szTarget, sizeof szTarget - 1);
    if (nLength <= 0)
        return "";
    szTarget[nLength] = '\0';
    const char *pszName = strrchr(szTarget, '/');
    return pszName != nullptr ? pszName + 1 : szTarget;
}
