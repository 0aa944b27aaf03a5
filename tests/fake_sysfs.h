// fake_sysfs.h - a sysfs PCI tree of plain files, as the PCI library reads the kernel's: for tests
// that run duzedevazu-pci without touching a real device.
#ifndef DUZE_FAKE_SYSFS_H
#define DUZE_FAKE_SYSFS_H

#include <stddef.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// A configuration space as patches over zeros: an offset and the bytes there, in hexadecimal.
struct ConfigPatch {
    unsigned nOffset;
    const char *pszHex;
};

std::string ConfigBytes(const std::vector<ConfigPatch> &aPatches, size_t nSize);

// One line of a device's resource file for a BAR it does not have.
extern const char *const kNoBars;

struct FakeDevice {
    std::string strSlot;
    std::string strVendor, strDevice;
    std::string strConfig;
    std::string strResource;                          // the resource file: start, end and flags of each BAR
    std::vector<std::pair<int, size_t>> aBarFiles;    // resourceN files and their sizes
    std::string strDriver;                            // the kernel driver bound to it, or ""
    std::string strClass = "0xffff00";                // its class file: class, subclass, programming interface
};

// ROOT/sys/devices/SLOT for each device, with vendor, device, class, config, resource, its
// resourceN files (zeros) and a driver link.
void MakeTree(const std::string &strRoot, const std::vector<FakeDevice> &aDevices);

// The tree the PCI tests use: a host bridge, a balloon that a driver holds and whose BAR the kernel
// offers no file for (as on the machine it came from), and board 1af4:1045 on bus 3 with a 1 MiB
// memory BAR0, an I/O BAR1 and a 16 KiB memory BAR2.
std::vector<FakeDevice> FakeTree();
// The board's directory in that tree.
extern const char *const kBoard;
// The configuration bytes of the balloon, and of the board made from them.
extern const std::vector<ConfigPatch> kBalloon;
std::vector<ConfigPatch> PcieBoard();

struct ToolCase;
// duzedevazu-pci on that tree, the board selected by its IDs (board 1 of type 6 by default): keys,
// more settings, arguments.
ToolCase PciCase(const std::string &strKeys, std::map<std::string, std::string> env = {},
                 std::vector<std::string> aArgs = {"/B1"});

#endif
