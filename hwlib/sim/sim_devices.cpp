// sim_devices.cpp - the simulated driver's devices and memory: board types, the device table,
// attributes, board windows, bridge registers and the debug commands' actions.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "sim_internal.h"

namespace {

// Pages hold the board's bytes in the host's order, which must be the boards' little-endian one.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the simulated board memory assumes a little-endian host"
#endif

} // namespace

// The boards this driver knows: every type the maker ships.
const SimBoardType g_aSimBoardTypes[] = {
    {6, true, true},   {7, true, false},  {30, true, true},  {32, true, true},  {33, true, true},
    {35, true, true},  {39, true, true},  {40, true, true},  {41, true, true},  {45, true, true},
    {46, true, true},  {47, true, true},  {48, true, true},  {53, true, true},  {54, true, true},
    {55, true, true},  {57, true, true},  {60, true, true},  {61, true, true},  {67, false, true},
    {68, true, true},  {69, false, true}, {70, false, true}, {71, false, true}, {72, false, true},
    {75, true, true},
};
const size_t g_nSimBoardTypeCount = sizeof g_aSimBoardTypes / sizeof g_aSimBoardTypes[0];

namespace {

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

const SimBoardType *FindBoardType(uint32_t nCode)
{
    for (const SimBoardType &type : g_aSimBoardTypes)
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

void ResetBridge(SimDevice &device)
{
    memset(device.anRegs, 0, sizeof device.anRegs);
    memset(device.anWritable, 0, sizeof device.anWritable);
    for (const SimBridgeReg &reg : g_aBridgeRegs) {
        device.anRegs[reg.nAddress >> 2] = reg.nReset;
        device.anWritable[reg.nAddress >> 2] = reg.nWritable;
    }
}

// Whether 32-bit board accesses may skip the checks: nothing is injected into them, the
// memory has no faults and no trace is written.
bool FastPathAllowed()
{
    const SimSettings &settings = SimGetSettings();
    return !settings.bTrace && !settings.abOpHasRule[KYN_OP_READ_REG32] &&
           !settings.abOpHasRule[KYN_OP_WRITE_REG32] && !settings.bMemoryReadsZero &&
           !settings.bMemoryEchoesAddress && settings.nStuckHigh == 0 && settings.nStuckLow == 0;
}

// After a checked access that succeeded on a board: later 32-bit ones in the same page, once
// it holds memory, take the front's fast path. A page at a time, so that a page is taken into
// use only by a checked write, which counts it.
void ArmFastPath(const SimDevice *pDevice, uint32_t nAddress)
{
    static const bool s_bAllowed = FastPathAllowed();
    uint32_t nPage = nAddress >> kSimPageShift;
    if (!s_bAllowed || pDevice->bBridge || pDevice->apPages[nPage] == nullptr)
        return;
    uint32_t nFirst = nPage << kSimPageShift;
    KynOpenFastWindow(pDevice->hHandle, pDevice->pWindow, nFirst, nFirst + kSimPageSize - 4);
}

// Checks a device access; on success *ppDevice is the device.
inline KYN_RESULT CheckAccess(KynObject &object, uint32_t nAddress, uint32_t nWidth, SimDevice **ppDevice)
{
    SimDevice *pDevice = static_cast<SimDevice *>(&object);
    if ((nAddress & (nWidth - 1)) != 0)
        return KynError(KYN_ERR_MISALIGNED);
    if (pDevice->bBridge) {
        if (nWidth != 4)
            return SIM_ERR_ACCESS_WIDTH;
        if (nAddress >= kSimBridgeRegCount * 4)
            return KynError(KYN_ERR_OUTSIDE);
    } else if (nAddress >= kSimWindowSize && !SimGetSettings().bMemoryEchoesAddress) {
        return KynError(KYN_ERR_OUTSIDE);
    }
    *ppDevice = pDevice;
    return KYN_OK;
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
    const uint8_t *pPage = pDevice->apPages[nAddress >> kSimPageShift];
    if (pPage != nullptr)
        memcpy(&nWord, pPage + (nAddress & (kSimPageSize - 4)), 4);
    return (nWord | settings.nStuckHigh) & ~settings.nStuckLow;
}

// A board's memory as KYNSIM_IMAGE's BAR holds it: the pages with anything in them.
bool LoadImage(SimDevice &device)
{
    const std::string &strBytes = SimGetSettings().strImageBytes;
    for (size_t nStart = 0; nStart < strBytes.size(); nStart += kSimPageSize) {
        size_t nLength = std::min<size_t>(kSimPageSize, strBytes.size() - nStart);
        if (strBytes.find_first_not_of('\0', nStart) >= nStart + nLength)
            continue;
        if (device.pWindow == nullptr)
            device.pWindow = SimHostReserveWindow(kSimWindowSize);
        if (device.pWindow == nullptr)
            return false;
        device.apPages[nStart >> kSimPageShift] = device.pWindow + nStart;
        memcpy(device.pWindow + nStart, strBytes.data() + nStart, nLength);
    }
    return true;
}

} // namespace

KYN_RESULT SimOpenDevice(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice)
{
    const SimDevice *pParent = nullptr;
    const SimBoardType *pType = nullptr;
    if (hParent != KYN_HANDLE_DRIVER) {
        pParent = static_cast<const SimDevice *>(KynFindObject(hParent));
        if (pParent == nullptr)
            return KynError(KYN_ERR_INVALID_HANDLE);
        if (pParent->bBridge || !FindBoardType(pParent->nType)->bBridge || nType != KYN_DEVICE_TYPE_PCI_BRIDGE ||
            nNumber != 0)
            return KynError(KYN_ERR_NO_SUCH_DEVICE);
    } else {
        pType = FindBoardType(nType);
        if (pType == nullptr || nNumber >= BoardCount(nType))
            return KynError(KYN_ERR_NO_SUCH_DEVICE);
    }
    if (const KynObject *pKnown = KynFindOpened(hParent, nType, nNumber)) {
        *phDevice = pKnown->hHandle;
        return KYN_OK;
    }
    // Devices stay (and are reachable) until the process ends: handles stay valid for the run.
    SimDevice *pDevice = KynObjectCount() < kSimMaxDevices ? new (std::nothrow) SimDevice() : nullptr;
    if (pDevice == nullptr)
        return SIM_ERR_OUT_OF_MEMORY;
    pDevice->hParent = hParent;
    pDevice->nType = nType;
    pDevice->nNumber = nNumber;
    pDevice->bBridge = pParent != nullptr;
    pDevice->bCpld = pType != nullptr && pType->bCpld;
    if (pDevice->bBridge)
        ResetBridge(*pDevice);
    else if (!LoadImage(*pDevice)) {
        delete pDevice;
        return SIM_ERR_OUT_OF_MEMORY;
    }
    *phDevice = KynAddObject(pDevice);
    return KYN_OK;
}

bool SimAttrHidden(KYN_HANDLE hObject, const KynObject *pObject, uint32_t nId)
{
    SimObjectKind eObject = hObject == KYN_HANDLE_LIBRARY  ? SIM_OBJ_LIBRARY
                            : pObject == nullptr           ? SIM_OBJ_DRIVER
                            : pObject->bBridge             ? SIM_OBJ_BRIDGE
                                                           : SIM_OBJ_BOARD;
    const std::vector<uint32_t> &anAbsent = SimGetSettings().anAbsentAttrs[eObject];
    return std::find(anAbsent.begin(), anAbsent.end(), nId) != anAbsent.end();
}

KYN_RESULT SimLookUpAttr(const KynObject *pObject, uint32_t nId, KynAttrValue &value)
{
    const SimDevice *pDevice = static_cast<const SimDevice *>(pObject);
    char szText[160];
    if (pDevice == nullptr) {
        if (nId == KYN_ATTR_VERSION) {
            value.eKind = KYN_VALUE_SZ;
            value.strText = "4.12.0 (simulated driver)";
        }
    } else if (pDevice->bBridge && nId == KYN_ATTR_REGISTER_SPACE) {
        value.eKind = KYN_VALUE_UINT32;
        value.nValue = kSimBridgeRegCount * 4;
    } else if (pDevice->bBridge) {
        // A bridge has its type and number alone, and its register space.
    } else if (nId == KYN_ATTR_REGISTER_SPACE && !SimGetSettings().bMemoryEchoesAddress) {
        value.eKind = KYN_VALUE_UINT32;
        value.nValue = kSimWindowSize;
    } else if (nId == KYN_ATTR_SERIAL_NUMBER) {
        snprintf(szText, sizeof szText, "KS-%03u-%05u", (unsigned)pDevice->nType, (unsigned)(4711 + pDevice->nNumber));
        value.eKind = KYN_VALUE_SZ;
        value.strText = szText;
    } else if (nId == KYN_ATTR_BUILD_NUMBER) {
        snprintf(szText, sizeof szText, "%u.%u.%u", 2u, (unsigned)(pDevice->nType % 10), 1207u);
        value.eKind = KYN_VALUE_SZ;
        value.strText = szText;
    } else if (nId == KYN_ATTR_CPLD_BUILD && pDevice->bCpld) {
        snprintf(szText, sizeof szText, "  Main CPLD: rev 3.%u (2026-02-11)\n  I/O CPLD:  rev 1.8 (2025-09-30)\n",
                 (unsigned)(pDevice->nType % 10));
        value.eKind = KYN_VALUE_SZ;
        value.strText = szText;
    }
    return KYN_OK;
}

KYN_RESULT SimReadRegister(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t *pnValue)
{
    SimDevice *pDevice = nullptr;
    KYN_RESULT nResult = CheckAccess(device, nAddress, nWidth, &pDevice);
    if (nResult < 0)
        return nResult;
    if (pDevice->bBridge) {
        *pnValue = pDevice->anRegs[nAddress >> 2];
        return KYN_OK;
    }
    uint32_t nWord = ReadWord(pDevice, nAddress);
    if (nWidth == 4)
        ArmFastPath(pDevice, nAddress);
    uint32_t nShift = (nAddress & 3) * 8;
    *pnValue = nWidth == 4 ? nWord : (nWord >> nShift) & (nWidth == 1 ? 0xFFu : 0xFFFFu);
    return KYN_OK;
}

KYN_RESULT SimWriteRegister(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t nValue)
{
    SimDevice *pDevice = nullptr;
    KYN_RESULT nResult = CheckAccess(device, nAddress, nWidth, &pDevice);
    if (nResult < 0)
        return nResult;
    if (pDevice->bBridge) {
        uint32_t nIndex = nAddress >> 2;
        uint32_t nMask = pDevice->anWritable[nIndex];
        pDevice->anRegs[nIndex] = (pDevice->anRegs[nIndex] & ~nMask) | (nValue & nMask);
        return KYN_OK;
    }
    if (SimGetSettings().bMemoryEchoesAddress)
        return KYN_OK;
    uint8_t *&pPage = pDevice->apPages[nAddress >> kSimPageShift];
    if (pPage == nullptr) {
        if (pDevice->pWindow == nullptr)
            pDevice->pWindow = SimHostReserveWindow(kSimWindowSize);
        if (pDevice->pWindow == nullptr)
            return SIM_ERR_OUT_OF_MEMORY;
        pPage = pDevice->pWindow + (nAddress & ~(kSimPageSize - 1));
    }
    uint8_t *p = pPage + (nAddress & (kSimPageSize - 1));
    if (nWidth == 4) {
        memcpy(p, &nValue, 4);
        ArmFastPath(pDevice, nAddress);
    } else if (nWidth == 2) {
        uint16_t nHalf = (uint16_t)nValue;
        memcpy(p, &nHalf, 2);
    } else {
        *p = (uint8_t)nValue;
    }
    return KYN_OK;
}

KYN_RESULT SimDebugAction(KynObject &object, int32_t nCommand)
{
    SimDevice &device = static_cast<SimDevice &>(object);
    unsigned hDevice = (unsigned)device.hHandle;
    switch (nCommand) {
    case 0:
        for (size_t i = 0; i < KynObjectCount(); ++i) {
            const KynObject *pListed = KynObjectAt(i);
            OsaLibraryPrint("KynSim: device 0x%X: %s type %u number %u\n", (unsigned)pListed->hHandle,
                            pListed->bBridge ? "bridge" : "board", (unsigned)pListed->nType,
                            (unsigned)pListed->nNumber);
        }
        return KYN_OK;
    case 1: {
        uint32_t nPages = 0;
        for (const uint8_t *pPage : device.apPages)
            nPages += pPage != nullptr;
        OsaLibraryPrint("KynSim: device 0x%X: %u of %u KiB of board memory in use\n", hDevice,
                        (unsigned)(nPages * (kSimPageSize >> 10)), (unsigned)(kSimWindowSize >> 10));
        return KYN_OK;
    }
    case 2:
        if (device.pWindow != nullptr)
            SimHostDiscardWindow(device.pWindow, kSimWindowSize);
        // Pages out of use must be written the checked way again, to be counted.
        KynCloseFastWindow();
        memset(device.apPages, 0, sizeof device.apPages);
        OsaLibraryPrint("KynSim: device 0x%X: board memory cleared\n", hDevice);
        return KYN_OK;
    case 3:
        for (size_t i = 0; i < KynObjectCount(); ++i)
            if (SimDevice *pBridge = static_cast<SimDevice *>(KynObjectAt(i));
                pBridge->bBridge && (pBridge->hHandle == device.hHandle || pBridge->hParent == device.hHandle))
                ResetBridge(*pBridge);
        OsaLibraryPrint("KynSim: device 0x%X: bridge registers reset\n", hDevice);
        return KYN_OK;
    default:
        return SIM_ERR_UNKNOWN_DEBUG_COMMAND;
    }
}
