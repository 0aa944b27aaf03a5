// pci_results.cpp - the PCI library's result codes and their texts: each code's own, or the one its last
// failure gave, which names the device, the register and the setting that decides.
#include <stdarg.h>
#include <stdio.h>
#include <map>

#include "pci_internal.h"
#include "printable.h"

namespace {

struct ResultEntry {
    KYN_RESULT nResult;
    const char *pszText;
};
const ResultEntry g_aResultTexts[] = {
    {PCI_CONNECT_NO_DRIVER, "The kernel has no PCI device tree to connect to."},
    {KynError(KYN_ERR_NOT_CONNECTED), "The library is not connected to the kernel's PCI interface."},
    {KynError(KYN_ERR_NO_SUCH_DEVICE), "No PCI device matches the board (KYNPCI_IDS, KYNPCI_DEVICE)."},
    {PCI_ERR_DEVICE_LIST, "The kernel's list of PCI devices cannot be read."},
    {KynError(KYN_ERR_OUTSIDE), "Register address is outside the BAR or the configuration space."},
    {PCI_ERR_NO_BAR, "The board's BAR cannot be mapped."},
    {PCI_ERR_IO_BAR, "The BAR is an I/O-port BAR; board registers must be in a memory BAR (KYNPCI_BAR)."},
    {PCI_ERR_DRIVER, "A kernel driver holds the device (KYNPCI_ALLOW_DRIVER)."},
    {PCI_ERR_PERMISSION, "Not permitted: root or a udev rule is needed."},
    {PCI_ERR_CONFIG_ACCESS, "The configuration space access failed."},
    {PCI_ERR_LOCKDOWN, "The kernel is in lockdown: it refuses BAR mappings and configuration writes through sysfs."},
    {PCI_ERR_DECODING_OFF, "The device's memory decoding is off (KYNPCI_ENABLE)."},
    {PCI_ERR_GONE, "The device or its BAR went away."},
    {PCI_ERR_NO_IOMMU, "The device has no IOMMU group: VFIO needs an IOMMU (intel_iommu=on, amd_iommu=on)."},
    {PCI_ERR_GROUP_NOT_VIABLE, "A driver holds another device of the IOMMU group: VFIO needs the whole group."},
    {PCI_ERR_GROUP_BUSY, "The IOMMU group is in use by another process."},
    {PCI_ERR_VFIO, "The kernel's VFIO interface refused the device (KYNPCI_ACCESS)."},
    {PCI_ERR_NOT_SUPPORTED, "Debug commands are not supported by the PCI library."},
};

} // namespace

KYN_RESULT PciFail(KYN_RESULT nResult, const char *pszFormat, ...)
{
    char szText[kPciTextSize];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    // A path or name in the text (KYNPCI_SYSFS, a link's target) is shown as printable text.
    return KynFailWithText(nResult, Printable(szText));
}

const char *PciResultText(KYN_RESULT nResult)
{
    if (const char *pszLast = KynRememberedText(nResult))
        return pszLast;
    for (const ResultEntry &entry : g_aResultTexts)
        if (entry.nResult == nResult)
            return entry.pszText;
    return KynSharedResultText(nResult);
}
