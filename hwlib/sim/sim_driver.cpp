// sim_driver.cpp - the simulated library's KynDrv entry points: injected failures, the call trace,
// and the fast path of the 32-bit board accesses.
#include <string.h>

#include "sim_internal.h"

namespace {

#if defined(_MSC_VER)
#define SIM_NOINLINE __declspec(noinline)
#define SIM_HOT
#else
#define SIM_NOINLINE __attribute__((noinline))
// The two calls a memory test makes per word start on a cache line of their own: where the
// linker happens to put them otherwise cost up to a sixth of a healthy test's time.
#define SIM_HOT __attribute__((aligned(64)))
#endif

// Calls of each operation so far, for the KYNSIM_FAIL rules that fail the Nth call.
uint32_t g_anCalls[SIM_OP_COUNT];

// Counts the call and returns the injected failure for it, or SIM_OK.
KYN_RESULT Injected(SimOp eOp, uint32_t nArgument)
{
    OsaCheckSignal();
    const SimSettings &settings = SimGetSettings();
    if (!settings.abOpHasRule[eOp])
        return SIM_OK;
    uint32_t nCall = ++g_anCalls[eOp];
    for (const SimFailRule &rule : settings.aFailRules) {
        if (rule.eOp != eOp)
            continue;
        if (rule.eWhen == SIM_FAIL_ALWAYS || (rule.eWhen == SIM_FAIL_AT && rule.nMatch == nArgument) ||
            (rule.eWhen == SIM_FAIL_ON_CALL && rule.nMatch == nCall))
            return rule.nResult;
    }
    return SIM_OK;
}

KYN_RESULT GetNumericAttr(SimOp eOp, SimAttrKind eKind, KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    KYN_RESULT nResult = Injected(eOp, nId);
    SimAttrValue value;
    if (nResult == SIM_OK)
        nResult = SimLookUpAttr(hObject, nId, value);
    if (nResult == SIM_OK && value.eKind != eKind)
        nResult = SIM_ERR_ATTRIBUTE_KIND;
    if (nResult == SIM_OK && pnValue == nullptr)
        nResult = SIM_ERR_INVALID_PARAMETER;
    if (nResult == SIM_OK)
        *pnValue = value.nValue;
    if (OsaTracing())
        OsaTrace("%s(%#x, %u) = %#x -> %u\n", SimOpName(eOp), (unsigned)hObject, (unsigned)nId, (unsigned)nResult,
                 (unsigned)value.nValue);
    return nResult;
}

// The checked read of any width: value zero-extended into *pnValue.
SIM_NOINLINE KYN_RESULT ReadReg(SimOp eOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth,
                                bool bHaveTarget, uint32_t *pnValue)
{
    KYN_RESULT nResult = Injected(eOp, nAddress);
    uint32_t nValue = 0;
    if (nResult == SIM_OK)
        nResult = !bHaveTarget ? SIM_ERR_INVALID_PARAMETER : SimReadRegister(hDevice, nAddress, nWidth, &nValue);
    if (nResult == SIM_OK)
        *pnValue = nValue;
    if (OsaTracing())
        OsaTrace("%s(%#x, %#x) = %#x -> %#x\n", SimOpName(eOp), (unsigned)hDevice, (unsigned)nAddress,
                 (unsigned)nResult, (unsigned)nValue);
    return nResult;
}

// Out of line, so the fast path of KynDrvReadReg32 needs no stack frame.
SIM_NOINLINE KYN_RESULT ReadReg32Checked(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg(SIM_OP_READ_REG32, hDevice, nAddress, 4, pnValue != nullptr, &nValue);
    if (nResult == SIM_OK)
        *pnValue = nValue;
    return nResult;
}

SIM_NOINLINE KYN_RESULT WriteReg(SimOp eOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, uint32_t nValue)
{
    KYN_RESULT nResult = Injected(eOp, nAddress);
    if (nResult == SIM_OK)
        nResult = SimWriteRegister(hDevice, nAddress, nWidth, nValue);
    if (OsaTracing())
        OsaTrace("%s(%#x, %#x, %#x) = %#x\n", SimOpName(eOp), (unsigned)hDevice, (unsigned)nAddress,
                 (unsigned)nValue, (unsigned)nResult);
    return nResult;
}

// The first interrupt sends the next 32-bit access the checked way, which ends the run.
void LeaveFastPath()
{
    g_hSimFastBoard = kSimNoFastBoard;
}

} // namespace

void KynLibStartConsole()
{
    const SimSettings &settings = SimGetSettings();
    OsaTraceOpen(settings.strTracePath, "kynsim", "KYNSIM_TRACE");
    OsaInjectKeys(settings.anKeys);
    OsaSetConsoleRules(settings.consoleRules);
    OsaOnInterrupt(LeaveFastPath);
}

extern "C" {

KYN_RESULT KYNHW_CALL KynDrvConnectLib(void)
{
    KYN_RESULT nResult = Injected(SIM_OP_CONNECT_LIB, 0);
    if (nResult == SIM_OK)
        nResult = SimGetSettings().nConnectResult;
    // Codes 11 and 17 report a missing or mismatched driver without the failure bit.
    uint32_t nCode = (uint32_t)nResult & 0xFF;
    g_hSimFastBoard = kSimNoFastBoard;
    g_bSimConnected = nResult >= 0 && nCode != 11 && nCode != 17;
    if (OsaTracing())
        OsaTrace("ConnectLib() = %#x\n", (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReleaseLib(void)
{
    KYN_RESULT nResult = Injected(SIM_OP_RELEASE_LIB, 0);
    if (nResult == SIM_OK) {
        g_bSimConnected = false;
        g_hSimFastBoard = kSimNoFastBoard;
    }
    if (OsaTracing())
        OsaTrace("ReleaseLib() = %#x\n", (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeType(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnKind, uint32_t *pnSize,
                                             uint32_t *pnFlags)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_ATTRIBUTE_TYPE, nId);
    SimAttrValue value;
    if (nResult == SIM_OK)
        nResult = SimLookUpAttr(hObject, nId, value);
    if (nResult == SIM_OK && (pnKind == nullptr || pnSize == nullptr || pnFlags == nullptr))
        nResult = SIM_ERR_INVALID_PARAMETER;
    if (nResult == SIM_OK) {
        *pnKind = value.eKind == SIM_ATTR_BOOL     ? KYN_ATTR_KIND_BOOL
                  : value.eKind == SIM_ATTR_UINT32 ? KYN_ATTR_KIND_UINT32
                                                   : KYN_ATTR_KIND_SZ;
        *pnSize = value.eKind == SIM_ATTR_SZ ? (uint32_t)value.strText.size() + 1 : 4;
        *pnFlags = 0;
    }
    if (OsaTracing())
        OsaTrace("GetAttributeType(%#x, %u) = %#x\n", (unsigned)hObject, (unsigned)nId, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueSz(KYN_HANDLE hObject, uint32_t nId, char *pszBuffer,
                                                uint32_t nBufferSize)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_ATTRIBUTE_VALUE_SZ, nId);
    SimAttrValue value;
    if (nResult == SIM_OK)
        nResult = SimLookUpAttr(hObject, nId, value);
    if (nResult == SIM_OK && value.eKind != SIM_ATTR_SZ)
        nResult = SIM_ERR_ATTRIBUTE_KIND;
    if (nResult == SIM_OK)
        nResult = SimCopyText(value.strText, pszBuffer, nBufferSize);
    if (OsaTracing())
        OsaTrace("GetAttributeValueSz(%#x, %u, %u) = %#x\n", (unsigned)hObject, (unsigned)nId,
                 (unsigned)nBufferSize, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueBool(KYN_HANDLE hObject, uint32_t nId, uint32_t *pbValue)
{
    return GetNumericAttr(SIM_OP_GET_ATTRIBUTE_VALUE_BOOL, SIM_ATTR_BOOL, hObject, nId, pbValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueUint32(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    return GetNumericAttr(SIM_OP_GET_ATTRIBUTE_VALUE_UINT32, SIM_ATTR_UINT32, hObject, nId, pnValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetDeviceHandle(KYN_HANDLE hParent, uint32_t nDeviceType, uint32_t nDeviceNumber,
                                            KYN_HANDLE *phDevice)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_DEVICE_HANDLE, nDeviceType);
    if (nResult == SIM_OK)
        nResult = phDevice == nullptr ? SIM_ERR_INVALID_PARAMETER
                                      : SimOpenDevice(hParent, nDeviceType, nDeviceNumber, phDevice);
    if (OsaTracing())
        OsaTrace("GetDeviceHandle(%#x, %u, %u) = %#x -> %#x\n", (unsigned)hParent, (unsigned)nDeviceType,
                 (unsigned)nDeviceNumber, (unsigned)nResult,
                 phDevice != nullptr ? (unsigned)*phDevice : 0u);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReadReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint8_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg(SIM_OP_READ_REG8, hDevice, nAddress, 1, pnValue != nullptr, &nValue);
    if (nResult == SIM_OK)
        *pnValue = (uint8_t)nValue;
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReadReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint16_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg(SIM_OP_READ_REG16, hDevice, nAddress, 2, pnValue != nullptr, &nValue);
    if (nResult == SIM_OK)
        *pnValue = (uint16_t)nValue;
    return nResult;
}

// The memory test's path: a board whose window the fast path may use, an aligned address
// inside it. Anything else, or anything to check, goes the checked way.
SIM_HOT KYN_RESULT KYNHW_CALL KynDrvReadReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue)
{
    if (hDevice == g_hSimFastBoard && nAddress < kSimWindowSize && (nAddress & 3) == 0 && pnValue != nullptr) {
        const uint8_t *pPage = g_apSimFastPages[nAddress >> kSimPageShift];
        uint32_t nValue = 0;
        if (pPage != nullptr)
            memcpy(&nValue, pPage + (nAddress & (kSimPageSize - 1)), 4);
        *pnValue = nValue;
        return SIM_OK;
    }
    return ReadReg32Checked(hDevice, nAddress, pnValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg(SIM_OP_WRITE_REG8, hDevice, nAddress, 1, nValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg(SIM_OP_WRITE_REG16, hDevice, nAddress, 2, nValue);
}

SIM_HOT KYN_RESULT KYNHW_CALL KynDrvWriteReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    if (hDevice == g_hSimFastBoard && nAddress < kSimWindowSize && (nAddress & 3) == 0) {
        uint8_t *pPage = g_apSimFastPages[nAddress >> kSimPageShift];
        if (pPage != nullptr) {
            memcpy(pPage + (nAddress & (kSimPageSize - 1)), &nValue, 4);
            return SIM_OK;
        }
    }
    return WriteReg(SIM_OP_WRITE_REG32, hDevice, nAddress, 4, nValue);
}

KYN_RESULT KYNHW_CALL KynDrvDbgDump(KYN_HANDLE hDevice, int32_t nCommand)
{
    KYN_RESULT nResult = Injected(SIM_OP_DBG_DUMP, (uint32_t)nCommand);
    SimDevice *pDevice = nullptr;
    if (nResult == SIM_OK && !g_bSimConnected)
        nResult = SIM_ERR_NOT_CONNECTED;
    if (nResult == SIM_OK && (pDevice = SimFindDevice(hDevice)) == nullptr)
        nResult = SIM_ERR_INVALID_HANDLE;
    if (nResult == SIM_OK)
        nResult = SimDebugAction(*pDevice, nCommand);
    if (OsaTracing())
        OsaTrace("DbgDump(%#x, %d) = %#x\n", (unsigned)hDevice, (int)nCommand, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvResultCode2String(KYN_HANDLE hObject, KYN_RESULT nResult, uint32_t nBufferSize,
                                              char *pszBuffer)
{
    (void)hObject;
    KYN_RESULT nOwn = Injected(SIM_OP_RESULT_CODE_2_STRING, (uint32_t)nResult);
    if (nOwn == SIM_OK) {
        const char *pszText = SimResultText(nResult);
        nOwn = pszText == nullptr ? SIM_ERR_INVALID_PARAMETER : SimCopyText(pszText, pszBuffer, nBufferSize);
    }
    if (OsaTracing())
        OsaTrace("ResultCode2String(%#x) = %#x\n", (unsigned)nResult, (unsigned)nOwn);
    return nOwn;
}

KYN_RESULT KYNHW_CALL KynDrvGetCurrentTime(uint64_t *pnTime)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_CURRENT_TIME, 0);
    if (nResult == SIM_OK && pnTime == nullptr)
        nResult = SIM_ERR_INVALID_PARAMETER;
    if (nResult == SIM_OK) {
        const SimSettings &settings = SimGetSettings();
        *pnTime = settings.bFixedTime ? settings.nFixedTime : OsaTime100ns();
    }
    if (OsaTracing())
        OsaTrace("GetCurrentTime() = %#x\n", (unsigned)nResult);
    return nResult;
}

} // extern "C"
