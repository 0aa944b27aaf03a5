// pci_tree.cpp - what the sysfs tree tells of a device beside its files: the kernel driver bound to it,
// and the names its links give (a driver's, an IOMMU group's number); paths beneath the held tree.
#include <fcntl.h>
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

int PciTreeAt(const std::string &strPath, std::string &strRest)
{
    const PciSettings &settings = PciGetSettings();
    const std::string &strTree = settings.strTreeOpen;
    if (settings.fdTree >= 0 && strPath.size() > strTree.size() + 1 && strPath.compare(0, strTree.size(), strTree) == 0 &&
        strPath[strTree.size()] == '/') {
        strRest = strPath.substr(strTree.size() + 1);
        return settings.fdTree;
    }
    strRest = strPath;
    return AT_FDCWD;
}

int PciTreeOpen(const std::string &strPath, int nFlags)
{
    std::string strRest;
    int fdAt = PciTreeAt(strPath, strRest);
    return openat(fdAt, strRest.c_str(), nFlags);
}

std::string PciLinkName(const std::string &strLink)
{
    char szTarget[512];
    std::string strRest;
    int fdAt = PciTreeAt(strLink, strRest);
    ssize_t nLength = readlinkat(fdAt, strRest.c_str(), szTarget, sizeof szTarget - 1);
    if (nLength <= 0)
        return "";
    szTarget[nLength] = '\0';
    const char *pszName = strrchr(szTarget, '/');
    return pszName != nullptr ? pszName + 1 : szTarget;
}
