// pci_config_space.cpp - the PCI library's configuration-space accesses through libpci: the bridge's
// registers, with the past-the-end, driver, rights and lockdown rules.
#include <errno.h>
#include <linux/capability.h>

#include "pci_internal.h"

// A register that is not there reads as all ones on the bus: a dump past the end of a 256-byte
// space shows 0xFFFFFFFF rather than asking its question for each register.
KYN_RESULT PciConfigAccess(const PciObject &bridge, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    if ((uint64_t)nAddress + nWidth > bridge.nConfigSize) {
        if (bWrite)
            return PciFail(KynError(KYN_ERR_OUTSIDE), "Configuration register 0x%X is past the end of the %u-byte configuration space of %s",
                           (unsigned)nAddress, (unsigned)bridge.nConfigSize, bridge.strSlot.c_str());
        *pnValue = nWidth == 4 ? 0xFFFFFFFFu : (1u << (nWidth * 8)) - 1;
        return KYN_OK;
    }
    // A live driver's device keeps its configuration as the driver set it, as its BAR is kept.
    std::string strDriver = bWrite ? PciDriverOf(bridge) : "";
    if (!strDriver.empty() && !PciGetSettings().bAllowDriver)
        return PciFail(PCI_ERR_DRIVER,
                       "%s is held by the kernel driver %s: set KYNPCI_ALLOW_DRIVER=1 to write its configuration space anyway",
                       bridge.strSlot.c_str(), strDriver.c_str());
    uint8_t anBytes[4] = {0, 0, 0, 0};
    g_nLibpciErrno = 0;
    g_strLibpciMessage.clear();
    int nDone;
    if (bWrite) {
        for (uint32_t i = 0; i < nWidth; ++i)
            anBytes[i] = (uint8_t)(*pnValue >> (8 * i));
        nDone = pci_write_block(bridge.pDevice, (int)nAddress, anBytes, (int)nWidth);
    } else {
        nDone = pci_read_block(bridge.pDevice, (int)nAddress, anBytes, (int)nWidth);
    }
    if (nDone == 0) {
        bool bRefused = g_nLibpciErrno == EACCES || g_nLibpciErrno == EPERM;
        std::string strLockdown = bWrite && bRefused ? PciLockdown() : "";
        if (!strLockdown.empty() || (bWrite && g_nLibpciErrno == EPERM && PciHasCapability(CAP_SYS_ADMIN)))
            return PciLockdownFailure(strLockdown.empty() ? "as its refusal of root shows" : strLockdown,
                                   "writes to the configuration space of " + bridge.strSlot);
        if (bWrite && bRefused)
            return PciFail(PCI_ERR_PERMISSION, "Writing the configuration space of %s needs root, or a udev rule that lets you write %s/config",
                           bridge.strSlot.c_str(), bridge.strDir.c_str());
        // The kernel shows the rest only to a process with CAP_SYS_ADMIN, whatever the file's mode.
        if (!bWrite && nAddress >= 64 && !PciHasCapability(CAP_SYS_ADMIN))
            return PciFail(PCI_ERR_PERMISSION, "Reading the configuration space of %s past 0x3F needs CAP_SYS_ADMIN (root)",
                           bridge.strSlot.c_str());
        if (!bWrite && bRefused)
            return PciFail(PCI_ERR_PERMISSION, "Reading the configuration space of %s needs root, or a udev rule that lets you read %s/config",
                           bridge.strSlot.c_str(), bridge.strDir.c_str());
        return PciFail(PCI_ERR_CONFIG_ACCESS, "%s the configuration space of %s failed: %s", bWrite ? "Writing" : "Reading",
                       bridge.strSlot.c_str(), g_strLibpciMessage.empty() ? "no answer" : g_strLibpciMessage.c_str());
    }
    if (!bWrite)
        *pnValue = (uint32_t)anBytes[0] | (uint32_t)anBytes[1] << 8 | (uint32_t)anBytes[2] << 16 | (uint32_t)anBytes[3] << 24;
    return KYN_OK;
}

