// pci_config_space.cpp - the bridge's registers, the device's configuration space: past its end reads
// are all ones and writes refused, inside it each access goes to the device's access method.
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
    return bridge.pMethods->pfnConfig(bridge, nAddress, nWidth, bWrite, pnValue);
}
