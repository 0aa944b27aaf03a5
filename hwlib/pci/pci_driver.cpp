// pci_driver.cpp - the PCI library's KynDrv entry points: the call trace, and the fast path of the
// 32-bit BAR accesses.
#include <string.h>

#include <algorithm>

#include "pci_internal.h"

// Board registers are little-endian, and a BAR is accessed in the host's order.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the PCI library's BAR accesses assume a little-endian host"
#endif

volatile sig_atomic_t g_hPciFastBar = kPciNoFastBar;
volatile uint8_t *g_pPciFastBase = nullptr;
uint32_t g_nPciFastLast = 0;
volatile KYN_RESULT g_nPciFastResult = PCI_OK;

namespace {

#define PCI_NOINLINE __attribute__((noinline))
// The two calls a memory test makes per word start on a cache line of their own, as in the
// simulated library.
#define PCI_HOT __attribute__((aligned(64)))

// The first interrupt sends the next 32-bit access the checked way, which ends the run.
void LeaveFastPath()
{
    g_hPciFastBar = kPciNoFastBar;
}

// Every call first: an interrupt ends the run here, and the settings are read on first use.
void Enter()
{
    OsaCheckSignal();
    PciGetSettings();
}

KYN_RESULT GetNumericAttr(const char *pszOp, PciAttrKind eKind, KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    Enter();
    PciAttrValue value;
    KYN_RESULT nResult = PciLookUpAttr(hObject, nId, value);
    if (nResult == PCI_OK && value.eKind != eKind)
        nResult = PCI_ERR_ATTRIBUTE_KIND;
    if (nResult == PCI_OK && pnValue == nullptr)
        nResult = PCI_ERR_INVALID_PARAMETER;
    if (nResult == PCI_OK)
        *pnValue = value.nValue;
    if (OsaTracing())
        OsaTrace("%s(%#x, %u) = %#x -> %u\n", pszOp, (unsigned)hObject, (unsigned)nId, (unsigned)nResult,
                 (unsigned)value.nValue);
    return nResult;
}

PCI_NOINLINE KYN_RESULT ReadReg(const char *pszOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth,
                                uint32_t *pnValue)
{
    Enter();
    uint32_t nValue = 0;
    KYN_RESULT nResult = pnValue == nullptr ? PCI_ERR_INVALID_PARAMETER
                                            : PciAccess(hDevice, nAddress, nWidth, false, &nValue);
    if (nResult == PCI_OK)
        *pnValue = nValue;
    if (OsaTracing())
        OsaTrace("%s(%#x, %#x) = %#x -> %#x\n", pszOp, (unsigned)hDevice, (unsigned)nAddress, (unsigned)nResult,
                 (unsigned)nValue);
    return nResult;
}

PCI_NOINLINE KYN_RESULT WriteReg(const char *pszOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth,
                                 uint32_t nValue)
{
    Enter();
    KYN_RESULT nResult = PciAccess(hDevice, nAddress, nWidth, true, &nValue);
    if (OsaTracing())
        OsaTrace("%s(%#x, %#x, %#x) = %#x\n", pszOp, (unsigned)hDevice, (unsigned)nAddress, (unsigned)nValue,
                 (unsigned)nResult);
    return nResult;
}

} // namespace

// After a checked 32-bit access that succeeded: later ones on the same BAR take the fast path,
// unless every call is traced or an interrupt is waiting to end the run.
void PciArmFastPath(const PciObject &object)
{
    if (OsaTracing() || g_nOsaPendingSignal != 0 || object.nBarSize < 4)
        return;
    g_nPciFastResult = PCI_OK;
    g_pPciFastBase = object.pBar;
    g_nPciFastLast = (uint32_t)std::min<uint64_t>(object.nBarSize - 4, 0xFFFFFFFCu);
    g_hPciFastBar = object.hHandle;
    // An interrupt between the test above and here must not be missed.
    if (g_nOsaPendingSignal != 0)
        g_hPciFastBar = kPciNoFastBar;
}

void KynLibStartConsole()
{
    OsaTraceOpen(PciGetSettings().strTracePath, "kynpci", "KYNPCI_TRACE");
    OsaOnInterrupt(LeaveFastPath);
}

extern "C" {

KYN_RESULT KYNHW_CALL KynDrvConnectLib(void)
{
    Enter();
    KYN_RESULT nResult = PciConnect();
    if (OsaTracing())
        OsaTrace("ConnectLib() = %#x\n", (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReleaseLib(void)
{
    Enter();
    PciRelease();
    if (OsaTracing())
        OsaTrace("ReleaseLib() = %#x\n", 0u);
    return PCI_OK;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeType(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnKind, uint32_t *pnSize,
                                             uint32_t *pnFlags)
{
    Enter();
    PciAttrValue value;
    KYN_RESULT nResult = PciLookUpAttr(hObject, nId, value);
    if (nResult == PCI_OK && (pnKind == nullptr || pnSize == nullptr || pnFlags == nullptr))
        nResult = PCI_ERR_INVALID_PARAMETER;
    if (nResult == PCI_OK) {
        *pnKind = value.eKind == PCI_ATTR_BOOL     ? KYN_ATTR_KIND_BOOL
                  : value.eKind == PCI_ATTR_UINT32 ? KYN_ATTR_KIND_UINT32
                                                   : KYN_ATTR_KIND_SZ;
        *pnSize = value.eKind == PCI_ATTR_SZ ? (uint32_t)value.strText.size() + 1 : 4;
        *pnFlags = 0;
    }
    if (OsaTracing())
        OsaTrace("GetAttributeType(%#x, %u) = %#x\n", (unsigned)hObject, (unsigned)nId, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueSz(KYN_HANDLE hObject, uint32_t nId, char *pszBuffer,
                                                uint32_t nBufferSize)
{
    Enter();
    PciAttrValue value;
    KYN_RESULT nResult = PciLookUpAttr(hObject, nId, value);
    if (nResult == PCI_OK && value.eKind != PCI_ATTR_SZ)
        nResult = PCI_ERR_ATTRIBUTE_KIND;
    if (nResult == PCI_OK)
        nResult = PciCopyText(value.strText, pszBuffer, nBufferSize);
    if (OsaTracing())
        OsaTrace("GetAttributeValueSz(%#x, %u, %u) = %#x\n", (unsigned)hObject, (unsigned)nId, (unsigned)nBufferSize,
                 (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueBool(KYN_HANDLE hObject, uint32_t nId, uint32_t *pbValue)
{
    return GetNumericAttr("GetAttributeValueBool", PCI_ATTR_BOOL, hObject, nId, pbValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueUint32(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    return GetNumericAttr("GetAttributeValueUint32", PCI_ATTR_UINT32, hObject, nId, pnValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetDeviceHandle(KYN_HANDLE hParent, uint32_t nDeviceType, uint32_t nDeviceNumber,
                                            KYN_HANDLE *phDevice)
{
    Enter();
    KYN_RESULT nResult = phDevice == nullptr ? PCI_ERR_INVALID_PARAMETER
                                             : PciOpenDevice(hParent, nDeviceType, nDeviceNumber, phDevice);
    if (OsaTracing())
        OsaTrace("GetDeviceHandle(%#x, %u, %u) = %#x -> %#x\n", (unsigned)hParent, (unsigned)nDeviceType,
                 (unsigned)nDeviceNumber, (unsigned)nResult, phDevice != nullptr ? (unsigned)*phDevice : 0u);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReadReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint8_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg("ReadReg8", hDevice, nAddress, 1, pnValue != nullptr ? &nValue : nullptr);
    if (nResult == PCI_OK)
        *pnValue = (uint8_t)nValue;
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReadReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint16_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg("ReadReg16", hDevice, nAddress, 2, pnValue != nullptr ? &nValue : nullptr);
    if (nResult == PCI_OK)
        *pnValue = (uint16_t)nValue;
    return nResult;
}

// The memory test's path: the BAR already mapped and an aligned address inside it; anything
// else, or anything to check, goes the checked way.
PCI_HOT KYN_RESULT KYNHW_CALL KynDrvReadReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue)
{
    if (hDevice == g_hPciFastBar && nAddress <= g_nPciFastLast && (nAddress & 3) == 0 && pnValue != nullptr) {
        *pnValue = *(volatile uint32_t *)(g_pPciFastBase + nAddress);
        // PCI_OK, unless the access just made found the BAR gone (the SIGBUS guard says so).
        return g_nPciFastResult;
    }
    return ReadReg("ReadReg32", hDevice, nAddress, 4, pnValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg("WriteReg8", hDevice, nAddress, 1, nValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg("WriteReg16", hDevice, nAddress, 2, nValue);
}

PCI_HOT KYN_RESULT KYNHW_CALL KynDrvWriteReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    if (hDevice == g_hPciFastBar && nAddress <= g_nPciFastLast && (nAddress & 3) == 0) {
        *(volatile uint32_t *)(g_pPciFastBase + nAddress) = nValue;
        return g_nPciFastResult;
    }
    return WriteReg("WriteReg32", hDevice, nAddress, 4, nValue);
}

KYN_RESULT KYNHW_CALL KynDrvDbgDump(KYN_HANDLE hDevice, int32_t nCommand)
{
    Enter();
    KYN_RESULT nResult;
    const PciObject *pObject = g_bPciConnected ? PciFindObject(hDevice) : nullptr;
    if (!g_bPciConnected)
        nResult = PCI_ERR_NOT_CONNECTED;
    else if (pObject == nullptr)
        nResult = PCI_ERR_INVALID_HANDLE;
    else if (pObject->nMissing < 0)
        nResult = PciFail(pObject->nMissing, "%s", pObject->strMissing.c_str());
    else
        nResult = PciFail(PCI_ERR_NOT_SUPPORTED, "Debug commands are not supported by the PCI library (command 0x%X)",
                          (unsigned)nCommand);
    if (OsaTracing())
        OsaTrace("DbgDump(%#x, %d) = %#x\n", (unsigned)hDevice, (int)nCommand, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvResultCode2String(KYN_HANDLE hObject, KYN_RESULT nResult, uint32_t nBufferSize,
                                              char *pszBuffer)
{
    (void)hObject;
    Enter();
    const char *pszText = PciResultText(nResult);
    KYN_RESULT nOwn = pszText == nullptr ? PCI_ERR_INVALID_PARAMETER : PciCopyText(pszText, pszBuffer, nBufferSize);
    if (OsaTracing())
        OsaTrace("ResultCode2String(%#x) = %#x\n", (unsigned)nResult, (unsigned)nOwn);
    return nOwn;
}

KYN_RESULT KYNHW_CALL KynDrvGetCurrentTime(uint64_t *pnTime)
{
    Enter();
    KYN_RESULT nResult = pnTime == nullptr ? PCI_ERR_INVALID_PARAMETER : PCI_OK;
    if (nResult == PCI_OK)
        *pnTime = OsaTime100ns();
    if (OsaTracing())
        OsaTrace("GetCurrentTime() = %#x\n", (unsigned)nResult);
    return nResult;
}

} // extern "C"
