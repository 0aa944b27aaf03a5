// pci_vfio.h - what the VFIO access method's files share: the device opened, its opening (through its
// group or its own file) and the kernel's answer for a region.
#ifndef KYN_PCI_VFIO_H
#define KYN_PCI_VFIO_H

#include <linux/vfio.h>
#if __has_include(<linux/iommufd.h>)
#include <linux/iommufd.h>
#endif

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
    uint64_t nBarRegion = 0;     // the board BAR's region in the device file, for the accesses not mapped
    KYN_RESULT nResult = KYN_OK; // why it could not be opened or was let go, given again at every later call
    std::string strText;
    PciVfioRegion config;
};

// Opens the device's VFIO files in the kernel's order (pci_vfio_open.cpp); on any failure nothing
// stays open. Closes what is open.
KYN_RESULT PciVfioOpenDevice(PciVfioDevice &device, const PciObject &object);
void PciVfioCloseDevice(PciVfioDevice &device);
// A kernel call of the open path, through the table a test may fill.
template <typename T> int PciVfioIoctl(int fd, unsigned long nRequest, T argument)
{
    return g_pciVfioKernel.pfnIoctl(fd, nRequest, (uintptr_t)argument);
}
// Asks the kernel for a region and reads its answer, capabilities and all (pci_vfio_region.cpp).
bool PciVfioQueryRegion(int fdDevice, uint32_t nIndex, PciVfioRegion &region);

#endif
