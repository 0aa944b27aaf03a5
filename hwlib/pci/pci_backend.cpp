// pci_backend.cpp - the PCI library's back end: its table of operations for the front, and the
// checks every register access shares before it goes to a board's BAR or a bridge's configuration space.
#include "pci_internal.h"

namespace {

std::string StartConsole()
{
    return PciGetSettings().strTracePath;
}

// The settings are read on first use, whichever call that is.
KYN_RESULT Enter(KynOp, uint32_t)
{
    PciGetSettings();
    return KYN_OK;
}

KYN_RESULT Release()
{
    PciRelease();
    return KYN_OK;
}

KYN_RESULT Access(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    if (!g_bPciConnected)
        return KynError(KYN_ERR_NOT_CONNECTED);
    PciObject *pObject = PciFindObject(hDevice);
    if (pObject == nullptr)
        return KynError(KYN_ERR_INVALID_HANDLE);
    if (pObject->nMissing < 0)
        return PciFail(pObject->nMissing, "%s", pObject->strMissing.c_str());
    if (pObject->pMethods->pfnPoll != nullptr)
        pObject->pMethods->pfnPoll(*pObject);
    if ((nAddress & (nWidth - 1)) != 0)
        return PciFail(KynError(KYN_ERR_MISALIGNED), "Register address 0x%X is not aligned to the %u-bit access width",
                       (unsigned)nAddress, (unsigned)nWidth * 8);
    if (pObject->bBridge)
        return PciConfigAccess(*pObject, nAddress, nWidth, bWrite, pnValue);
    return PciBarAccess(*pObject, nAddress, nWidth, bWrite, pnValue);
}

KYN_RESULT Read(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, uint32_t *pnValue)
{
    return Access(hDevice, nAddress, nWidth, false, pnValue);
}

KYN_RESULT Write(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, uint32_t nValue)
{
    return Access(hDevice, nAddress, nWidth, true, &nValue);
}

// The access method every call on the device takes, and its slot.
const char *DeviceNote(KYN_HANDLE hDevice)
{
    static std::string s_strNote;
    const PciObject *pObject = PciFindObject(hDevice);
    if (pObject == nullptr || pObject->pDevice == nullptr)
        return nullptr;
    s_strNote = std::string(pObject->pMethods->pszName) + " " + pObject->strSlot;
    return s_strNote.c_str();
}

KYN_RESULT Debug(KYN_HANDLE hDevice, int32_t nCommand)
{
    const PciObject *pObject = g_bPciConnected ? PciFindObject(hDevice) : nullptr;
    if (!g_bPciConnected)
        return KynError(KYN_ERR_NOT_CONNECTED);
    if (pObject == nullptr)
        return KynError(KYN_ERR_INVALID_HANDLE);
    if (pObject->nMissing < 0)
        return PciFail(pObject->nMissing, "%s", pObject->strMissing.c_str());
    return PciFail(PCI_ERR_NOT_SUPPORTED, "Debug commands are not supported by the PCI library (command 0x%X)",
                   (unsigned)nCommand);
}


constexpr KynBackEnd Table()
{
    KynBackEnd table = {};
    table.nLibrary = KYN_LIBRARY_PCI;
    table.pszTraceName = "kynpci";
    table.pszTraceSetting = "KYNPCI_TRACE";
    table.pfnStartConsole = StartConsole;
    table.pfnEnter = Enter;
    table.pfnConnect = PciConnect;
    table.pfnRelease = Release;
    table.pfnLookUpAttr = PciLookUpAttr;
    table.pfnOpenDevice = PciOpenDevice;
    table.pfnDeviceNote = DeviceNote;
    table.pfnRead = Read;
    table.pfnWrite = Write;
    table.pfnDebug = Debug;
    table.pfnResultText = PciResultText;
    table.pfnTime = OsaTime100ns;
    return table;
}

} // namespace

extern constexpr KynBackEnd g_kynBackEnd = Table();
