// kyn_pci.h - what duzedevazu-pci asks of its PCI library beyond the maker's interface: its filters
// checked as lspci takes them, the machine's devices listed, and whether the board asked for is there.
#ifndef KYN_PCI_H
#define KYN_PCI_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

// A setting the program takes from its command line (KYNPCI_DEVICE for --device, KYNPCI_IDS for
// --ids, KYNPCI_IMAGE for --image): it wins over the environment and the settings file, and a
// selection it gives (KYNPCI_DEVICE, KYNPCI_IDS) replaces theirs as a whole. Given before the
// library first reads its settings, which the console's start does.
void KynPciSetSetting(const char *pszName, const char *pszValue);
// A setting as the program gave it, else as the environment does, or "": for what the program
// must know before the library reads its settings (the image a run replays).
std::string KynPciProgramSetting(const char *pszName);
// The settings as the library reads them (file, environment, command line): the BAR of the board's
// registers (KYNPCI_BAR; -1 the first memory BAR), whether a driver's device may be read
// (KYNPCI_ALLOW_DRIVER).
int KynPciBoardBar();
bool KynPciAllowsDriver();

// Whether a slot (--device) or IDs (--ids, comma-separated) are what lspci -s or -d takes; a vendor
// alone may leave out its colon. Why not in strWhy.
bool KynPciCheckSlot(const char *pszSlot, std::string &strWhy);
bool KynPciCheckIds(const char *pszIds, std::string &strWhy);

// Every PCI function of the tree that the filters select (null: any), a header line first: slot,
// IDs, class, the board type and number the settings give it for a run of nType and nNumber, driver,
// IOMMU group, the way to its registers or why there is none, its BARs, its names from the ID
// database where the machine has one. False with strError where the tree cannot be listed. Each
// device's fields by name, too, for records (a device that cannot be read: slot and error).
using KynPciListed = std::vector<std::pair<std::string, std::string>>;
bool KynPciListDevices(const char *pszSlot, const char *pszIds, uint32_t nType, uint32_t nNumber,
                       std::vector<std::string> &aLines, std::vector<KynPciListed> &aListed, std::string &strError);

// Whether board nType number nNumber is found under the settings, before the library is connected.
enum KynPciSelection {
    kPciSelected,        // found, or the tree cannot tell (the start-up says why)
    kPciNothingSelected, // no KYNPCI_DEVICE, and no KYNPCI_IDS for the type
    kPciNoMatch,         // the selection matches no device
    kPciTooFew,          // fewer devices than the board number needs
    kPciSeveral,         // KYNPCI_DEVICE matches more than one device
};
struct KynPciBoardCheck {
    KynPciSelection eResult = kPciSelected;
    bool bBySlot = false;     // KYNPCI_DEVICE decides, not KYNPCI_IDS
    std::string strSelection; // the slot, or the IDs (without their board type)
    size_t nFound = 0;
    std::string strSlots;     // up to three of the devices found
};
KynPciBoardCheck KynPciCheckBoard(uint32_t nType, uint32_t nNumber);

// The sysfs directory of the device board nType number nNumber selects, opened read-only (a
// directory descriptor the caller closes), its slot and bound driver given back; -1 with strError
// where none is selected or it cannot be opened. Nothing on the device is touched.
int KynPciOpenBoardDir(uint32_t nType, uint32_t nNumber, std::string &strSlot, std::string &strDriver,
                       std::string &strError);

// A mapping of a BAR's file the caller reads itself (saving an image), guarded as the library guards
// its own: a SIGBUS within it (the device removed, the file shrunk) is taken, the mapping becomes
// plain memory, and KynPciMappingGone says so. -1 where every guard is taken: reads go unguarded.
int KynPciGuardMapping(void *pStart, size_t nLength);
bool KynPciMappingGone(int nGuard);
void KynPciUnguardMapping(int nGuard);

#endif
