// fake_sysfs.h - a sysfs PCI tree of plain files, as the PCI library reads the kernel's: for tests
// that run duzedevazu-pci without touching a real device.
#ifndef DUZE_FAKE_SYSFS_H
#define DUZE_FAKE_SYSFS_H

#include <stddef.h>

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
};

// ROOT/sys/devices/SLOT for each device, with vendor, device, class, config, resource, its
// resourceN files (zeros) and a driver link.
void MakeTree(const std::string &strRoot, const std::vector<FakeDevice> &aDevices);

#endif
