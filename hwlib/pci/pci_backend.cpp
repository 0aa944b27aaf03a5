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

KYN_RESULT Access(KynObject &device, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    PciObject *pObject = static_cast<PciObject *>(&device);
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

KYN_RESULT Read(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t *pnValue)
{
    return Access(device, nAddress, nWidth, false, pnValue);
}

KYN_RESULT Write(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t nValue)
{
    return Access(device, nAddress, nWidth, true, &nValue);
}

// The access method every call on the device takes, and its slot.
const char *DeviceNote(const KynObject &device)
{
    static std::string s_strNote;
    const PciObject &object = static_cast<const PciObject &>(device);
    if (object.pDevice == nullptr)
        return nullptr;
    s_strNote = std::string(object.pMethods->pszName) + " " + object.strSlot;
    return s_strNote.c_str();
}

KYN_RESULT Debug(KynObject &device, int32_t nCommand)
{
    const PciObject &object = static_cast<const PciObject &>(device);
    if (object.nMissing < 0)
        return PciFail(object.nMissing, "%s", object.strMissing.c_str());
    return PciFail(PCI_ERR_NOT_SUPPORTED, "Debug commands are not supported by the PCI library (command 0x%X)",
                   (unsigned)nCommand);
}


constexpr KynBackEnd Table()
{
    KynBackEnd table = {};
    table.nLibrary = KYN_LIBRARY_PCI;
    table.pszTraceName = "kynpci";
    table.pszTraceSetting = "KYNPCI_TRACE";
    table.pszVersion = DUZE_VERSION " (libpci " PCILIB_VERSION ")";
    table.pszFileName = KYNPCI_FILE_NAME;
    table.bStaticLinked = true;
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
