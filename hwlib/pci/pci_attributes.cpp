// pci_attributes.cpp - the PCI library's attributes: the library's and the kernel's versions, a
// board's type and number, its serial number (the Device Serial Number) and its revision.
#include <linux/capability.h>
#include <stdio.h>
#include <sys/utsname.h>

#include "pci_internal.h"
#include "printable.h"

namespace {

// The PCI Express Device Serial Number, as lspci shows it, where the device has one.
std::string SerialNumber(const PciObject &board)
{
    // The capability lies in the extended space, which the kernel may keep from this process:
    // what could not be read is not said to be missing.
    uint8_t anHeader[4];
    g_strLibpciMessage.clear();
    if (board.nConfigSize > 256 && pci_read_block(board.pDevice, 256, anHeader, 4) == 0)
        return "not available: the extended configuration space of " + board.strSlot + " could not be read" +
               (!PciHasCapability(CAP_SYS_ADMIN) ? ": that needs CAP_SYS_ADMIN (root)"
                                                 : (g_strLibpciMessage.empty() ? "" : ": " + g_strLibpciMessage));
    pci_cap *pCap = nullptr;
    if (PciFillInfo(board.pDevice, PCI_FILL_CAPS | PCI_FILL_EXT_CAPS))
        pCap = pci_find_cap(board.pDevice, PCI_EXT_CAP_ID_DSN, PCI_CAP_EXTENDED);
    uint8_t anBytes[8];
    if (pCap != nullptr && pci_read_block(board.pDevice, (int)pCap->addr + 4, anBytes, 8) != 0) {
        char szSerial[32];
        snprintf(szSerial, sizeof szSerial, "%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x", anBytes[7], anBytes[6],
                 anBytes[5], anBytes[4], anBytes[3], anBytes[2], anBytes[1], anBytes[0]);
        return szSerial;
    }
    return "not available: " + board.strSlot + " has no Device Serial Number capability";
}

std::string BuildNumber(const PciObject &board)
{
    char szBuild[96];
    if (!PciFillInfo(board.pDevice, PCI_FILL_IDENT | PCI_FILL_CLASS_EXT))
        return "not available: " + g_strLibpciMessage;
    snprintf(szBuild, sizeof szBuild, "revision 0x%02X (%s, %04x:%04x)", (unsigned)board.pDevice->rev_id,
             board.strSlot.c_str(), (unsigned)board.pDevice->vendor_id, (unsigned)board.pDevice->device_id);
    return szBuild;
}

} // namespace

KYN_RESULT PciLookUpAttr(const KynObject *pDevice, uint32_t nId, KynAttrValue &value)
{
    if (pDevice == nullptr) {
        struct utsname names;
        if (nId == KYN_ATTR_VERSION && uname(&names) == 0) {
            value.eKind = KYN_VALUE_SZ;
            // The way the registers are reached: VFIO where KYNPCI_ACCESS says so, or where the
            // devices the settings select are bound to vfio-pci; sysfs otherwise.
            value.strText = std::string("Linux ") + names.release + " (" +
                            PciWaysText(PciMethodsInUse(), PciGetSettings().strImage.empty()
                                                                    ? "sysfs " + Printable(PciGetSettings().strSysfs)
                                                                    : "image " + Printable(PciGetSettings().strImage)) + ")";
        }
        return KYN_OK;
    }
    const PciObject *pObject = static_cast<const PciObject *>(pDevice);
    if (pObject->nMissing < 0)
        return PciFail(pObject->nMissing, "%s", pObject->strMissing.c_str());
    if (!pObject->bBridge && nId == KYN_ATTR_SERIAL_NUMBER) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = SerialNumber(*pObject);
    } else if (!pObject->bBridge && nId == KYN_ATTR_BUILD_NUMBER) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = BuildNumber(*pObject);
    } else if (pObject->bBridge && nId == KYN_ATTR_REGISTER_SPACE) {
        value.eKind = KYN_VALUE_UINT32;
        value.nValue = pObject->nConfigSize;
    } else if (nId == KYN_ATTR_REGISTER_SPACE) {
        // The BAR that holds the registers, chosen as the first access would, without mapping it;
        // one of 4 GiB or more has no size the attribute can give.
        PciObject &board = const_cast<PciObject &>(*pObject);
        if ((board.nBar >= 0 || PciChooseBar(board) >= 0) && board.pDevice->size[board.nBar] < (1ull << 32)) {
            value.eKind = KYN_VALUE_UINT32;
            value.nValue = (uint32_t)board.pDevice->size[board.nBar];
        }
    } else if (nId == KYN_ATTR_LOCATION) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = pObject->strSlot;
    } else if (!pObject->bBridge && nId == KYN_ATTR_CPLD_BUILD) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = "  not available over the kernel's PCI interface\n";
    }
    return KYN_OK;
}

