// pci_vfio_open.cpp - a device bound to vfio-pci opened through VFIO: through its IOMMU group's file, or
// its own file with iommufd where the kernel makes no group file; the refusals a user meets on the
// way, each saying what to do. Every kernel call goes through one table a test can fill.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "pci_vfio.h"

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
    return PciVfioIoctl(fd, nRequest, argument);
}

bool KExists(const std::string &strPath)
{
    return g_pciVfioKernel.pfnExists(strPath.c_str());
}

// Where the kernel puts VFIO's character devices.
const char kVfioDir[] = "/dev/vfio";

// Drivers a group's other devices may be bound to for the kernel to hand the group to a program.
const char *const kHarmlessDrivers[] = {"", "vfio-pci", "pci-stub", "pcieport"};


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

// What the opening found of the device's ways in.
struct OpenPlan {
    std::string strGroup, strGroupFile;
    std::string strCdev; // the device's own file where the kernel made no group file, else ""
    bool bNoIommu;
};

KYN_RESULT OpenGroupMode(PciVfioDevice &device, const OpenPlan &plan)
{
    return OpenThroughGroup(device, plan.strGroup, plan.strGroupFile, plan.bNoIommu);
}

KYN_RESULT OpenCdevMode(PciVfioDevice &device, const OpenPlan &plan)
{
#ifdef PCI_VFIO_CDEV
    return OpenThroughCdev(device, plan.strCdev);
#else
    return PciFail(PCI_ERR_VFIO,
                   "The kernel offers %s only through %s/devices/%s (iommufd, no group file), and this library was "
                   "built with kernel headers that predate it (older than 6.6): build it with newer ones",
                   device.strSlot.c_str(), kVfioDir, plan.strCdev.c_str());
#endif
}

// The ways into a device, the first that applies taken: its group's file where the kernel makes one
// (or offers no other way), else its own file. A new way is one more row.
struct OpenMode {
    bool (*pfnApplies)(const OpenPlan &plan);
    KYN_RESULT (*pfnOpen)(PciVfioDevice &device, const OpenPlan &plan);
};
const OpenMode kOpenModes[] = {
    {[](const OpenPlan &plan) { return plan.strCdev.empty(); }, OpenGroupMode},
    {[](const OpenPlan &) { return true; }, OpenCdevMode},
};

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
    OpenPlan plan = {strGroup, strGroupFile, !KExists(strGroupFile) ? CdevName(object) : std::string(), bNoIommu};
    KYN_RESULT nResult = KYN_OK;
    for (const OpenMode &mode : kOpenModes)
        if (mode.pfnApplies(plan)) {
            nResult = mode.pfnOpen(device, plan);
            break;
        }
    if (nResult < 0)
        return nResult;
    if (!PciVfioQueryRegion(device.fdDevice, VFIO_PCI_CONFIG_REGION_INDEX, device.config))
        return PciFail(PCI_ERR_VFIO, "VFIO tells nothing of the configuration space of %s: %s", pszSlot, strerror(errno));
    ListenForRequest(device);
    return KYN_OK;
}

} // namespace

KYN_RESULT PciVfioOpenDevice(PciVfioDevice &device, const PciObject &object)
{
    return OpenDevice(device, object);
}

void PciVfioCloseDevice(PciVfioDevice &device)
{
    for (int *pfd : {&device.fdRequest, &device.fdDevice, &device.fdGroup, &device.fdContainer}) {
        if (*pfd >= 0)
            g_pciVfioKernel.pfnClose(*pfd);
        *pfd = -1;
    }
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
    PciVfioCloseDevice(device);
    return nResult;
}

