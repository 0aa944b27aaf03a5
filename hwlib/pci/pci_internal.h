// pci_internal.h - what the PCI library's parts share: its own result codes, settings, the opened objects,
// and what selection, BAR, configuration space, attributes and the kernel checks give each other.
#ifndef KYNPCI_INTERNAL_H
#define KYNPCI_INTERNAL_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <pci/pci.h>
}

#include "KynHwDll.h"
#include "duze_limits.h"
#include "kyn_front.h"
#include "osa_library.h"
#include "osa_settings.h"

// This library's own result codes, beside the shared ones (kyn_front.h): upper field 2.
#define PCI_FAILURE(nMiddle, nCode) KYN_FAILURE(KYN_LIBRARY_PCI, nMiddle, nCode)
enum : int32_t {
    // The maker's "driver not loaded" answer to a connect, without the failure bit: no PCI tree.
    PCI_CONNECT_NO_DRIVER = 11,
    PCI_ERR_DEVICE_LIST = PCI_FAILURE(3, 0x25),
    PCI_ERR_NO_BAR = PCI_FAILURE(4, 0x34),
    PCI_ERR_IO_BAR = PCI_FAILURE(4, 0x35),
    PCI_ERR_DRIVER = PCI_FAILURE(4, 0x36),
    PCI_ERR_PERMISSION = PCI_FAILURE(4, 0x37),
    PCI_ERR_CONFIG_ACCESS = PCI_FAILURE(4, 0x38),
    PCI_ERR_LOCKDOWN = PCI_FAILURE(4, 0x39),
    PCI_ERR_DECODING_OFF = PCI_FAILURE(4, 0x3A),
    PCI_ERR_GONE = PCI_FAILURE(4, 0x3B),
    PCI_ERR_NO_IOMMU = PCI_FAILURE(4, 0x3C),
    PCI_ERR_GROUP_NOT_VIABLE = PCI_FAILURE(4, 0x3D),
    PCI_ERR_GROUP_BUSY = PCI_FAILURE(4, 0x3E),
    PCI_ERR_VFIO = PCI_FAILURE(4, 0x3F),
    PCI_ERR_NOT_SUPPORTED = PCI_FAILURE(5, 0x41),
};

// Settings (pci_settings.cpp) ---------------------------------------------------------------------

// The board type of KYNPCI_IDS's code *: every type that has no IDs of its own.
const uint32_t kPciAnyBoardType = 0xFFFFFFFFu;

// One board type's devices: those whose IDs match any of the filters, in bus order.
struct PciBoardIds {
    uint32_t nType;
    std::vector<pci_filter> aFilters;
    std::string strIds; // as given, for the messages
};

struct PciMethods;

struct PciSettings {
    std::vector<PciBoardIds> aIds; // KYNPCI_IDS
    bool bDevice = false;          // KYNPCI_DEVICE: one slot for any board type and number; wins over the IDs
    pci_filter device;
    std::string strDevice;
    int nBar = -1;                 // KYNPCI_BAR; -1: the first memory BAR
    std::string strSysfs = "/sys/bus/pci"; // as given: what texts show
    // What every later open goes through: for a tree that is not the kernel's, the directory held
    // open since its check (/proc/self/fd/N), so that nobody can swap a link on its path after it;
    // the name as given where nobody but this user and root can change where it leads.
    std::string strTreeOpen = "/sys/bus/pci";
    int fdTree = -1;               // that held directory; -1 for the kernel's tree
    // The tree is the kernel's sysfs: its files are the kernel's, links and all. Another tree's
    // device files are opened without following links.
    bool bKernelTree = true;
    bool bAllowDriver = false;     // KYNPCI_ALLOW_DRIVER
    bool bEnable = false;          // KYNPCI_ENABLE: turn on a device's memory decoding as its driver would
    const PciMethods *pAccess = nullptr; // KYNPCI_ACCESS: one access method for every device; null for auto
    std::string strTracePath;      // KYNPCI_TRACE
    std::string strImage;          // KYNPCI_IMAGE: the image the tree was made from, as given
};

// The settings file read before the environment, unless KYNPCI_CONF names another.
#define KYNPCI_CONF_DEFAULT "/etc/duzedevazu/kynpci.conf"

// Read once, from the settings file and the environment (which wins), on first use.
const PciSettings &PciGetSettings();
// Parses name=value pairs; on a malformed one returns false with a message naming it. For the tests.
bool PciParseSettings(const OsaNameValues &aValues, PciSettings &settings, std::string &strError);
// A slot filter and ID filters (comma-separated) as lspci -s and -d take them (a vendor alone
// also without its colon); false with a message naming the text where libpci refuses it.
bool PciParseSlotFilter(const std::string &strSlot, pci_filter &filter, std::string &strWhy);
bool PciParseIdFilter(const std::string &strIds, std::vector<pci_filter> &aFilters, std::string &strWhy);
// An open that failed for want of something other than a directory there (no descriptors left, no
// memory, no rights): the text says so rather than blame the tree.
bool PciFailedForItsOwnReason(int nErrno);
// Whether a tree that is not the kernel's may be used: every directory down to each device's, looked
// at through the opened root fdRoot, none another user may write, no device file a link; why not in
// strWhy, which names the root as strShown.
bool PciTrustedTree(int fdRoot, const std::string &strShown, std::string &strWhy);
// The lines of a settings file as name=value pairs; false with a message on a malformed line.
bool PciParseSettingsFile(const std::string &strText, const std::string &strFile, OsaNameValues &aValues,
                          std::string &strError);

// Opened objects (pci_select.cpp) -------------------------------------------------------------

struct PciObject;
struct PciVfioDevice;

// How a device's registers are reached, as pciutils keeps its access methods: sysfs (pci_sysfs.cpp)
// or VFIO (pci_vfio.cpp), chosen for each device when it is opened. A new method is one file with
// its table and one line of the list in pci_methods.cpp.
struct PciMethods {
    const char *pszName; // "sysfs", "vfio": KYNPCI_ACCESS and the call trace name it
    const char *pszHelp; // one line for the settings' help
    // Which devices KYNPCI_ACCESS=auto gives it, by the kernel driver bound to them; null for the
    // method of the tree itself, which takes every device no other claims.
    bool (*pfnClaims)(const std::string &strDriver);
    // The driver line's words: the way the registers go ("vfio /dev/vfio"), and the devices it takes
    // beside the tree's method (" for devices bound to vfio-pci"); null for the tree's method,
    // which the line names by its tree.
    const char *pszWay;
    const char *pszClaimed;
    // Makes the board's BAR reachable: chooses it (nBar), and maps it (pBar) or leaves its accesses
    // to pfnBarIo; its size in nBarSize.
    KYN_RESULT (*pfnOpenBar)(PciObject &board);
    // One access of the width to a BAR that is not mapped, inside it.
    KYN_RESULT (*pfnBarIo)(PciObject &board, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue);
    // One access of the width inside the configuration space.
    KYN_RESULT (*pfnConfig)(const PciObject &bridge, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue);
    // Before each access, or null: what the method must look at between accesses (VFIO: whether
    // the kernel asked for the device back).
    void (*pfnPoll)(PciObject &object);
    // At release: what the object holds of the method (mappings, files).
    void (*pfnClose)(PciObject &object);
    // At release, after every object: what the method holds for all of them; or null.
    void (*pfnCloseAll)();
};

// Every access method (pci_methods.cpp), in the order the settings' help lists them.
extern const PciMethods *const g_apPciMethods[];
extern const size_t g_nPciMethods;
// The method of a name, or null.
const PciMethods *PciFindMethod(const std::string &strName);
// The method a device takes: KYNPCI_ACCESS's, else the first that claims its driver, else the tree's.
const PciMethods *PciMethodFor(const std::string &strDriver);
// The driver line's words for the methods the selected devices take ("sysfs /sys/bus/pci").
std::string PciWaysText(const std::vector<bool> &abInUse, const std::string &strTree);

// A board device, or a board's configuration space (its "bridge", device type 24), or a board that
// was asked for and not found: every later call on that one fails with the reason it was not.
// The front's part holds its handle, the board a bridge belongs to, the type and number asked for.
struct PciObject : KynObject {
    KYN_RESULT nMissing;      // why no device answers, or KYN_OK
    std::string strMissing;
    pci_dev *pDevice;
    std::string strSlot;      // 0000:03:00.0
    std::string strDir;       // its directory in the sysfs tree, as texts show it
    std::string strOpenDir;   // the same, as its files are opened (beneath the held tree)
    uint32_t nConfigSize;     // 256 or 4096 bytes
    const PciMethods *pMethods; // how its registers are reached
    // The access method's own data of the device (VFIO: the device opened at its first use, shared by
    // a board and its bridge), as pciutils keeps its back ends' backend_data; null until it makes it.
    mutable void *pMethodData;
    // The BAR, mapped at the first register access: the mapping starts at the page that holds
    // the BAR's start, pBar at the BAR's own start within it.
    bool bMapTried;
    KYN_RESULT nMapResult;
    std::string strMapText;
    int nBar;
    volatile uint8_t *pBar;
    uint64_t nBarSize;
    void *pMapping;
    size_t nMapLength;
    int nGuard;               // its place among the guarded mappings, or -1
};

KYN_RESULT PciConnect(bool &bConnected);
// The IDs that select a board type's devices: its own, else those of code *; null for none.
const PciBoardIds *PciIdsOf(uint32_t nType);
void PciRelease();
inline PciObject *PciFindObject(KYN_HANDLE hObject)
{
    return static_cast<PciObject *>(KynFindObject(hObject));
}
KYN_RESULT PciOpenDevice(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice);
// Which access methods (by their place in g_apPciMethods) the devices the settings select (any
// board type) would take; KYNPCI_ACCESS's alone where it names one; none where no device is found.
std::vector<bool> PciMethodsInUse();
// libpci's list of the tree's devices, made and scanned once (also before the connect); a failure
// with its text where the tree cannot be listed.
KYN_RESULT PciScan();
pci_dev *PciFirstDevice();
pci_access *PciAccess();
// The scanned devices that match any of the filters, in bus order; false (the failure's text kept)
// where libpci cannot read them.
bool PciMatch(const std::vector<pci_filter> &aFilters, std::vector<pci_dev *> &apFound);
// 0000:03:00.0
std::string PciSlotName(const pci_dev *pDevice);
// libpci over a tree (pci_libpci.cpp), its fatal errors and warnings kept for the failure's text.
pci_access *PciNewAccess(const std::string &strTree);
// Runs pfnStep with libpci's fatal errors turned into a false return; the message stays in
// g_strLibpciMessage. Nothing with a destructor may live in pfnStep's frames.
bool PciGuarded(void (*pfnStep)(void *), void *pArg);
// libpci's pci_fill_info, with its fatal errors turned into false; its message is then in
// g_strLibpciMessage, as its last warning's is (with errno in g_nLibpciErrno).
bool PciFillInfo(pci_dev *pDevice, int nFlags);
extern std::string g_strLibpciMessage;
extern int g_nLibpciErrno;

// Board registers (pci_bar.cpp) ---------------------------------------------------------------

// One checked access to a board's BAR, opened by its method at the first; on a mapped BAR the fast
// path then takes 32-bit ones.
KYN_RESULT PciBarAccess(PciObject &board, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue);
// Which BAR holds the registers (KYNPCI_BAR, else the first memory BAR), checked; nBar on success.
KYN_RESULT PciChooseBar(PciObject &board);
void PciUnmapBar(PciObject &board);
// The kernel driver bound to the device (in its directory of the tree), or "".
std::string PciDriverOf(const PciObject &object);
std::string PciDriverAt(const std::string &strDir);
// A path beneath the held tree as that directory and the rest (strRest), for the *at() calls: a
// walk by name, through /proc/self/fd most of all, costs more than a relative one. Any other
// path: AT_FDCWD and itself.
int PciTreeAt(const std::string &strPath, std::string &strRest);
// open(2) of a path, relative to the held tree where it lies beneath it.
int PciTreeOpen(const std::string &strPath, int nFlags);
// The last component of a link's target (a driver's name, an IOMMU group's number), or "" where
// there is no link.
std::string PciLinkName(const std::string &strLink);

// VFIO (pci_vfio.cpp) ---------------------------------------------------------------------------

// A region of a VFIO device (a BAR, the configuration space) as VFIO_DEVICE_GET_REGION_INFO gives it.
struct PciVfioRegion {
    uint64_t nOffset = 0; // where it is in the device file
    uint64_t nSize = 0;
    bool bRead = false, bWrite = false;
    bool bMmap = false;   // the whole region may be mapped: no part of it is kept from mmap
};
// Reads the kernel's vfio_region_info (nBytes of it, its capability chain included); false when
// the bytes are no such record.
bool PciVfioParseRegion(const void *pInfo, size_t nBytes, PciVfioRegion &region);
// The IOMMU groups' directory beside the PCI tree, and the devices of a group with the driver each
// is bound to ("" for none), from the tree alone.
std::string PciIommuGroupsDir();
std::vector<std::pair<std::string, std::string>> PciGroupDevices(const std::string &strGroup);
// Closes what the VFIO path opened for every device (at release).
void PciVfioCloseAll();

// The kernel's calls VFIO's opening makes, in one table: the system's, or a test's that plays a
// kernel's answers (no IOMMU, a group not viable or in use, no rights, a device file) without a guest.
struct PciVfioKernel {
    int (*pfnOpen)(const char *pszPath, int nFlags);
    int (*pfnIoctl)(int fd, unsigned long nRequest, uintptr_t nArgument);
    bool (*pfnExists)(const char *pszPath);
    void (*pfnClose)(int fd);
    bool (*pfnTreeIsTheKernels)(); // /dev/vfio's groups are the running kernel's tree's
};
extern PciVfioKernel g_pciVfioKernel;
// Opens the object's device as its first access would, and lets it go again: the result.
KYN_RESULT PciVfioTryOpen(const PciObject &object);
// Whether this build opens VFIO's device files (iommufd), which kernel headers from 6.6 on allow.
extern const bool g_bPciVfioDeviceFiles;

// A mapped BAR whose accesses a SIGBUS may end (the device removed, the file shrunk): the fault
// is taken in the handler, the mapping replaced by plain memory, and the access fails instead of
// the process. Returns the guard's place, or -1 when every place is taken (pci_kernel.cpp).
int PciGuardMapping(void *pStart, size_t nLength, const std::string &strGoneText);
// Whether a fault came within the guarded mapping since it was made.
bool PciMappingGone(int nGuard);
void PciUnguardMapping(int nGuard);
// The kernel's lockdown mode ("integrity", "confidentiality"), or "" where there is none.
std::string PciLockdown();
// Whether the kernel grants this process the capability (CAP_SYS_ADMIN, ...) for sysfs files.
bool PciHasCapability(int nCapability);

// Configuration space (pci_config_space.cpp) ---------------------------------------------------

// One checked access of 1, 2 or 4 bytes to a bridge's configuration space; a read is zero-extended.
KYN_RESULT PciConfigAccess(const PciObject &bridge, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue);

// Attributes (pci_attributes.cpp) ---------------------------------------------------------------

// The driver's version (pDevice null) and a board's serial number, revision and CPLD text.
KYN_RESULT PciLookUpAttr(const KynObject *pDevice, uint32_t nId, KynAttrValue &value);

// Result texts (pci_results.cpp) --------------------------------------------------------------

// A failure with the text that says what failed on this call; later asked for by its code.
KYN_RESULT PciFail(KYN_RESULT nResult, const char *pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// The text of a result: the one its last failure gave, else the code's own; null for others.
const char *PciResultText(KYN_RESULT nResult);

#endif
