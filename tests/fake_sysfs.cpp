// fake_sysfs.cpp - a sysfs PCI tree of plain files for the tests of duzedevazu-pci.
#include "fake_sysfs.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_harness.h"

const char *const kNoBars = "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";

std::string ConfigBytes(const std::vector<ConfigPatch> &aPatches, size_t nSize)
{
    std::string strBytes(nSize, '\0');
    for (const ConfigPatch &patch : aPatches)
        for (size_t i = 0; patch.pszHex[2 * i] != '\0'; ++i)
            strBytes[patch.nOffset + i] = (char)strtoul(std::string(patch.pszHex + 2 * i, 2).c_str(), nullptr, 16);
    return strBytes;
}

void MakeTree(const std::string &strRoot, const std::vector<FakeDevice> &aDevices)
{
    mkdir((strRoot + "/sys").c_str(), 0755);
    mkdir((strRoot + "/sys/devices").c_str(), 0755);
    for (const FakeDevice &device : aDevices) {
        std::string strDir = strRoot + "/sys/devices/" + device.strSlot;
        mkdir(strDir.c_str(), 0755);
        WriteFile(strDir + "/vendor", device.strVendor + "\n");
        WriteFile(strDir + "/device", device.strDevice + "\n");
        WriteFile(strDir + "/class", "0xffff00\n");
        WriteFile(strDir + "/config", device.strConfig);
        WriteFile(strDir + "/resource", device.strResource);
        for (const auto &bar : device.aBarFiles)
            WriteFile(strDir + "/resource" + std::to_string(bar.first), std::string(bar.second, '\0'));
        if (!device.strDriver.empty() && symlink(("../../bus/pci/drivers/" + device.strDriver).c_str(),
                                                 (strDir + "/driver").c_str()) != 0)
            perror("symlink");
    }
}

