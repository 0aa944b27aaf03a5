// kyn_front.cpp - the KynDrv entry points, written once over the back ends: argument checks, the call
// trace, attribute kinds and sizes, and the fast path of the 32-bit accesses.
#include "kyn_front.h"
#include "osa_library.h"
#include "osa_trace.h"

// Board registers are little-endian, and a fast access reads them in the host's order.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the libraries' 32-bit fast path assumes a little-endian host"
#endif

volatile KYN_RESULT g_nKynFastResult = KYN_OK;

namespace {

#if defined(_MSC_VER)
#define KYN_NOINLINE __declspec(noinline)
#define KYN_HOT
#else
#define KYN_NOINLINE __attribute__((noinline))
// The two calls a memory test makes per word start on a cache line of their own: where the
// linker happens to put them otherwise cost up to a sixth of a healthy test's time.
#define KYN_HOT __attribute__((aligned(64)))
#endif

// The fast path's window (see kyn_front.h): the device whose window it is, or kNoFastDevice
// whenever every access must be checked; its first word in memory and its address; the count of
// words after the first. The interrupt handler clears the device.
const KYN_HANDLE kNoFastDevice = INT32_MIN;
volatile sig_atomic_t g_hFastDevice = kNoFastDevice;
volatile uint32_t *g_pFastWords = nullptr;
uint32_t g_nFastFirst = 0;
uint32_t g_nFastWords = 0;

// The word an address is in the window: its offset from the first address turned right by two
// bits, so that a misaligned one comes out above any word count and one comparison checks both
// the bounds and the alignment.
inline uint32_t FastWord(uint32_t nAddress)
{
    uint32_t nOffset = nAddress - g_nFastFirst;
    return (nOffset >> 2) | (nOffset << 30);
}

// The address again, from its word, for the checked way. The compiler is kept from knowing that
// this is the address it was given, so the fast path turns that register into the word in place and
// keeps no copy of the address or the first address: the fast path costs no more instructions
// than a window that starts at 0 would.
inline uint32_t FastAddress(uint32_t nWord)
{
#if defined(__GNUC__)
    __asm__("" : "+r"(nWord));
#endif
    return ((nWord << 2) | (nWord >> 30)) + *(volatile uint32_t *)&g_nFastFirst;
}

void CloseFromHandler()
{
    g_hFastDevice = kNoFastDevice;
}

// Every call first: a waiting interrupt ends the run here, then the back end's own say.
inline KYN_RESULT Enter(KynOp eOp, uint32_t nArgument)
{
    OsaCheckSignal();
    return g_kynBackEnd.pfnEnter(eOp, nArgument);
}

KYN_RESULT GetNumericAttr(KynOp eOp, KynValueKind eKind, KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    KYN_RESULT nResult = Enter(eOp, nId);
    KynAttrValue value;
    if (nResult == KYN_OK)
        nResult = KynLookUpAttr(hObject, nId, value);
    if (nResult == KYN_OK && value.eKind != eKind)
        nResult = KynError(KYN_ERR_ATTRIBUTE_KIND);
    if (nResult == KYN_OK && pnValue == nullptr)
        nResult = KynError(KYN_ERR_INVALID_PARAMETER);
    if (nResult == KYN_OK)
        *pnValue = value.nValue;
    if (OsaTracing())
        OsaTrace("%s(%#x, %u) = %#x -> %u\n", KynOpName(eOp), (unsigned)hObject, (unsigned)nId, (unsigned)nResult,
                 (unsigned)value.nValue);
    return nResult;
}

// The device a register access or a debug command names, once the driver is connected; null with
// the failure in *pnResult.
KynObject *Device(KYN_HANDLE hDevice, KYN_RESULT *pnResult)
{
    KynObject *pDevice = KynConnected() ? KynFindObject(hDevice) : nullptr;
    if (pDevice == nullptr)
        *pnResult = KynError(KynConnected() ? KYN_ERR_INVALID_HANDLE : KYN_ERR_NOT_CONNECTED);
    return pDevice;
}

// The checked read of any width: the value zero-extended into *pnValue.
KYN_NOINLINE KYN_RESULT ReadReg(KynOp eOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth,
                                bool bHaveTarget, uint32_t *pnValue)
{
    KYN_RESULT nResult = Enter(eOp, nAddress);
    uint32_t nValue = 0;
    KynObject *pDevice = nullptr;
    if (nResult == KYN_OK && !bHaveTarget)
        nResult = KynError(KYN_ERR_INVALID_PARAMETER);
    if (nResult == KYN_OK && (pDevice = Device(hDevice, &nResult)) != nullptr)
        nResult = g_kynBackEnd.pfnRead(*pDevice, nAddress, nWidth, &nValue);
    if (nResult == KYN_OK)
        *pnValue = nValue;
    if (OsaTracing())
        OsaTrace("%s(%#x, %#x) = %#x -> %#x\n", KynOpName(eOp), (unsigned)hDevice, (unsigned)nAddress,
                 (unsigned)nResult, (unsigned)nValue);
    return nResult;
}

// Out of line, so the fast path of KynDrvReadReg32 needs no stack frame.
KYN_NOINLINE KYN_RESULT ReadReg32Checked(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg(KYN_OP_READ_REG32, hDevice, nAddress, 4, pnValue != nullptr, &nValue);
    if (nResult == KYN_OK)
        *pnValue = nValue;
    return nResult;
}

KYN_NOINLINE KYN_RESULT WriteReg(KynOp eOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, uint32_t nValue)
{
    KYN_RESULT nResult = Enter(eOp, nAddress);
    KynObject *pDevice = nullptr;
    if (nResult == KYN_OK && (pDevice = Device(hDevice, &nResult)) != nullptr)
        nResult = g_kynBackEnd.pfnWrite(*pDevice, nAddress, nWidth, nValue);
    if (OsaTracing())
        OsaTrace("%s(%#x, %#x, %#x) = %#x\n", KynOpName(eOp), (unsigned)hDevice, (unsigned)nAddress,
                 (unsigned)nValue, (unsigned)nResult);
    return nResult;
}

// Out of line with the entry point's arguments, so the fast path of KynDrvWriteReg32 moves none.
KYN_NOINLINE KYN_RESULT WriteReg32Checked(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg(KYN_OP_WRITE_REG32, hDevice, nAddress, 4, nValue);
}

} // namespace

void KynOpenFastWindow(KYN_HANDLE hDevice, volatile uint8_t *pBase, uint32_t nFirst, uint32_t nLast)
{
    if (OsaTracing() || g_nOsaPendingSignal != 0 || nLast < nFirst || ((nFirst | nLast) & 3) != 0)
        return;
    g_hFastDevice = kNoFastDevice;
    g_pFastWords = (volatile uint32_t *)(pBase + nFirst);
    g_nFastFirst = nFirst;
    g_nFastWords = (nLast - nFirst) >> 2;
    g_nKynFastResult = KYN_OK;
    g_hFastDevice = hDevice;
    // An interrupt between the test above and here must not be missed.
    if (g_nOsaPendingSignal != 0)
        g_hFastDevice = kNoFastDevice;
}

void KynCloseFastWindow()
{
    g_hFastDevice = kNoFastDevice;
}

bool KynFastPathTakes(KYN_HANDLE hDevice, uint32_t nAddress)
{
    return hDevice == g_hFastDevice && FastWord(nAddress) <= g_nFastWords;
}

void KynLibStartConsole()
{
    std::string strTrace = g_kynBackEnd.pfnStartConsole();
    OsaTraceOpen(strTrace, g_kynBackEnd.pszTraceName, g_kynBackEnd.pszTraceSetting);
    OsaOnInterrupt(CloseFromHandler);
    // Each command's first 32-bit access is a checked one: what a back end must look at between
    // accesses (a device the kernel wants back) is seen at the next command, not after the run.
    OsaOnInput(KynCloseFastWindow);
}

extern "C" {

KYN_RESULT KYNHW_CALL KynDrvConnectLib(void)
{
    KynCloseFastWindow();
    KYN_RESULT nResult = Enter(KYN_OP_CONNECT_LIB, 0);
    if (nResult == KYN_OK) {
        bool bConnected = KynConnected();
        nResult = g_kynBackEnd.pfnConnect(bConnected);
        KynSetConnected(bConnected);
    }
    if (OsaTracing())
        OsaTrace("ConnectLib() = %#x\n", (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReleaseLib(void)
{
    KYN_RESULT nResult = Enter(KYN_OP_RELEASE_LIB, 0);
    if (nResult == KYN_OK) {
        KynCloseFastWindow();
        nResult = g_kynBackEnd.pfnRelease();
        KynSetConnected(false);
    }
    if (OsaTracing())
        OsaTrace("ReleaseLib() = %#x\n", (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeType(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnKind, uint32_t *pnSize,
                                             uint32_t *pnFlags)
{
    KYN_RESULT nResult = Enter(KYN_OP_GET_ATTRIBUTE_TYPE, nId);
    KynAttrValue value;
    if (nResult == KYN_OK)
        nResult = KynLookUpAttr(hObject, nId, value);
    if (nResult == KYN_OK && (pnKind == nullptr || pnSize == nullptr || pnFlags == nullptr))
        nResult = KynError(KYN_ERR_INVALID_PARAMETER);
    if (nResult == KYN_OK) {
        *pnKind = value.eKind == KYN_VALUE_BOOL     ? KYN_ATTR_KIND_BOOL
                  : value.eKind == KYN_VALUE_UINT32 ? KYN_ATTR_KIND_UINT32
                                                    : KYN_ATTR_KIND_SZ;
        *pnSize = value.eKind == KYN_VALUE_SZ ? (uint32_t)value.strText.size() + 1 : 4;
        *pnFlags = 0;
    }
    if (OsaTracing())
        OsaTrace("GetAttributeType(%#x, %u) = %#x\n", (unsigned)hObject, (unsigned)nId, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueSz(KYN_HANDLE hObject, uint32_t nId, char *pszBuffer,
                                                uint32_t nBufferSize)
{
    KYN_RESULT nResult = Enter(KYN_OP_GET_ATTRIBUTE_VALUE_SZ, nId);
    KynAttrValue value;
    if (nResult == KYN_OK)
        nResult = KynLookUpAttr(hObject, nId, value);
    if (nResult == KYN_OK && value.eKind != KYN_VALUE_SZ)
        nResult = KynError(KYN_ERR_ATTRIBUTE_KIND);
    if (nResult == KYN_OK)
        nResult = KynCopyText(value.strText, pszBuffer, nBufferSize);
    if (OsaTracing())
        OsaTrace("GetAttributeValueSz(%#x, %u, %u) = %#x\n", (unsigned)hObject, (unsigned)nId,
                 (unsigned)nBufferSize, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueBool(KYN_HANDLE hObject, uint32_t nId, uint32_t *pbValue)
{
    return GetNumericAttr(KYN_OP_GET_ATTRIBUTE_VALUE_BOOL, KYN_VALUE_BOOL, hObject, nId, pbValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueUint32(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    return GetNumericAttr(KYN_OP_GET_ATTRIBUTE_VALUE_UINT32, KYN_VALUE_UINT32, hObject, nId, pnValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetDeviceHandle(KYN_HANDLE hParent, uint32_t nDeviceType, uint32_t nDeviceNumber,
                                            KYN_HANDLE *phDevice)
{
    KYN_RESULT nResult = Enter(KYN_OP_GET_DEVICE_HANDLE, nDeviceType);
    if (nResult == KYN_OK)
        nResult = phDevice == nullptr ? KynError(KYN_ERR_INVALID_PARAMETER)
                  : !KynConnected()   ? KynError(KYN_ERR_NOT_CONNECTED)
                                      : g_kynBackEnd.pfnOpenDevice(hParent, nDeviceType, nDeviceNumber, phDevice);
    if (OsaTracing()) {
        const KynObject *pDevice = nResult == KYN_OK ? KynFindObject(*phDevice) : nullptr;
        const char *pszNote = pDevice != nullptr && g_kynBackEnd.pfnDeviceNote != nullptr
                                  ? g_kynBackEnd.pfnDeviceNote(*pDevice)
                                  : nullptr;
        OsaTrace("GetDeviceHandle(%#x, %u, %u) = %#x -> %#x%s%s%s\n", (unsigned)hParent, (unsigned)nDeviceType,
                 (unsigned)nDeviceNumber, (unsigned)nResult, phDevice != nullptr ? (unsigned)*phDevice : 0u,
                 pszNote != nullptr ? " (" : "", pszNote != nullptr ? pszNote : "", pszNote != nullptr ? ")" : "");
    }
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReadReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint8_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg(KYN_OP_READ_REG8, hDevice, nAddress, 1, pnValue != nullptr, &nValue);
    if (nResult == KYN_OK)
        *pnValue = (uint8_t)nValue;
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReadReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint16_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg(KYN_OP_READ_REG16, hDevice, nAddress, 2, pnValue != nullptr, &nValue);
    if (nResult == KYN_OK)
        *pnValue = (uint16_t)nValue;
    return nResult;
}

// The memory test's path: an aligned address inside the open window; anything else, or anything
// to check, goes the checked way.
KYN_HOT KYN_RESULT KYNHW_CALL KynDrvReadReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue)
{
    uint32_t nWord = FastWord(nAddress);
    if (hDevice == g_hFastDevice && nWord <= g_nFastWords && pnValue != nullptr) {
        *pnValue = g_pFastWords[nWord];
        return g_nKynFastResult;
    }
    return ReadReg32Checked(hDevice, FastAddress(nWord), pnValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg(KYN_OP_WRITE_REG8, hDevice, nAddress, 1, nValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg(KYN_OP_WRITE_REG16, hDevice, nAddress, 2, nValue);
}

KYN_HOT KYN_RESULT KYNHW_CALL KynDrvWriteReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    uint32_t nWord = FastWord(nAddress);
    if (hDevice == g_hFastDevice && nWord <= g_nFastWords) {
        g_pFastWords[nWord] = nValue;
        return g_nKynFastResult;
    }
    return WriteReg32Checked(hDevice, FastAddress(nWord), nValue);
}

KYN_RESULT KYNHW_CALL KynDrvDbgDump(KYN_HANDLE hDevice, int32_t nCommand)
{
    KYN_RESULT nResult = Enter(KYN_OP_DBG_DUMP, (uint32_t)nCommand);
    KynObject *pDevice = nullptr;
    if (nResult == KYN_OK && (pDevice = Device(hDevice, &nResult)) != nullptr)
        nResult = g_kynBackEnd.pfnDebug(*pDevice, nCommand);
    if (OsaTracing())
        OsaTrace("DbgDump(%#x, %d) = %#x\n", (unsigned)hDevice, (int)nCommand, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvResultCode2String(KYN_HANDLE hObject, KYN_RESULT nResult, uint32_t nBufferSize,
                                              char *pszBuffer)
{
    (void)hObject;
    KYN_RESULT nOwn = Enter(KYN_OP_RESULT_CODE_2_STRING, (uint32_t)nResult);
    if (nOwn == KYN_OK) {
        const char *pszText = g_kynBackEnd.pfnResultText(nResult);
        nOwn = pszText == nullptr ? KynError(KYN_ERR_INVALID_PARAMETER) : KynCopyText(pszText, pszBuffer, nBufferSize);
    }
    if (OsaTracing())
        OsaTrace("ResultCode2String(%#x) = %#x\n", (unsigned)nResult, (unsigned)nOwn);
    return nOwn;
}

KYN_RESULT KYNHW_CALL KynDrvGetCurrentTime(uint64_t *pnTime)
{
    KYN_RESULT nResult = Enter(KYN_OP_GET_CURRENT_TIME, 0);
    if (nResult == KYN_OK && pnTime == nullptr)
        nResult = KynError(KYN_ERR_INVALID_PARAMETER);
    if (nResult == KYN_OK)
        *pnTime = g_kynBackEnd.pfnTime();
    if (OsaTracing())
        OsaTrace("GetCurrentTime() = %#x\n", (unsigned)nResult);
    return nResult;
}

} // extern "C"
