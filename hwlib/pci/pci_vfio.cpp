// pci_vfio.cpp - the VFIO access method: a device bound to vfio-pci opened through its IOMMU group (or
// its own file, with iommufd), its BAR mapped from the device file (or each access one pread or pwrite
// of its width), its configuration space through the configuration region; and the refusals a user
// meets, each saying what to do.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/vfio.h>
#if __has_include(<linux/iommufd.h>)
#include <linux/iommufd.h>
#endif
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "pci_internal.h"

// Kernel headers from 6.6 on define the device's own file and iommufd; a library built with older
// ones opens devices through their group only, and says so where a kernel offers no group file.
#if defined(VFIO_DEVICE_BIND_IOMMUFD) && defined(IOMMU_IOAS_ALLOC)
#define PCI_VFIO_CDEV 1
#endif

// A device opened through VFIO: the container and group files it came through and its own file.
// A board and its bridge share one; it stays open until the library is released.
struct PciVfioDevice {
    std::string strSlot;
    int fdContainer = -1; // /dev/vfio/vfio, or /dev/iommu where the device came through its own file
    int fdGroup = -1;
    int fdDevice = -1;
    // Signalled when the kernel wants the device back (it is being removed or unbound): the run
    // then lets it go at its next call on it, rather than hold the removal up.
    int fdRequest = -1;
    PciObject *pBoard = nullptr; // the board whose BAR is mapped from the device file, or null
    KYN_RESULT nResult = KYN_OK; // why it could not be opened or was let go, given again at every later call
    std::string strText;
    PciVfioRegion config;
};

namespace {

int SystemOpen(const char *pszPath, int nFlags)
{
    return open(pszPath, nFlags);
}

int SystemIoctl(int fd, unsigned long nRequest, uintptr_t nArgument)
{
    return ioctl(fd, nRequest, nArgument);
}

bool SystemExists(const char *pszPath)
{
    return access(pszPath, F_OK) == 0;
}

void SystemClose(int fd)
{
    close(fd);
}

bool TreeIsTheKernels()
{
    return PciGetSettings().bKernelTree;
}

} // namespace

PciVfioKernel g_pciVfioKernel = {SystemOpen, SystemIoctl, SystemExists, SystemClose, TreeIsTheKernels};

#ifdef PCI_VFIO_CDEV
const bool g_bPciVfioDeviceFiles = true;
#else
const bool g_bPciVfioDeviceFiles = false;
#endif

namespace {

// The kernel's calls of the open path, through the table a test may fill.
int KOpen(const std::string &strPath)
{
    return g_pciVfioKernel.pfnOpen(strPath.c_str(), O_RDWR | O_CLOEXEC);
}

template <typename T> int KIoctl(int fd, unsigned long nRequest, T argument)
{
    return g_pciVfioKernel.pfnIoctl(fd, nRequest, (uintptr_t)argument);
}

bool KExists(const std::string &strPath)
{
    return g_pciVfioKernel.pfnExists(strPath.c_str());
}

// Where the kernel puts VFIO's character devices.
const char kVfioDir[] = "/dev/vfio";

// Drivers a group's other devices may be bound to for the kernel to hand the group to a program.
const char *const kHarmlessDrivers[] = {"", "vfio-pci", "pci-stub", "pcieport"};

// Every device opened through VFIO so far, kept until the library is released.
std::vector<PciVfioDevice *> g_apDevices;

// Entries of a directory but . and ..; 0 where there is no such directory.
size_t CountEntries(const std::string &strDir)
{
    size_t nCount = 0;
    DIR *pDir = opendir(strDir.c_str());
    for (struct dirent *pEntry; pDir != nullptr && (pEntry = readdir(pDir)) != nullptr;)
        nCount += pEntry->d_name[0] != '.';
    if (pDir != nullptr)
        closedir(pDir);
    return nCount;
}

void CloseDevice(PciVfioDevice &device)
{
    for (int *pfd : {&device.fdRequest, &device.fdDevice, &device.fdGroup, &device.fdContainer}) {
        if (*pfd >= 0)
            g_pciVfioKernel.pfnClose(*pfd);
        *pfd = -1;
    }
}

// Asks the kernel for a region and reads its answer, capabilities and all.
bool QueryRegion(int fdDevice, uint32_t nIndex, PciVfioRegion &region)
{
    std::vector<uint64_t> anInfo((sizeof(vfio_region_info) + 7) / 8);
    for (int nTry = 0; nTry < 2; ++nTry) {
        vfio_region_info info;
        memset(&info, 0, sizeof info);
        info.argsz = (uint32_t)(anInfo.size() * 8);
        info.index = nIndex;
        memcpy(anInfo.data(), &info, sizeof info);
        if (KIoctl(fdDevice, VFIO_DEVICE_GET_REGION_INFO, anInfo.data()) != 0)
            return false;
        memcpy(&info, anInfo.data(), sizeof info);
        // A kernel with capabilities to tell asks for room for them: once more, with that room.
        if (info.argsz <= anInfo.size() * 8 || info.argsz > 65536)
            return PciVfioParseRegion(anInfo.data(), std::min<size_t>(anInfo.size() * 8, info.argsz), region);
        anInfo.assign((info.argsz + 7) / 8, 0);
    }
    return false;
}

// The group's devices that a driver other than vfio-pci holds, for the text: "0000:00:02.0 (e1000e)".
std::string HeldByDrivers(const std::string &strGroup, const std::string &strSlot)
{
    std::string strHeld;
    for (const auto &device : PciGroupDevices(strGroup)) {
        bool bHarmless = device.first == strSlot;
        for (const char *pszDriver : kHarmlessDrivers)
            bHarmless = bHarmless || device.second == pszDriver;
        if (!bHarmless)
            strHeld += (strHeld.empty() ? "" : ", ") + device.first + " (" + device.second + ")";
    }
    return strHeld;
}

// Asks the kernel to signal an eventfd when it wants the device back. A kernel that cannot is not
// asked; its removal then waits for the run to end.
void ListenForRequest(PciVfioDevice &device)
{
    device.fdRequest = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (device.fdRequest < 0)
        return;
    uint8_t abSet[sizeof(vfio_irq_set) + sizeof(int32_t)];
    vfio_irq_set set;
    memset(&set, 0, sizeof set);
    set.argsz = sizeof abSet;
    set.flags = VFIO_IRQ_SET_DATA_EVENTFD | VFIO_IRQ_SET_ACTION_TRIGGER;
    set.index = VFIO_PCI_REQ_IRQ_INDEX;
    set.count = 1;
    int32_t fdSignal = device.fdRequest;
    memcpy(abSet, &set, sizeof set);
    memcpy(abSet + sizeof set, &fdSignal, sizeof fdSignal);
    if (KIoctl(device.fdDevice, VFIO_DEVICE_SET_IRQS, abSet) != 0) {
        close(device.fdRequest);
        device.fdRequest = -1;
    }
}

// The group's way in: the container, the group's file (noiommu-N in the kernel's unsafe mode), the
// IOMMU set on the container, the device's file from the group.
KYN_RESULT OpenThroughGroup(PciVfioDevice &device, const std::string &strGroup, const std::string &strGroupFile,
                            bool bNoIommu)
{
    const char *pszSlot = device.strSlot.c_str();
    device.fdContainer = KOpen(std::string(kVfioDir) + "/vfio");
    if (device.fdContainer < 0)
        return PciFail(PCI_ERR_VFIO, "%s/vfio cannot be opened (%s): load the vfio-pci module", kVfioDir, strerror(errno));
    if (KIoctl(device.fdContainer, VFIO_GET_API_VERSION, 0) != VFIO_API_VERSION)
        return PciFail(PCI_ERR_VFIO, "The kernel's VFIO interface is not version %d", VFIO_API_VERSION);
    device.fdGroup = KOpen(strGroupFile);
    if (device.fdGroup < 0 && errno == EBUSY)
        return PciFail(PCI_ERR_GROUP_BUSY,
                       "IOMMU group %s of %s is in use by another process (another run on this board?): the kernel "
                       "gives a group to one program at a time",
                       strGroup.c_str(), pszSlot);
    if (device.fdGroup < 0 && (errno == EACCES || errno == EPERM))
        return PciFail(PCI_ERR_PERMISSION,
                       "Opening %s for %s needs root, or a udev rule that gives your group that file "
                       "(SUBSYSTEM==\"vfio\", GROUP=\"...\", MODE=\"0660\")",
                       strGroupFile.c_str(), pszSlot);
    if (device.fdGroup < 0)
        return PciFail(PCI_ERR_VFIO, "%s cannot be opened for %s: %s", strGroupFile.c_str(), pszSlot, strerror(errno));
    vfio_group_status status;
    memset(&status, 0, sizeof status);
    status.argsz = sizeof status;
    if (KIoctl(device.fdGroup, VFIO_GROUP_GET_STATUS, &status) != 0 || (status.flags & VFIO_GROUP_FLAGS_VIABLE) == 0)
        return PciFail(PCI_ERR_GROUP_NOT_VIABLE,
                       "IOMMU group %s of %s is not viable: a device of the group is still bound to a driver; bind "
                       "every device of the group to vfio-pci, or unbind it",
                       strGroup.c_str(), pszSlot);
    int nIommu = bNoIommu ? VFIO_NOIOMMU_IOMMU
                 : KIoctl(device.fdContainer, VFIO_CHECK_EXTENSION, VFIO_TYPE1v2_IOMMU) > 0 ? VFIO_TYPE1v2_IOMMU
                                                                                            : VFIO_TYPE1_IOMMU;
    if (KIoctl(device.fdGroup, VFIO_GROUP_SET_CONTAINER, &device.fdContainer) != 0 ||
        KIoctl(device.fdContainer, VFIO_SET_IOMMU, nIommu) != 0)
        return PciFail(PCI_ERR_VFIO, "The IOMMU of group %s of %s cannot be set up (%s): load vfio_iommu_type1",
                       strGroup.c_str(), pszSlot, strerror(errno));
    device.fdDevice = KIoctl(device.fdGroup, VFIO_GROUP_GET_DEVICE_FD, pszSlot);
    if (device.fdDevice < 0 && errno == EBUSY)
        return PciFail(PCI_ERR_GROUP_BUSY, "%s is in use by another process (another run on this board?)", pszSlot);
    if (device.fdDevice < 0)
        return PciFail(PCI_ERR_VFIO, "VFIO gives no file for %s: %s", pszSlot, strerror(errno));
    return KYN_OK;
}

// The device's own character device, /dev/vfio/devices/vfioN, named by its vfio-dev entry in sysfs;
// empty where the kernel made none (it was built without it, or the device is not bound to vfio-pci).
std::string CdevName(const PciObject &object)
{
    std::string strName;
    DIR *pDir = opendir((object.strOpenDir + "/vfio-dev").c_str());
    for (struct dirent *pEntry; pDir != nullptr && (pEntry = readdir(pDir)) != nullptr;)
        if (strncmp(pEntry->d_name, "vfio", 4) == 0)
            strName = pEntry->d_name;
    if (pDir != nullptr)
        closedir(pDir);
    return strName;
}

#ifdef PCI_VFIO_CDEV
// The device's own way in, for kernels with iommufd and no group files: the device's file bound to
// an iommufd, and attached to an address space of its own, which maps nothing: the device reaches
// no memory of the machine.
KYN_RESULT OpenThroughCdev(PciVfioDevice &device, const std::string &strCdev)
{
    const char *pszSlot = device.strSlot.c_str();
    std::string strFile = std::string(kVfioDir) + "/devices/" + strCdev;
    device.fdDevice = KOpen(strFile);
    if (device.fdDevice < 0 && (errno == EACCES || errno == EPERM))
        return PciFail(PCI_ERR_PERMISSION,
                       "Opening %s for %s needs root, or a udev rule that gives your group that file and /dev/iommu "
                       "(SUBSYSTEM==\"vfio-dev\", GROUP=\"...\", MODE=\"0660\"; KERNEL==\"iommu\", GROUP=\"...\", "
                       "MODE=\"0660\")",
                       strFile.c_str(), pszSlot);
    if (device.fdDevice < 0)
        return PciFail(PCI_ERR_VFIO, "%s cannot be opened for %s: %s", strFile.c_str(), pszSlot, strerror(errno));
    // The iommufd's file takes the container's place.
    device.fdContainer = KOpen("/dev/iommu");
    if (device.fdContainer < 0 && (errno == EACCES || errno == EPERM))
        return PciFail(PCI_ERR_PERMISSION,
                       "Opening /dev/iommu for %s needs root, or a udev rule that gives your group that file "
                       "(KERNEL==\"iommu\", GROUP=\"...\", MODE=\"0660\")",
                       pszSlot);
    if (device.fdContainer < 0)
        return PciFail(PCI_ERR_VFIO, "/dev/iommu cannot be opened for %s (%s): load the iommufd module", pszSlot,
                       strerror(errno));
    vfio_device_bind_iommufd bind;
    memset(&bind, 0, sizeof bind);
    bind.argsz = sizeof bind;
    bind.iommufd = device.fdContainer;
    // The kernel binds a device once: a second run (EINVAL), or a program holding its group (EBUSY).
    if (KIoctl(device.fdDevice, VFIO_DEVICE_BIND_IOMMUFD, &bind) != 0)
        return errno == EBUSY || errno == EINVAL
                   ? PciFail(PCI_ERR_GROUP_BUSY, "%s is in use by another process (another run on this board?)", pszSlot)
                   : PciFail(PCI_ERR_VFIO, "%s cannot be bound to /dev/iommu: %s", pszSlot, strerror(errno));
    iommu_ioas_alloc ioas;
    memset(&ioas, 0, sizeof ioas);
    ioas.size = sizeof ioas;
    bool bAttached = KIoctl(device.fdContainer, IOMMU_IOAS_ALLOC, &ioas) == 0;
    if (bAttached) {
        vfio_device_attach_iommufd_pt attach;
        memset(&attach, 0, sizeof attach);
        attach.argsz = sizeof attach;
        attach.pt_id = ioas.out_ioas_id;
        bAttached = KIoctl(device.fdDevice, VFIO_DEVICE_ATTACH_IOMMUFD_PT, &attach) == 0;
    }
    if (!bAttached)
        return PciFail(PCI_ERR_VFIO, "The IOMMU of %s cannot be set up through /dev/iommu: %s", pszSlot, strerror(errno));
    return KYN_OK;
}
#endif

// The device's VFIO files, opened in the kernel's order; on any failure nothing stays open.
KYN_RESULT OpenDevice(PciVfioDevice &device, const PciObject &object)
{
    const char *pszSlot = object.strSlot.c_str();
    std::string strGroup = PciLinkName(object.strOpenDir + "/iommu_group");
    if (strGroup.empty() && CountEntries(PciIommuGroupsDir()) == 0)
        return PciFail(PCI_ERR_NO_IOMMU,
                       "%s has no IOMMU group: the kernel runs without an IOMMU. Boot with intel_iommu=on (Intel) or "
                       "amd_iommu=on (AMD), or load vfio with enable_unsafe_noiommu_mode=1 (no protection from the "
                       "device's DMA)",
                       pszSlot);
    if (strGroup.empty())
        return PciFail(PCI_ERR_NO_IOMMU, "%s is in no IOMMU group: the IOMMU the kernel runs does not cover it", pszSlot);
    std::string strDriver = PciDriverOf(object);
    if (strDriver != "vfio-pci")
        return PciFail(PCI_ERR_VFIO,
                       "%s is not bound to vfio-pci (%s%s): bind it with driverctl set-override %s vfio-pci, or set "
                       "KYNPCI_ACCESS=sysfs",
                       pszSlot, strDriver.empty() ? "no driver" : "driver ", strDriver.c_str(), pszSlot);
    std::string strHeld = HeldByDrivers(strGroup, object.strSlot);
    if (!strHeld.empty())
        return PciFail(PCI_ERR_GROUP_NOT_VIABLE,
                       "IOMMU group %s of %s also holds %s: bind every device of the group to vfio-pci, or unbind it",
                       strGroup.c_str(), pszSlot, strHeld.c_str());
    // /dev/vfio is the running kernel's: a group number from another tree (a test's, a copy) names
    // some other device of this machine, or none.
    if (!g_pciVfioKernel.pfnTreeIsTheKernels())
        return PciFail(PCI_ERR_VFIO,
                       "%s is in a tree that is not the kernel's (KYNPCI_SYSFS=%s): VFIO opens only devices of the "
                       "kernel's own tree",
                       pszSlot, PciGetSettings().strSysfs.c_str());
    // The group's file where the kernel makes one (the kernel's unsafe mode without an IOMMU names
    // it noiommu-N); else the device's own file.
    std::string strGroupFile = std::string(kVfioDir) + "/" + strGroup;
    bool bNoIommu = !KExists(strGroupFile) && KExists(std::string(kVfioDir) + "/noiommu-" + strGroup);
    if (bNoIommu)
        strGroupFile = std::string(kVfioDir) + "/noiommu-" + strGroup;
    std::string strCdev = !KExists(strGroupFile) ? CdevName(object) : std::string();
    KYN_RESULT nResult = KYN_OK;
    if (strCdev.empty())
        nResult = OpenThroughGroup(device, strGroup, strGroupFile, bNoIommu);
    else
#ifdef PCI_VFIO_CDEV
        nResult = OpenThroughCdev(device, strCdev);
#else
        return PciFail(PCI_ERR_VFIO,
                       "The kernel offers %s only through %s/devices/%s (iommufd, no group file), and this library was "
                       "built with kernel headers that predate it (older than 6.6): build it with newer ones",
                       pszSlot, kVfioDir, strCdev.c_str());
#endif
    if (nResult < 0)
        return nResult;
    if (!QueryRegion(device.fdDevice, VFIO_PCI_CONFIG_REGION_INDEX, device.config))
        return PciFail(PCI_ERR_VFIO, "VFIO tells nothing of the configuration space of %s: %s", pszSlot, strerror(errno));
    ListenForRequest(device);
    return KYN_OK;
}

// The object's device through VFIO, opened at its first use; a refusal is given again, with its text.
KYN_RESULT DeviceOf(const PciObject &object, PciVfioDevice **ppDevice)
{
    PciVfioDevice *pDevice = object.pVfio;
    if (pDevice == nullptr) {
        for (PciVfioDevice *pKnown : g_apDevices)
            if (pKnown->strSlot == object.strSlot)
                pDevice = pKnown;
        if (pDevice == nullptr) {
            pDevice = new PciVfioDevice();
            pDevice->strSlot = object.strSlot;
            g_apDevices.push_back(pDevice);
            pDevice->nResult = OpenDevice(*pDevice, object);
            if (pDevice->nResult < 0) {
                pDevice->strText = PciResultText(pDevice->nResult);
                CloseDevice(*pDevice);
            }
        }
        object.pVfio = pDevice;
    }
    *ppDevice = pDevice;
    return pDevice->nResult < 0 ? PciFail(pDevice->nResult, "%s", pDevice->strText.c_str()) : KYN_OK;
}

// Where the kernel asked for the device back: the fast path leaves the mapping, the mapping and the
// files are let go, and every later call on the device fails, saying why.
void GiveBackIfAsked(PciVfioDevice &device)
{
    uint64_t nCount = 0;
    if (device.fdRequest < 0 || read(device.fdRequest, &nCount, sizeof nCount) != (ssize_t)sizeof nCount)
        return;
    KynCloseFastWindow();
    device.nResult = PciFail(PCI_ERR_GONE,
                             "The kernel took %s back (it is being removed or unbound): the run let it go, and "
                             "its accesses fail from here on",
                             device.strSlot.c_str());
    device.strText = PciResultText(device.nResult);
    if (device.pBoard != nullptr) {
        PciUnmapBar(*device.pBoard);
        device.pBoard->pBar = nullptr;
        device.pBoard->nMapResult = device.nResult;
        device.pBoard->strMapText = device.strText;
    }
    CloseDevice(device);
}

// One pread or pwrite of exactly the width: the kernel makes one access of that width.
bool RegionIo(const PciVfioDevice &device, uint64_t nOffset, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    uint8_t anBytes[4] = {0, 0, 0, 0};
    for (uint32_t i = 0; bWrite && i < nWidth; ++i)
        anBytes[i] = (uint8_t)(*pnValue >> (8 * i));
    ssize_t nDone = bWrite ? pwrite(device.fdDevice, anBytes, nWidth, (off_t)nOffset)
                           : pread(device.fdDevice, anBytes, nWidth, (off_t)nOffset);
    if (nDone != (ssize_t)nWidth) {
        if (nDone >= 0)
            errno = EIO;
        return false;
    }
    if (!bWrite)
        *pnValue = (uint32_t)anBytes[0] | (uint32_t)anBytes[1] << 8 | (uint32_t)anBytes[2] << 16 | (uint32_t)anBytes[3] << 24;
    return true;
}

// vfio-pci turns a device's memory decoding on when a program opens it; one that is off all the same
// is turned on where KYNPCI_ENABLE says, as on the sysfs path.
KYN_RESULT CheckMemoryDecoding(const PciObject &board, const PciVfioDevice &device)
{
    uint32_t nCommand = 0;
    if (!RegionIo(device, device.config.nOffset + PCI_COMMAND, 2, false, &nCommand) || (nCommand & PCI_COMMAND_MEMORY) != 0)
        return KYN_OK;
    if (!PciGetSettings().bEnable)
        return PciFail(PCI_ERR_DECODING_OFF,
                       "Memory decoding of %s is off (Memory Space clear in its Command register): set KYNPCI_ENABLE=1 "
                       "to turn it on",
                       board.strSlot.c_str());
    nCommand |= PCI_COMMAND_MEMORY;
    if (!RegionIo(device, device.config.nOffset + PCI_COMMAND, 2, true, &nCommand))
        return PciFail(PCI_ERR_DECODING_OFF, "Memory decoding of %s is off, and turning it on failed: %s",
                       board.strSlot.c_str(), strerror(errno));
    return KYN_OK;
}

KYN_RESULT OpenBar(PciObject &board)
{
    PciVfioDevice *pDevice = nullptr;
    KYN_RESULT nResult = DeviceOf(board, &pDevice);
    if (nResult < 0)
        return nResult;
    nResult = PciChooseBar(board);
    if (nResult < 0)
        return nResult;
    PciVfioRegion region;
    if (!QueryRegion(pDevice->fdDevice, VFIO_PCI_BAR0_REGION_INDEX + (uint32_t)board.nBar, region) || region.nSize == 0)
        return PciFail(PCI_ERR_NO_BAR, "VFIO offers no region for BAR%d of %s", board.nBar, board.strSlot.c_str());
    nResult = CheckMemoryDecoding(board, *pDevice);
    if (nResult < 0)
        return nResult;
    board.nBarSize = std::min<uint64_t>(region.nSize, 1ull << 32);
    // Where the kernel lets the whole region be mapped, the accesses go to the mapping (and the fast
    // path); elsewhere (a BAR smaller than a page that does not start one, parts kept from mmap)
    // each is a pread or pwrite.
    void *pMapped = MAP_FAILED;
    if (region.bMmap && region.bRead && region.bWrite)
        pMapped = mmap(nullptr, (size_t)board.nBarSize, PROT_READ | PROT_WRITE, MAP_SHARED, pDevice->fdDevice,
                       (off_t)region.nOffset);
    if (pMapped != MAP_FAILED) {
        board.pMapping = pMapped;
        board.nMapLength = (size_t)board.nBarSize;
        board.pBar = (volatile uint8_t *)pMapped;
        char szGone[160];
        snprintf(szGone, sizeof szGone, "BAR%d of %s went away during the access: the device was removed or reset",
                 board.nBar, board.strSlot.c_str());
        board.nGuard = PciGuardMapping(pMapped, board.nMapLength, szGone);
        pDevice->pBoard = &board;
    }
    board.nRegionOffset = region.nOffset;
    return KYN_OK;
}

KYN_RESULT BarIo(PciObject &board, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    if (RegionIo(*board.pVfio, board.nRegionOffset + nAddress, nWidth, bWrite, pnValue))
        return KYN_OK;
    if (errno == ENODEV || errno == EIO)
        return PciFail(PCI_ERR_GONE, "BAR%d of %s did not answer the access (%s): the device was removed or reset",
                       board.nBar, board.strSlot.c_str(), strerror(errno));
    return PciFail(PCI_ERR_VFIO, "VFIO refused the %u-bit %s at 0x%X of BAR%d of %s: %s", (unsigned)nWidth * 8,
                   bWrite ? "write" : "read", (unsigned)nAddress, board.nBar, board.strSlot.c_str(), strerror(errno));
}

// vfio-pci shows the configuration space as a program may use it: writes go to the device, but the
// BARs and some capability fields are its own, virtual values.
KYN_RESULT ConfigAccess(const PciObject &bridge, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    PciVfioDevice *pDevice = nullptr;
    KYN_RESULT nResult = DeviceOf(bridge, &pDevice);
    if (nResult < 0)
        return nResult;
    if (RegionIo(*pDevice, pDevice->config.nOffset + nAddress, nWidth, bWrite, pnValue))
        return KYN_OK;
    return PciFail(PCI_ERR_CONFIG_ACCESS, "%s the configuration space of %s through VFIO failed: %s",
                   bWrite ? "Writing" : "Reading", bridge.strSlot.c_str(), strerror(errno));
}

// Before each access: the device let go where the kernel asked for it back.
void Poll(PciObject &object)
{
    if (object.pVfio != nullptr && object.pVfio->nResult == KYN_OK)
        GiveBackIfAsked(*object.pVfio);
}

void Close(PciObject &object)
{
    PciUnmapBar(object);
}

} // namespace

extern const PciMethods g_pciVfio = {"vfio", OpenBar, BarIo, ConfigAccess, Poll, Close};

bool PciVfioParseRegion(const void *pInfo, size_t nBytes, PciVfioRegion &region)
{
    vfio_region_info info;
    if (nBytes < sizeof info)
        return false;
    memcpy(&info, pInfo, sizeof info);
    region.nOffset = info.offset;
    region.nSize = info.size;
    region.bRead = (info.flags & VFIO_REGION_INFO_FLAG_READ) != 0;
    region.bWrite = (info.flags & VFIO_REGION_INFO_FLAG_WRITE) != 0;
    region.bMmap = (info.flags & VFIO_REGION_INFO_FLAG_MMAP) != 0;
    if ((info.flags & VFIO_REGION_INFO_FLAG_CAPS) == 0)
        return true;
    // The capability chain: each header's next is an offset from the record's start, 0 at the end,
    // and only ever forward, so a broken chain cannot loop.
    const uint8_t *pBytes = (const uint8_t *)pInfo;
    for (uint32_t nAt = info.cap_offset; nAt != 0;) {
        vfio_info_cap_header header;
        if (nAt < sizeof info || nAt > nBytes || nBytes - nAt < sizeof header)
            return false;
        memcpy(&header, pBytes + nAt, sizeof header);
        if (header.id == VFIO_REGION_INFO_CAP_SPARSE_MMAP) {
            // Only these parts may be mapped: the whole region is mappable when one part covers it.
            vfio_region_info_cap_sparse_mmap sparse;
            if (nBytes - nAt < sizeof sparse)
                return false;
            memcpy(&sparse, pBytes + nAt, sizeof sparse);
            size_t nAreas = (nBytes - nAt - sizeof sparse) / sizeof(vfio_region_sparse_mmap_area);
            if (sparse.nr_areas > nAreas)
                return false;
            bool bWhole = false;
            for (uint32_t i = 0; i < sparse.nr_areas; ++i) {
                vfio_region_sparse_mmap_area area;
                memcpy(&area, pBytes + nAt + sizeof sparse + i * sizeof area, sizeof area);
                bWhole = bWhole || (area.offset == 0 && area.size >= info.size);
            }
            region.bMmap = region.bMmap && bWhole;
        }
        if (header.next != 0 && header.next <= nAt)
            return false;
        nAt = header.next;
    }
    return true;
}

std::string PciIommuGroupsDir()
{
    // Beside the kernel's tree, /sys/kernel/iommu_groups; beside another tree (a test's), its kernel/.
    const std::string &strSysfs = PciGetSettings().strSysfs;
    const std::string strBus = "/bus/pci";
    if (strSysfs.size() > strBus.size() && strSysfs.compare(strSysfs.size() - strBus.size(), strBus.size(), strBus) == 0)
        return strSysfs.substr(0, strSysfs.size() - strBus.size()) + "/kernel/iommu_groups";
    return strSysfs + "/kernel/iommu_groups";
}

std::vector<std::pair<std::string, std::string>> PciGroupDevices(const std::string &strGroup)
{
    std::vector<std::pair<std::string, std::string>> aDevices;
    DIR *pDir = opendir((PciIommuGroupsDir() + "/" + strGroup + "/devices").c_str());
    for (struct dirent *pEntry; pDir != nullptr && (pEntry = readdir(pDir)) != nullptr;) {
        std::string strSlot = pEntry->d_name;
        if (strSlot[0] != '.')
            aDevices.push_back({strSlot, PciDriverAt(PciGetSettings().strTreeOpen + "/devices/" + strSlot)});
    }
    if (pDir != nullptr)
        closedir(pDir);
    std::sort(aDevices.begin(), aDevices.end());
    return aDevices;
}

KYN_RESULT PciVfioTryOpen(const PciObject &object)
{
    PciVfioDevice device;
    device.strSlot = object.strSlot;
    KYN_RESULT nResult = OpenDevice(device, object);
    CloseDevice(device);
    return nResult;
}

void PciVfioCloseAll()
{
    for (PciVfioDevice *pDevice : g_apDevices) {
        CloseDevice(*pDevice);
        delete pDevice;
    }
    g_apDevices.clear();
}
