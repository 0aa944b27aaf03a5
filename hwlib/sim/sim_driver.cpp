// sim_driver.cpp - the simulated KYN driver: connection, attributes, boards, bridges, registers, results.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "sim_internal.h"

volatile sig_atomic_t g_hSimFastBoard = kSimNoFastBoard;

namespace {

// Board window: 64 MiB from address 0, kept in 64 KiB pages allocated on first write.
const uint32_t kWindowSize = 64u << 20;
const uint32_t kPageShift = 16;
const uint32_t kPageSize = 1u << kPageShift;
const uint32_t kPageCount = kWindowSize >> kPageShift;

#if defined(_MSC_VER)
#define SIM_NOINLINE __declspec(noinline)
#else
#define SIM_NOINLINE __attribute__((noinline))
#endif

// Pages hold the board's bytes in the host's order, which must be the boards' little-endian one.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the simulated board memory assumes a little-endian host"
#endif

const uint32_t kBridgeRegCount = 128;
const KYN_HANDLE kFirstDeviceHandle = 0x20;

struct SimBoardType {
    uint32_t nCode;
    bool bBridge;
    bool bCpld;
};

// The boards this driver knows: every type the maker ships.
const SimBoardType g_aBoardTypes[] = {
    {6, true, true},   {7, true, false},  {30, true, true},  {32, true, true},  {33, true, true},
    {35, true, true},  {39, true, true},  {40, true, true},  {41, true, true},  {45, true, true},
    {46, true, true},  {47, true, true},  {48, true, true},  {53, true, true},  {54, true, true},
    {55, true, true},  {57, true, true},  {60, true, true},  {61, true, true},  {67, false, true},
    {68, true, true},  {69, false, true}, {70, false, true}, {71, false, true}, {72, false, true},
    {75, true, true},
};

// Bridge reset values and the bits software may change; the rest are read-only.
struct SimBridgeReg {
    uint32_t nAddress;
    uint32_t nReset;
    uint32_t nWritable;
};
const SimBridgeReg g_aBridgeRegs[] = {
    {0x000, 0x91541D8Eu, 0x00000000u}, // device and vendor id
    {0x004, 0x02900007u, 0x00000147u}, // status and command
    {0x008, 0x06800003u, 0x00000000u}, // class code and revision
    {0x00C, 0x00002008u, 0x0000FF00u}, // latency timer, line size
    {0x010, 0xFE9FF000u, 0xFFFFF000u}, // BAR0: local configuration
    {0x014, 0x0000E001u, 0xFFFFFF00u}, // BAR1: local configuration I/O
    {0x018, 0xFC000000u, 0xFC000000u}, // BAR2: board window
    {0x02C, 0x90541D8Eu, 0x00000000u}, // subsystem ids
    {0x034, 0x00000040u, 0x00000000u}, // capabilities pointer
    {0x03C, 0x0000010Bu, 0x000000FFu}, // interrupt line and pin
    {0x040, 0x00024801u, 0x00000000u}, // power management capability
    {0x080, 0x03FF0000u, 0xFFFFFFF0u}, // local space range
    {0x084, 0x00000001u, 0xFFFFFFF1u}, // local space remap
    {0x088, 0x00200000u, 0xFFFFFFFFu}, // mode and arbitration
    {0x0E8, 0x0F000483u, 0xFFFFFFFFu}, // interrupt control and status
    {0x0EC, 0x100F767Eu, 0xF00FFFFFu}, // serial EEPROM and user I/O control
    {0x0F0, 0x00000000u, 0xFFFFFFFFu}, // expansion ROM range
    {0x100, 0x00000003u, 0x00000003u}, // DMA channel 0 mode
    {0x1FC, 0x00000000u, 0xFFFFFFFFu}, // scratch
};

struct SimDevice {
    KYN_HANDLE hHandle;
    KYN_HANDLE hParent; // 0 for boards
    uint32_t nType;
    uint32_t nNumber;
    bool bBridge;
    bool bCpld;
    uint8_t *pWindow;             // board window, reserved on first write
    uint8_t *apPages[kPageCount]; // its 64 KiB pages; null until first written
    uint32_t anRegs[kBridgeRegCount];
    uint32_t anWritable[kBridgeRegCount];
};

// Driver state for the run: connection flag, opened devices (handle = first + index).
bool g_bConnected = false;
// Opened devices, kept (and reachable) until the process ends: handles stay valid for the run.
const size_t kMaxDevices = 1024; // 26 types, at most 16 boards each, and their bridges
SimDevice *g_apDevices[kMaxDevices];
size_t g_nDevices = 0;
uint32_t g_anCalls[SIM_OP_COUNT];
// Pages of the fast path's board; valid while g_hSimFastBoard names it.
uint8_t *const *g_apFastPages = nullptr;
// Counts the call and returns the injected failure for it, or SIM_OK.
KYN_RESULT Injected(SimOp eOp, uint32_t nArgument)
{
    SimCheckSignal();
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

inline SimDevice *FindDevice(KYN_HANDLE hDevice)
{
    size_t nIndex = (uint32_t)hDevice - (uint32_t)kFirstDeviceHandle;
    return nIndex < g_nDevices ? g_apDevices[nIndex] : nullptr;
}

const SimBoardType *FindBoardType(uint32_t nCode)
{
    for (const SimBoardType &type : g_aBoardTypes)
        if (type.nCode == nCode)
            return &type;
    return nullptr;
}

uint32_t BoardCount(uint32_t nCode)
{
    const SimSettings &settings = SimGetSettings();
    uint32_t nCount = settings.nDefaultBoardCount;
    for (const auto &item : settings.aBoardCounts)
        if (item.first == nCode)
            nCount = item.second;
    return nCount;
}

// Attributes ------------------------------------------------------------------------------------

enum AttrKind { ATTR_NONE, ATTR_BOOL, ATTR_UINT32, ATTR_SZ };
struct AttrValue {
    AttrKind eKind = ATTR_NONE;
    uint32_t nValue = 0;
    std::string strText;
};

bool AttrAbsent(SimObjectKind eObject, uint32_t nId)
{
    const std::vector<uint32_t> &anAbsent = SimGetSettings().anAbsentAttrs[eObject];
    return std::find(anAbsent.begin(), anAbsent.end(), nId) != anAbsent.end();
}

// Looks up attribute nId of an object; returns a failure for a bad handle or missing attribute.
KYN_RESULT LookUpAttr(KYN_HANDLE hObject, uint32_t nId, AttrValue &value)
{
    SimObjectKind eObject;
    const SimDevice *pDevice = nullptr;
    if (hObject == KYN_HANDLE_LIBRARY) {
        eObject = SIM_OBJ_LIBRARY;
    } else {
        if (!g_bConnected)
            return SIM_ERR_NOT_CONNECTED;
        if (hObject == KYN_HANDLE_DRIVER) {
            eObject = SIM_OBJ_DRIVER;
        } else {
            pDevice = FindDevice(hObject);
            if (pDevice == nullptr)
                return SIM_ERR_INVALID_HANDLE;
            eObject = pDevice->bBridge ? SIM_OBJ_BRIDGE : SIM_OBJ_BOARD;
        }
    }
    if (AttrAbsent(eObject, nId))
        return SIM_ERR_NO_SUCH_ATTRIBUTE;

    char szText[160];
    switch (eObject) {
    case SIM_OBJ_LIBRARY:
        if (nId == KYN_ATTR_VERSION) {
            value.eKind = ATTR_SZ;
            value.strText = "4.12.0 (simulated)";
        } else if (nId == KYN_ATTR_FILE_NAME) {
            value.eKind = ATTR_SZ;
            value.strText = KYNSIM_FILE_NAME; // as the build named it
        } else if (nId == KYN_ATTR_STATIC_LINKED) {
            value.eKind = ATTR_BOOL;
            value.nValue = KYNSIM_STATIC ? 1 : 0;
        }
        break;
    case SIM_OBJ_DRIVER:
        if (nId == KYN_ATTR_VERSION) {
            value.eKind = ATTR_SZ;
            value.strText = "4.12.0 (simulated driver)";
        }
        break;
    case SIM_OBJ_BOARD:
    case SIM_OBJ_BRIDGE:
        if (nId == KYN_ATTR_DEVICE_TYPE || nId == KYN_ATTR_DEVICE_NUMBER) {
            value.eKind = ATTR_UINT32;
            value.nValue = nId == KYN_ATTR_DEVICE_TYPE ? pDevice->nType : pDevice->nNumber;
        } else if (eObject == SIM_OBJ_BOARD && nId == KYN_ATTR_SERIAL_NUMBER) {
            snprintf(szText, sizeof szText, "KS-%03u-%05u", (unsigned)pDevice->nType,
                     (unsigned)(4711 + pDevice->nNumber));
            value.eKind = ATTR_SZ;
            value.strText = szText;
        } else if (eObject == SIM_OBJ_BOARD && nId == KYN_ATTR_BUILD_NUMBER) {
            snprintf(szText, sizeof szText, "%u.%u.%u", 2u, (unsigned)(pDevice->nType % 10), 1207u);
            value.eKind = ATTR_SZ;
            value.strText = szText;
        } else if (eObject == SIM_OBJ_BOARD && nId == KYN_ATTR_CPLD_BUILD && pDevice->bCpld) {
            snprintf(szText, sizeof szText,
                     "  Main CPLD: rev 3.%u (2026-02-11)\n  I/O CPLD:  rev 1.8 (2025-09-30)\n",
                     (unsigned)(pDevice->nType % 10));
            value.eKind = ATTR_SZ;
            value.strText = szText;
        }
        break;
    default:
        break;
    }
    return value.eKind == ATTR_NONE ? SIM_ERR_NO_SUCH_ATTRIBUTE : SIM_OK;
}

// Board window and bridge registers --------------------------------------------------------------

// Whether 32-bit board accesses may skip the checks: nothing is injected into them, the
// memory has no faults and no trace is written.
bool FastPathAllowed()
{
    const SimSettings &settings = SimGetSettings();
    return !settings.bTrace && !settings.abOpHasRule[SIM_OP_READ_REG32] &&
           !settings.abOpHasRule[SIM_OP_WRITE_REG32] && !settings.bMemoryReadsZero &&
           !settings.bMemoryEchoesAddress && settings.nStuckHigh == 0 && settings.nStuckLow == 0;
}

// After a checked access that succeeded on a board: later ones on it take the fast path.
void ArmFastPath(const SimDevice *pDevice)
{
    static const bool s_bAllowed = FastPathAllowed();
    if (!s_bAllowed || pDevice->bBridge || g_nSimPendingSignal != 0)
        return;
    g_apFastPages = pDevice->apPages;
    g_hSimFastBoard = pDevice->hHandle;
    // An interrupt between the test above and here must not be missed.
    if (g_nSimPendingSignal != 0)
        g_hSimFastBoard = kSimNoFastBoard;
}

// Checks a device access; on success *ppDevice is the device.
inline KYN_RESULT CheckAccess(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, SimDevice **ppDevice)
{
    if (!g_bConnected)
        return SIM_ERR_NOT_CONNECTED;
    SimDevice *pDevice = FindDevice(hDevice);
    if (pDevice == nullptr)
        return SIM_ERR_INVALID_HANDLE;
    if ((nAddress & (nWidth - 1)) != 0)
        return SIM_ERR_MISALIGNED;
    if (pDevice->bBridge) {
        if (nWidth != 4)
            return SIM_ERR_ACCESS_WIDTH;
        if (nAddress >= kBridgeRegCount * 4)
            return SIM_ERR_OUT_OF_WINDOW;
    } else if (nAddress >= kWindowSize && !SimGetSettings().bMemoryEchoesAddress) {
        return SIM_ERR_OUT_OF_WINDOW;
    }
    *ppDevice = pDevice;
    return SIM_OK;
}

// Value of the aligned 32-bit word holding nAddress, as the board's faults make it read.
inline uint32_t ReadWord(const SimDevice *pDevice, uint32_t nAddress)
{
    const SimSettings &settings = SimGetSettings();
    if (settings.bMemoryReadsZero)
        return 0;
    if (settings.bMemoryEchoesAddress)
        return ((nAddress & ~3u) | settings.nStuckHigh) & ~settings.nStuckLow;
    uint32_t nWord = 0;
    const uint8_t *pPage = pDevice->apPages[nAddress >> kPageShift];
    if (pPage != nullptr) {
        memcpy(&nWord, pPage + (nAddress & (kPageSize - 4)), 4);
    }
    return (nWord | settings.nStuckHigh) & ~settings.nStuckLow;
}

KYN_RESULT ReadBoard(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, uint32_t *pnValue)
{
    SimDevice *pDevice = nullptr;
    KYN_RESULT nResult = CheckAccess(hDevice, nAddress, nWidth, &pDevice);
    if (nResult < 0)
        return nResult;
    if (pDevice->bBridge) {
        *pnValue = pDevice->anRegs[nAddress >> 2];
        return SIM_OK;
    }
    uint32_t nWord = ReadWord(pDevice, nAddress);
    if (nWidth == 4)
        ArmFastPath(pDevice);
    uint32_t nShift = (nAddress & 3) * 8;
    *pnValue = nWidth == 4 ? nWord : (nWord >> nShift) & (nWidth == 1 ? 0xFFu : 0xFFFFu);
    return SIM_OK;
}

KYN_RESULT WriteBoard(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, uint32_t nValue)
{
    SimDevice *pDevice = nullptr;
    KYN_RESULT nResult = CheckAccess(hDevice, nAddress, nWidth, &pDevice);
    if (nResult < 0)
        return nResult;
    if (pDevice->bBridge) {
        uint32_t nIndex = nAddress >> 2;
        uint32_t nMask = pDevice->anWritable[nIndex];
        pDevice->anRegs[nIndex] = (pDevice->anRegs[nIndex] & ~nMask) | (nValue & nMask);
        return SIM_OK;
    }
    if (SimGetSettings().bMemoryEchoesAddress)
        return SIM_OK;
    uint8_t *&pPage = pDevice->apPages[nAddress >> kPageShift];
    if (pPage == nullptr) {
        if (pDevice->pWindow == nullptr)
            pDevice->pWindow = SimHostReserveWindow(kWindowSize);
        if (pDevice->pWindow == nullptr)
            return SIM_ERR_OUT_OF_MEMORY;
        pPage = pDevice->pWindow + (nAddress & ~(kPageSize - 1));
    }
    uint8_t *p = pPage + (nAddress & (kPageSize - 1));
    if (nWidth == 4) {
        memcpy(p, &nValue, 4);
        ArmFastPath(pDevice);
    } else if (nWidth == 2) {
        uint16_t nHalf = (uint16_t)nValue;
        memcpy(p, &nHalf, 2);
    } else {
        *p = (uint8_t)nValue;
    }
    return SIM_OK;
}

void ResetBridge(SimDevice &device)
{
    memset(device.anRegs, 0, sizeof device.anRegs);
    memset(device.anWritable, 0, sizeof device.anWritable);
    for (const SimBridgeReg &reg : g_aBridgeRegs) {
        device.anRegs[reg.nAddress >> 2] = reg.nReset;
        device.anWritable[reg.nAddress >> 2] = reg.nWritable;
    }
}

void FreeBoardMemory(SimDevice &device)
{
    if (device.pWindow != nullptr)
        SimHostDiscardWindow(device.pWindow, kWindowSize);
    memset(device.apPages, 0, sizeof device.apPages);
}

uint32_t TouchedPages(const SimDevice &device)
{
    uint32_t nCount = 0;
    for (const uint8_t *pPage : device.apPages)
        nCount += pPage != nullptr;
    return nCount;
}

// Result texts ---------------------------------------------------------------------------------

struct SimResultText {
    KYN_RESULT nResult;
    const char *pszText;
};
const SimResultText g_aResultTexts[] = {
    {SIM_ERR_INVALID_PARAMETER, "Invalid parameter (null pointer or zero size)."},
    {SIM_ERR_NOT_CONNECTED, "The library is not connected to the KYN driver."},
    {SIM_ERR_BUFFER_TOO_SMALL, "The buffer is too small for the attribute value."},
    {SIM_ERR_NO_SUCH_ATTRIBUTE, "The object has no such attribute."},
    {SIM_ERR_ATTRIBUTE_KIND, "The attribute has another value type."},
    {SIM_ERR_INVALID_HANDLE, "Invalid device handle."},
    {SIM_ERR_NO_SUCH_DEVICE, "No such device present."},
    {SIM_ERR_OUT_OF_MEMORY, "The driver is out of memory."},
    {SIM_ERR_MISALIGNED, "Register address is not aligned to the access width."},
    {SIM_ERR_OUT_OF_WINDOW, "Register address is outside the device window."},
    {SIM_ERR_ACCESS_WIDTH, "The device does not support this access width."},
    {SIM_ERR_UNKNOWN_DEBUG_COMMAND, "Unknown debug command."},
};

const char *ResultText(KYN_RESULT nResult)
{
    const SimSettings &settings = SimGetSettings();
    if (settings.bNoTextForAll ||
        std::find(settings.anNoText.begin(), settings.anNoText.end(), nResult) != settings.anNoText.end())
        return nullptr;
    for (const SimResultText &entry : g_aResultTexts)
        if (entry.nResult == nResult)
            return entry.pszText;
    return nullptr;
}

KYN_RESULT CopyText(const std::string &strText, char *pszBuffer, uint32_t nBufferSize)
{
    if (pszBuffer == nullptr || nBufferSize == 0)
        return SIM_ERR_INVALID_PARAMETER;
    size_t nCopy = std::min<size_t>(strText.size(), nBufferSize - 1);
    memcpy(pszBuffer, strText.data(), nCopy);
    pszBuffer[nCopy] = '\0';
    return nCopy < strText.size() ? SIM_ERR_BUFFER_TOO_SMALL : SIM_OK;
}

} // namespace

extern "C" {

KYN_RESULT KYNHW_CALL KynDrvConnectLib(void)
{
    KYN_RESULT nResult = Injected(SIM_OP_CONNECT_LIB, 0);
    if (nResult == SIM_OK)
        nResult = SimGetSettings().nConnectResult;
    // Codes 11 and 17 report a missing or mismatched driver without the failure bit.
    uint32_t nCode = (uint32_t)nResult & 0xFF;
    g_hSimFastBoard = kSimNoFastBoard;
    g_bConnected = nResult >= 0 && nCode != 11 && nCode != 17;
    if (SimTracing())
        SimTrace("ConnectLib() = %#x\n", (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvReleaseLib(void)
{
    KYN_RESULT nResult = Injected(SIM_OP_RELEASE_LIB, 0);
    if (nResult == SIM_OK) {
        g_bConnected = false;
        g_hSimFastBoard = kSimNoFastBoard;
    }
    if (SimTracing())
        SimTrace("ReleaseLib() = %#x\n", (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeType(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnKind, uint32_t *pnSize,
                                  uint32_t *pnFlags)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_ATTRIBUTE_TYPE, nId);
    AttrValue value;
    if (nResult == SIM_OK)
        nResult = LookUpAttr(hObject, nId, value);
    if (nResult == SIM_OK && (pnKind == nullptr || pnSize == nullptr || pnFlags == nullptr))
        nResult = SIM_ERR_INVALID_PARAMETER;
    if (nResult == SIM_OK) {
        *pnKind = value.eKind == ATTR_BOOL ? KYN_ATTR_KIND_BOOL
                  : value.eKind == ATTR_UINT32 ? KYN_ATTR_KIND_UINT32 : KYN_ATTR_KIND_SZ;
        *pnSize = value.eKind == ATTR_SZ ? (uint32_t)value.strText.size() + 1 : 4;
        *pnFlags = 0;
    }
    if (SimTracing())
        SimTrace("GetAttributeType(%#x, %u) = %#x\n", (unsigned)hObject, (unsigned)nId, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueSz(KYN_HANDLE hObject, uint32_t nId, char *pszBuffer, uint32_t nBufferSize)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_ATTRIBUTE_VALUE_SZ, nId);
    AttrValue value;
    if (nResult == SIM_OK)
        nResult = LookUpAttr(hObject, nId, value);
    if (nResult == SIM_OK && value.eKind != ATTR_SZ)
        nResult = SIM_ERR_ATTRIBUTE_KIND;
    if (nResult == SIM_OK)
        nResult = CopyText(value.strText, pszBuffer, nBufferSize);
    if (SimTracing())
        SimTrace("GetAttributeValueSz(%#x, %u, %u) = %#x\n", (unsigned)hObject, (unsigned)nId,
              (unsigned)nBufferSize, (unsigned)nResult);
    return nResult;
}

static KYN_RESULT GetNumericAttr(SimOp eOp, AttrKind eKind, KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    KYN_RESULT nResult = Injected(eOp, nId);
    AttrValue value;
    if (nResult == SIM_OK)
        nResult = LookUpAttr(hObject, nId, value);
    if (nResult == SIM_OK && value.eKind != eKind)
        nResult = SIM_ERR_ATTRIBUTE_KIND;
    if (nResult == SIM_OK && pnValue == nullptr)
        nResult = SIM_ERR_INVALID_PARAMETER;
    if (nResult == SIM_OK)
        *pnValue = value.nValue;
    if (SimTracing())
        SimTrace("%s(%#x, %u) = %#x -> %u\n", SimOpName(eOp), (unsigned)hObject, (unsigned)nId, (unsigned)nResult,
              (unsigned)value.nValue);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueBool(KYN_HANDLE hObject, uint32_t nId, uint32_t *pbValue)
{
    return GetNumericAttr(SIM_OP_GET_ATTRIBUTE_VALUE_BOOL, ATTR_BOOL, hObject, nId, pbValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueUint32(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue)
{
    return GetNumericAttr(SIM_OP_GET_ATTRIBUTE_VALUE_UINT32, ATTR_UINT32, hObject, nId, pnValue);
}

KYN_RESULT KYNHW_CALL KynDrvGetDeviceHandle(KYN_HANDLE hParent, uint32_t nDeviceType, uint32_t nDeviceNumber,
                                 KYN_HANDLE *phDevice)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_DEVICE_HANDLE, nDeviceType);
    const SimDevice *pParent = nullptr;
    const SimBoardType *pType = nullptr;
    if (nResult == SIM_OK && phDevice == nullptr)
        nResult = SIM_ERR_INVALID_PARAMETER;
    if (nResult == SIM_OK && !g_bConnected)
        nResult = SIM_ERR_NOT_CONNECTED;
    if (nResult == SIM_OK && hParent != KYN_HANDLE_DRIVER) {
        pParent = FindDevice(hParent);
        if (pParent == nullptr)
            nResult = SIM_ERR_INVALID_HANDLE;
        else if (pParent->bBridge || !FindBoardType(pParent->nType)->bBridge ||
                 nDeviceType != KYN_DEVICE_TYPE_PCI_BRIDGE || nDeviceNumber != 0)
            nResult = SIM_ERR_NO_SUCH_DEVICE;
    }
    if (nResult == SIM_OK && hParent == KYN_HANDLE_DRIVER) {
        pType = FindBoardType(nDeviceType);
        if (pType == nullptr || nDeviceNumber >= BoardCount(nDeviceType))
            nResult = SIM_ERR_NO_SUCH_DEVICE;
    }
    if (nResult == SIM_OK) {
        // The same device always answers with the same handle.
        KYN_HANDLE hFound = 0;
        for (size_t i = 0; i < g_nDevices; ++i)
            if (const SimDevice *pKnown = g_apDevices[i];
                pKnown->hParent == hParent && pKnown->nType == nDeviceType && pKnown->nNumber == nDeviceNumber)
                hFound = pKnown->hHandle;
        if (hFound == 0) {
            SimDevice *pDevice = g_nDevices < kMaxDevices ? (SimDevice *)calloc(1, sizeof(SimDevice)) : nullptr;
            if (pDevice == nullptr)
                return SIM_ERR_OUT_OF_MEMORY;
            pDevice->hHandle = kFirstDeviceHandle + (KYN_HANDLE)g_nDevices;
            pDevice->hParent = hParent;
            pDevice->nType = nDeviceType;
            pDevice->nNumber = nDeviceNumber;
            pDevice->bBridge = pParent != nullptr;
            pDevice->bCpld = pType != nullptr && pType->bCpld;
            if (pDevice->bBridge)
                ResetBridge(*pDevice);
            g_apDevices[g_nDevices++] = pDevice;
            hFound = pDevice->hHandle;
        }
        *phDevice = hFound;
    }
    if (SimTracing())
        SimTrace("GetDeviceHandle(%#x, %u, %u) = %#x -> %#x\n", (unsigned)hParent, (unsigned)nDeviceType,
              (unsigned)nDeviceNumber, (unsigned)nResult, phDevice != nullptr ? (unsigned)*phDevice : 0u);
    return nResult;
}

// The checked read of any width: value zero-extended into *pnValue.
static SIM_NOINLINE KYN_RESULT ReadReg(SimOp eOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth,
                                       bool bHaveTarget, uint32_t *pnValue)
{
    KYN_RESULT nResult = Injected(eOp, nAddress);
    uint32_t nValue = 0;
    if (nResult == SIM_OK)
        nResult = !bHaveTarget ? SIM_ERR_INVALID_PARAMETER : ReadBoard(hDevice, nAddress, nWidth, &nValue);
    if (nResult == SIM_OK)
        *pnValue = nValue;
    if (SimTracing())
        SimTrace("%s(%#x, %#x) = %#x -> %#x\n", SimOpName(eOp), (unsigned)hDevice, (unsigned)nAddress,
              (unsigned)nResult, (unsigned)nValue);
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

// Out of line, so the fast path below needs no stack frame.
static SIM_NOINLINE KYN_RESULT ReadReg32Checked(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue)
{
    uint32_t nValue = 0;
    KYN_RESULT nResult = ReadReg(SIM_OP_READ_REG32, hDevice, nAddress, 4, pnValue != nullptr, &nValue);
    if (nResult == SIM_OK)
        *pnValue = nValue;
    return nResult;
}

// The memory test's path: a board whose window the fast path may use, an aligned address
// inside it. Anything else, or anything to check, goes the checked way.
KYN_RESULT KYNHW_CALL KynDrvReadReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue)
{
    if (hDevice == g_hSimFastBoard && nAddress < kWindowSize && (nAddress & 3) == 0 && pnValue != nullptr) {
        const uint8_t *pPage = g_apFastPages[nAddress >> kPageShift];
        uint32_t nValue = 0;
        if (pPage != nullptr)
            memcpy(&nValue, pPage + (nAddress & (kPageSize - 1)), 4);
        *pnValue = nValue;
        return SIM_OK;
    }
    return ReadReg32Checked(hDevice, nAddress, pnValue);
}

static SIM_NOINLINE KYN_RESULT WriteReg(SimOp eOp, KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth,
                                        uint32_t nValue)
{
    KYN_RESULT nResult = Injected(eOp, nAddress);
    if (nResult == SIM_OK)
        nResult = WriteBoard(hDevice, nAddress, nWidth, nValue);
    if (SimTracing())
        SimTrace("%s(%#x, %#x, %#x) = %#x\n", SimOpName(eOp), (unsigned)hDevice, (unsigned)nAddress,
              (unsigned)nValue, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg(SIM_OP_WRITE_REG8, hDevice, nAddress, 1, nValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    return WriteReg(SIM_OP_WRITE_REG16, hDevice, nAddress, 2, nValue);
}

KYN_RESULT KYNHW_CALL KynDrvWriteReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue)
{
    if (hDevice == g_hSimFastBoard && nAddress < kWindowSize && (nAddress & 3) == 0) {
        uint8_t *pPage = g_apFastPages[nAddress >> kPageShift];
        if (pPage != nullptr) {
            memcpy(pPage + (nAddress & (kPageSize - 1)), &nValue, 4);
            return SIM_OK;
        }
    }
    return WriteReg(SIM_OP_WRITE_REG32, hDevice, nAddress, 4, nValue);
}

// Debug commands: 0 lists the open devices, 1 shows the board memory in use,
// 2 clears the board memory, 3 resets the bridge registers.
KYN_RESULT KYNHW_CALL KynDrvDbgDump(KYN_HANDLE hDevice, int32_t nCommand)
{
    KYN_RESULT nResult = Injected(SIM_OP_DBG_DUMP, (uint32_t)nCommand);
    SimDevice *pDevice = nullptr;
    if (nResult == SIM_OK && !g_bConnected)
        nResult = SIM_ERR_NOT_CONNECTED;
    if (nResult == SIM_OK && (pDevice = FindDevice(hDevice)) == nullptr)
        nResult = SIM_ERR_INVALID_HANDLE;
    if (nResult == SIM_OK) {
        switch (nCommand) {
        case 0:
            for (size_t i = 0; i < g_nDevices; ++i) {
                const SimDevice *pListed = g_apDevices[i];
                SimConsolePrint("KynSim: device 0x%X: %s type %u number %u\n", (unsigned)pListed->hHandle,
                                pListed->bBridge ? "bridge" : "board", (unsigned)pListed->nType,
                                (unsigned)pListed->nNumber);
            }
            break;
        case 1:
            SimConsolePrint("KynSim: device 0x%X: %u of %u KiB of board memory in use\n", (unsigned)hDevice,
                            (unsigned)(TouchedPages(*pDevice) * (kPageSize >> 10)), (unsigned)(kWindowSize >> 10));
            break;
        case 2:
            FreeBoardMemory(*pDevice);
            SimConsolePrint("KynSim: device 0x%X: board memory cleared\n", (unsigned)hDevice);
            break;
        case 3:
            for (size_t i = 0; i < g_nDevices; ++i)
                if (SimDevice *pBridge = g_apDevices[i];
                    pBridge->bBridge && (pBridge->hHandle == hDevice || pBridge->hParent == hDevice))
                    ResetBridge(*pBridge);
            SimConsolePrint("KynSim: device 0x%X: bridge registers reset\n", (unsigned)hDevice);
            break;
        default:
            nResult = SIM_ERR_UNKNOWN_DEBUG_COMMAND;
            break;
        }
    }
    if (SimTracing())
        SimTrace("DbgDump(%#x, %d) = %#x\n", (unsigned)hDevice, (int)nCommand, (unsigned)nResult);
    return nResult;
}

KYN_RESULT KYNHW_CALL KynDrvResultCode2String(KYN_HANDLE hObject, KYN_RESULT nResult, uint32_t nBufferSize, char *pszBuffer)
{
    (void)hObject;
    KYN_RESULT nOwn = Injected(SIM_OP_RESULT_CODE_2_STRING, (uint32_t)nResult);
    if (nOwn == SIM_OK) {
        const char *pszText = ResultText(nResult);
        nOwn = pszText == nullptr ? SIM_ERR_INVALID_PARAMETER : CopyText(pszText, pszBuffer, nBufferSize);
    }
    if (SimTracing())
        SimTrace("ResultCode2String(%#x) = %#x\n", (unsigned)nResult, (unsigned)nOwn);
    return nOwn;
}

KYN_RESULT KYNHW_CALL KynDrvGetCurrentTime(uint64_t *pnTime)
{
    KYN_RESULT nResult = Injected(SIM_OP_GET_CURRENT_TIME, 0);
    if (nResult == SIM_OK && pnTime == nullptr)
        nResult = SIM_ERR_INVALID_PARAMETER;
    if (nResult == SIM_OK) {
        const SimSettings &settings = SimGetSettings();
        *pnTime = settings.bFixedTime ? settings.nFixedTime : SimHostTime100ns();
    }
    if (SimTracing())
        SimTrace("GetCurrentTime() = %#x\n", (unsigned)nResult);
    return nResult;
}

} // extern "C"
