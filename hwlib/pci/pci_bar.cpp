// pci_bar.cpp - the board's registers, whichever way they are reached: the BAR chosen, opened once by
// the device's access method, each access checked and made, and the fast window opened on a mapping.
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "pci_internal.h"

// Which BAR holds the registers, checked; the object's nBar on success.
KYN_RESULT PciChooseBar(PciObject &board)
{
    const PciSettings &settings = PciGetSettings();
    if (!PciFillInfo(board.pDevice, PCI_FILL_BASES | PCI_FILL_SIZES | PCI_FILL_IO_FLAGS))
        return PciFail(PCI_ERR_NO_BAR, "The BARs of %s cannot be read: %s", board.strSlot.c_str(),
                       g_strLibpciMessage.c_str());
    const pci_dev *pDevice = board.pDevice;
    auto IsIo = [pDevice](int nBar) {
        return (pDevice->flags[nBar] & PCI_IORESOURCE_IO) != 0 ||
               (pDevice->flags[nBar] == 0 && (pDevice->base_addr[nBar] & PCI_BASE_ADDRESS_SPACE_IO) != 0);
    };
    int nBar = settings.nBar;
    if (nBar < 0) {
        for (int i = 0; i < 6 && nBar < 0; ++i)
            if (pDevice->size[i] > 0 && !IsIo(i))
                nBar = i;
        if (nBar < 0)
            return PciFail(PCI_ERR_NO_BAR, "%s has no memory BAR", board.strSlot.c_str());
    }
    if (pDevice->size[nBar] == 0 && nBar > 0 && (pDevice->flags[nBar - 1] & PCI_IORESOURCE_MEM_64) != 0)
        return PciFail(PCI_ERR_NO_BAR, "BAR%d of %s is the upper half of the 64-bit BAR%d: set KYNPCI_BAR=%d", nBar,
                       board.strSlot.c_str(), nBar - 1, nBar - 1);
    if (pDevice->size[nBar] == 0)
        return PciFail(PCI_ERR_NO_BAR, "BAR%d of %s is not implemented: set KYNPCI_BAR to a BAR the device has", nBar,
                       board.strSlot.c_str());
    if (IsIo(nBar))
        return PciFail(PCI_ERR_IO_BAR, "BAR%d of %s is an I/O-port BAR: set KYNPCI_BAR to a memory BAR", nBar,
                       board.strSlot.c_str());
    board.nBar = nBar;
    return KYN_OK;
}

void PciUnmapBar(PciObject &board)
{
    PciUnguardMapping(board.nGuard);
    if (board.pMapping != nullptr)
        munmap(board.pMapping, board.nMapLength);
    board.nGuard = -1;
    board.pMapping = nullptr;
}

KYN_RESULT PciBarAccess(PciObject &board, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    // Opened once; a refusal is given again, with its text, at every later access.
    if (!board.bMapTried) {
        board.bMapTried = true;
        board.nMapResult = board.pMethods->pfnOpenBar(board);
        if (board.nMapResult < 0)
            board.strMapText = PciResultText(board.nMapResult);
    }
    if (board.nMapResult < 0)
        return PciFail(board.nMapResult, "%s", board.strMapText.c_str());
    if (PciMappingGone(board.nGuard))
        return PCI_ERR_GONE;
    if ((uint64_t)nAddress + nWidth > board.nBarSize)
        return PciFail(KynError(KYN_ERR_OUTSIDE), "Register address 0x%X is outside BAR%d (size 0x%llX) of %s", (unsigned)nAddress,
                       board.nBar, (unsigned long long)board.nBarSize, board.strSlot.c_str());
    // A BAR the method cannot map: each access is the method's own.
    if (board.pBar == nullptr)
        return board.pMethods->pfnBarIo(board, nAddress, nWidth, bWrite, pnValue);
    // Exactly one access of the width asked for: volatile, never split, never widened.
    volatile uint8_t *pRegister = board.pBar + nAddress;
    if (bWrite) {
        if (nWidth == 1)
            *pRegister = (uint8_t)*pnValue;
        else if (nWidth == 2)
            *(volatile uint16_t *)pRegister = (uint16_t)*pnValue;
        else
            *(volatile uint32_t *)pRegister = *pnValue;
    } else {
        if (nWidth == 1)
            *pnValue = *pRegister;
        else if (nWidth == 2)
            *pnValue = *(volatile uint16_t *)pRegister;
        else
            *pnValue = *(volatile uint32_t *)pRegister;
    }
    // The device went away under this very access: its SIGBUS was taken, and the access failed.
    if (PciMappingGone(board.nGuard))
        return PCI_ERR_GONE;
    // Later 32-bit accesses go to the mapping straight from the front.
    if (nWidth == 4 && board.nBarSize >= 4)
        KynOpenFastWindow(board.hHandle, board.pBar, 0, (uint32_t)std::min<uint64_t>(board.nBarSize - 4, 0xFFFFFFFCu));
    return KYN_OK;
}
