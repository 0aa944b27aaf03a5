// pci_vfio.cpp - the VFIO access method: the device opened at its first use (pci_vfio_open.cpp), its BAR
// mapped from the device file (or each access one pread or pwrite of its width), its configuration
// space through the configuration region; a device the kernel wants back let go.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "pci_vfio.h"

namespace {

// Every device opened through VFIO so far, kept until the library is released.
std::vector<PciVfioDevice *> g_apDevices;

// The object's VFIO device, kept as the method's data of the object; null before its first use.
PciVfioDevice *VfioOf(const PciObject &object)
{
    return static_cast<PciVfioDevice *>(object.pMethodData);
}

// The object's device through VFIO, opened at its first use; a refusal is given again, with its text.
KYN_RESULT DeviceOf(const PciObject &object, PciVfioDevice **ppDevice)
{
    PciVfioDevice *pDevice = VfioOf(object);
    if (pDevice == nullptr) {
        for (PciVfioDevice *pKnown : g_apDevices)
            if (pKnown->strSlot == object.strSlot)
                pDevice = pKnown;
        if (pDevice == nullptr) {
            pDevice = new PciVfioDevice();
            pDevice->strSlot = object.strSlot;
            g_apDevices.push_back(pDevice);
            pDevice->nResult = PciVfioOpenDevice(*pDevice, object);
            if (pDevice->nResult < 0) {
                pDevice->strText = PciResultText(pDevice->nResult);
                PciVfioCloseDevice(*pDevice);
            }
        }
        object.pMethodData = pDevice;
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
    PciVfioCloseDevice(device);
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
    if (!PciVfioQueryRegion(pDevice->fdDevice, VFIO_PCI_BAR0_REGION_INDEX + (uint32_t)board.nBar, region) || region.nSize == 0)
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
    pDevice->nBarRegion = region.nOffset;
    return KYN_OK;
}

KYN_RESULT BarIo(PciObject &board, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    if (RegionIo(*VfioOf(board), VfioOf(board)->nBarRegion + nAddress, nWidth, bWrite, pnValue))
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
    if (VfioOf(object) != nullptr && VfioOf(object)->nResult == KYN_OK)
        GiveBackIfAsked(*VfioOf(object));
}

void Close(PciObject &object)
{
    PciUnmapBar(object);
}

// VFIO takes the devices bound to vfio-pci, which exists to hand a device to a program.
bool ClaimsDevice(const std::string &strDriver)
{
    return strDriver == "vfio-pci";
}

} // namespace

extern const PciMethods g_pciVfio = {
    "vfio", "the device through /dev/vfio, for a device bound to vfio-pci (Secure Boot machines)",
    ClaimsDevice, "vfio /dev/vfio", " for devices bound to vfio-pci", OpenBar, BarIo, ConfigAccess, Poll, Close,
    PciVfioCloseAll};

void PciVfioCloseAll()
{
    for (PciVfioDevice *pDevice : g_apDevices) {
        PciVfioCloseDevice(*pDevice);
        delete pDevice;
    }
    g_apDevices.clear();
}
