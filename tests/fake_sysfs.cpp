// fake_sysfs.cpp - a sysfs PCI tree of plain files for the tests of duzedevazu-pci.
#include "fake_sysfs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
        WriteFile(strDir + "/class", device.strClass + "\n");
        WriteFile(strDir + "/config", device.strConfig);
        WriteFile(strDir + "/resource", device.strResource);
        for (const auto &bar : device.aBarFiles)
            WriteFile(strDir + "/resource" + std::to_string(bar.first), std::string(bar.second, '\0'));
        if (!device.strDriver.empty() && symlink(("../../bus/pci/drivers/" + device.strDriver).c_str(),
                                                 (strDir + "/driver").c_str()) != 0)
            perror("symlink");
    }
}

// A virtio memory balloon (1af4:1045) as the kernel showed its 256 bytes on a test machine.
extern const std::vector<ConfigPatch> kBalloon = {
    {0x000, "f41a4510060410000100ffff00000000"}, {0x010, "04000000400000000000000000000000"},
    {0x020, "000000000000000000000000f41a4510"}, {0x030, "00000000400000000000000000000000"},
    {0x040, "09501001000000000000000038000000"}, {0x050, "09601003000000000020000001000000"},
    {0x060, "09701004000000000040000000100000"}, {0x070, "09841402000000000060000000100000"},
    {0x080, "04000000099814050000000000000000"}, {0x090, "00000000000000001100048000800000"},
    {0x0a0, "00800400"},
};
// The balloon's bytes made a PCI Express board: revision 2, a PCI Express capability chained after
// MSI-X at 0xb0, and a Device Serial Number capability (00-11-22-33-44-55-66-77) at 0x100.
std::vector<ConfigPatch> PcieBoard()
{
    std::vector<ConfigPatch> aPatches = kBalloon;
    aPatches.insert(aPatches.end(), {{0x008, "02"}, {0x099, "b0"}, {0x0b0, "10000200"}, {0x100, "030001007766554433221100"}});
    return aPatches;
}
// A host bridge (8086:0d57): 4096 bytes, zero past its header, no BARs.
const std::vector<ConfigPatch> kHostBridge = {{0x000, "8680570d000000000000000600000000"}};

// The tree the tests use: a host bridge, a balloon that a driver holds and whose BAR the kernel
// offers no file for (as on the machine it came from), and board 1af4:1045 on bus 3 with a 1 MiB
// memory BAR0, an I/O BAR1 and a 16 KiB memory BAR2.
std::vector<FakeDevice> FakeTree()
{
    std::string strNoBars;
    for (int i = 0; i < 7; ++i)
        strNoBars += kNoBars;
    return {
        {"0000:00:00.0", "0x8086", "0x0d57", ConfigBytes(kHostBridge, 4096), strNoBars, {}, "", "0x060000"},
        {"0000:00:01.0", "0x1af4", "0x1045", ConfigBytes(kBalloon, 256),
         "0x0000004000000000 0x000000400007ffff 0x0000000000140204\n" + strNoBars.substr(0, 6 * strlen(kNoBars)), {},
         "virtio-pci"},
        {"0000:03:00.0", "0x1af4", "0x1045", ConfigBytes(PcieBoard(), 4096),
         "0x00000000fe000000 0x00000000fe0fffff 0x0000000000040200\n"
         "0x000000000000e000 0x000000000000e0ff 0x0000000000040101\n"
         "0x00000000fe100000 0x00000000fe103fff 0x0000000000140200\n" + strNoBars.substr(0, 4 * strlen(kNoBars)),
         {{0, 1u << 20}, {2, 0x4000}}, ""},
    };
}

extern const char *const kBoard = "sys/devices/0000:03:00.0";

ToolCase PciCase(const std::string &strKeys, std::map<std::string, std::string> env, std::vector<std::string> aArgs)
{
    ToolCase toolCase;
    toolCase.aArgs = aArgs;
    toolCase.strInput = strKeys;
    toolCase.env = {{"KYNPCI_SYSFS", "sys"}, {"KYNPCI_IDS", "6=1af4:1045"}, {"KYNPCI_CONF", "/dev/null"}};
    for (const auto &item : env)
        toolCase.env[item.first] = item.second;
    toolCase.setUp = [](const std::string &strDir) { MakeTree(strDir, FakeTree()); };
    return toolCase;
}
