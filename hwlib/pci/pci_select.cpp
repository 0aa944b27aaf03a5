// pci_select.cpp - the PCI library's devices found and selected through libpci, and the objects the
// handles name: boards, their configuration spaces, and boards asked for and not found.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "kyn_pci.h"
#include "pci_internal.h"

namespace {

pci_access *g_pAccess = nullptr;
bool g_bScanned = false;

void ScanStep(void *)
{
    pci_scan_bus(g_pAccess);
}

// The devices whose IDs or slot match one of the filters; filling in their IDs reads only their
// vendor and device files, never a device itself.
// The guarded step must not allocate: a first pass counts the matches (apFound null), the list is
// made room for, and a second pass fills it. Every match is kept; one past the limit is said.
struct MatchStep {
    const pci_filter *pFilters;
    size_t nFilters;
    pci_dev **apFound;
    size_t nRoom;
    size_t nFound;
};

void MatchDevicesStep(void *pArg)
{
    MatchStep *pStep = (MatchStep *)pArg;
    for (pci_dev *pDevice = g_pAccess->devices; pDevice != nullptr; pDevice = pDevice->next) {
        for (size_t i = 0; i < pStep->nFilters; ++i) {
            if (pci_filter_match((pci_filter *)&pStep->pFilters[i], pDevice)) {
                if (pStep->apFound != nullptr && pStep->nFound < pStep->nRoom)
                    pStep->apFound[pStep->nFound] = pDevice;
                ++pStep->nFound;
                break;
            }
        }
    }
}

bool InBusOrder(const pci_dev *pLeft, const pci_dev *pRight)
{
    if (pLeft->domain != pRight->domain)
        return pLeft->domain < pRight->domain;
    if (pLeft->bus != pRight->bus)
        return pLeft->bus < pRight->bus;
    if (pLeft->dev != pRight->dev)
        return pLeft->dev < pRight->dev;
    return pLeft->func < pRight->func;
}

// Up to three slots, for a message.
std::string SlotList(const std::vector<pci_dev *> &apFound)
{
    std::string strList;
    for (size_t i = 0; i < apFound.size() && i < 3; ++i)
        strList += (i > 0 ? ", " : "") + PciSlotName(apFound[i]);
    return strList + (apFound.size() > 3 ? ", ..." : "");
}

// Whether the tree has the devices directory a connect needs.
bool TreeHasDevices()
{
    struct stat info;
    std::string strDevices;
    int fdAt = PciTreeAt(PciGetSettings().strTreeOpen + "/devices", strDevices);
    return fstatat(fdAt, strDevices.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode);
}

// The filters that select board nType's devices (the slot's alone where KYNPCI_DEVICE is given), or
// none where nothing selects that type.
std::vector<pci_filter> FiltersOf(uint32_t nType)
{
    const PciSettings &settings = PciGetSettings();
    if (settings.bDevice)
        return {settings.device};
    const PciBoardIds *pIds = PciIdsOf(nType);
    return pIds != nullptr ? pIds->aFilters : std::vector<pci_filter>();
}

} // namespace

std::string PciSlotName(const pci_dev *pDevice)
{
    char szSlot[32];
    snprintf(szSlot, sizeof szSlot, "%04x:%02x:%02x.%d", (unsigned)pDevice->domain, (unsigned)pDevice->bus,
             (unsigned)pDevice->dev, (int)pDevice->func);
    return szSlot;
}

KYN_RESULT PciScan()
{
    if (g_bScanned)
        return KYN_OK;
    if (g_pAccess == nullptr)
        g_pAccess = PciNewAccess(PciGetSettings().strTreeOpen);
    if (!PciGuarded(ScanStep, nullptr))
        return PciFail(PCI_ERR_DEVICE_LIST, "The PCI devices under %s cannot be listed: %s",
                       PciGetSettings().strSysfs.c_str(), g_strLibpciMessage.c_str());
    g_bScanned = true;
    return KYN_OK;
}

pci_dev *PciFirstDevice()
{
    return g_pAccess != nullptr ? g_pAccess->devices : nullptr;
}

pci_access *PciAccess()
{
    return g_pAccess;
}

bool PciMatch(const std::vector<pci_filter> &aFilters, std::vector<pci_dev *> &apFound)
{
    apFound.clear();
    if (PciScan() < 0)
        return false;
    MatchStep step;
    step.pFilters = aFilters.data();
    step.nFilters = aFilters.size();
    step.apFound = nullptr;
    step.nRoom = 0;
    step.nFound = 0;
    bool bListed = PciGuarded(MatchDevicesStep, &step);
    std::vector<pci_dev *> apRoom(bListed && step.nFound <= kPciMaxMatches ? step.nFound : 0);
    if (bListed && step.nFound <= kPciMaxMatches) {
        step.apFound = apRoom.data();
        step.nRoom = apRoom.size();
        step.nFound = 0;
        bListed = PciGuarded(MatchDevicesStep, &step) && step.nFound == apRoom.size();
    }
    if (!bListed) {
        PciFail(PCI_ERR_DEVICE_LIST, "The PCI devices under %s cannot be read: %s", PciGetSettings().strSysfs.c_str(),
                g_strLibpciMessage.c_str());
        return false;
    }
    if (step.nFound > kPciMaxMatches) {
        PciFail(PCI_ERR_DEVICE_LIST, "More than %zu PCI functions under %s match: no machine has that many",
                kPciMaxMatches, PciGetSettings().strSysfs.c_str());
        return false;
    }
    apFound.assign(apRoom.begin(), apRoom.end());
    // In bus order, whatever order libpci found them in: board numbers count from the lowest slot.
    std::sort(apFound.begin(), apFound.end(), InBusOrder);
    return true;
}

namespace {

// The device of board nNumber of type nType, as the settings select it; else a failure whose
// text names the setting to use.
KYN_RESULT SelectDevice(uint32_t nType, uint32_t nNumber, pci_dev **ppDevice)
{
    const PciSettings &settings = PciGetSettings();
    KYN_RESULT nResult = PciScan();
    if (nResult < 0)
        return nResult;
    std::vector<pci_filter> aFilters = FiltersOf(nType);
    if (aFilters.empty())
        return PciFail(KynError(KYN_ERR_NO_SUCH_DEVICE),
                       "No PCI device selected for board type %u number %u: set KYNPCI_IDS=%u=VENDOR:DEVICE or "
                       "KYNPCI_DEVICE=[[DOMAIN:]BUS:]DEVICE.FUNCTION",
                       (unsigned)nType, (unsigned)nNumber, (unsigned)nType);
    std::vector<pci_dev *> apFound;
    if (!PciMatch(aFilters, apFound))
        return PCI_ERR_DEVICE_LIST;
    if (settings.bDevice) {
        if (apFound.empty())
            return PciFail(KynError(KYN_ERR_NO_SUCH_DEVICE), "No PCI device at KYNPCI_DEVICE=%s (board type %u number %u)",
                           settings.strDevice.c_str(), (unsigned)nType, (unsigned)nNumber);
        if (apFound.size() > 1)
            return PciFail(KynError(KYN_ERR_NO_SUCH_DEVICE), "KYNPCI_DEVICE=%s names %u devices (%s): give the bus too",
                           settings.strDevice.c_str(), (unsigned)apFound.size(), SlotList(apFound).c_str());
        *ppDevice = apFound[0];
        return KYN_OK;
    }
    if (nNumber >= apFound.size()) {
        std::string strIds = PciIdsOf(nType)->strIds;
        return PciFail(KynError(KYN_ERR_NO_SUCH_DEVICE), "No board type %u number %u: KYNPCI_IDS %s matches %u device%s%s%s%s",
                       (unsigned)nType, (unsigned)nNumber, strIds.c_str(), (unsigned)apFound.size(),
                       apFound.size() == 1 ? "" : "s", apFound.empty() ? "" : " (", SlotList(apFound).c_str(),
                       apFound.empty() ? "" : ")");
    }
    *ppDevice = apFound[nNumber];
    return KYN_OK;
}

PciObject *NewObject()
{
    // Kept until the library is released.
    PciObject *pObject = new PciObject();
    pObject->nMissing = KYN_OK;
    pObject->pDevice = nullptr;
    pObject->nConfigSize = 256;
    pObject->pMethods = PciMethodFor("");
    pObject->pMethodData = nullptr;
    pObject->bMapTried = false;
    pObject->nMapResult = KYN_OK;
    pObject->nBar = -1;
    pObject->pBar = nullptr;
    pObject->nBarSize = 0;
    pObject->pMapping = nullptr;
    pObject->nMapLength = 0;
    pObject->nGuard = -1;
    return pObject;
}

void SetDevice(PciObject &object, pci_dev *pDevice)
{
    object.pDevice = pDevice;
    object.strSlot = PciSlotName(pDevice);
    object.strDir = PciGetSettings().strSysfs + "/devices/" + object.strSlot;
    object.strOpenDir = PciGetSettings().strTreeOpen + "/devices/" + object.strSlot;
    struct stat info;
    std::string strConfig;
    int fdAt = PciTreeAt(object.strOpenDir + "/config", strConfig);
    if (fstatat(fdAt, strConfig.c_str(), &info, 0) == 0 && info.st_size > 0)
        object.nConfigSize = (uint32_t)std::min<off_t>(info.st_size, 4096);
    object.pMethods = PciMethodFor(PciDriverOf(object));
}

} // namespace

const PciBoardIds *PciIdsOf(uint32_t nType)
{
    const PciBoardIds *pAny = nullptr;
    for (const PciBoardIds &ids : PciGetSettings().aIds) {
        if (ids.nType == nType)
            return &ids;
        if (ids.nType == kPciAnyBoardType)
            pAny = &ids;
    }
    return pAny;
}

KYN_RESULT PciConnect(bool &bConnected)
{
    if (bConnected)
        return KYN_OK;
    if (!TreeHasDevices())
        return PCI_CONNECT_NO_DRIVER;
    if (g_pAccess == nullptr)
        g_pAccess = PciNewAccess(PciGetSettings().strTreeOpen);
    bConnected = true;
    return KYN_OK;
}

void PciRelease()
{
    for (size_t i = 0; i < KynObjectCount(); ++i) {
        PciObject *pObject = static_cast<PciObject *>(KynObjectAt(i));
        pObject->pMethods->pfnClose(*pObject);
    }
    KynForgetObjects();
    for (size_t i = 0; i < g_nPciMethods; ++i)
        if (g_apPciMethods[i]->pfnCloseAll != nullptr)
            g_apPciMethods[i]->pfnCloseAll();
    if (g_pAccess != nullptr)
        pci_cleanup(g_pAccess);
    g_pAccess = nullptr;
    g_bScanned = false;
}

// A board not found still gets a handle: every call on it says why no device answers, naming the
// setting to use, and the error report shows the board type and number asked for.
KYN_RESULT PciOpenDevice(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice)
{
    if (hParent == KYN_HANDLE_DRIVER) {
        if (const PciObject *pKnown = static_cast<const PciObject *>(KynFindOpened(hParent, nType, nNumber))) {
            *phDevice = pKnown->hHandle;
            return pKnown->nMissing < 0 ? PciFail(pKnown->nMissing, "%s", pKnown->strMissing.c_str()) : KYN_OK;
        }
        pci_dev *pDevice = nullptr;
        KYN_RESULT nResult = SelectDevice(nType, nNumber, &pDevice);
        PciObject *pBoard = NewObject();
        pBoard->nType = nType;
        pBoard->nNumber = nNumber;
        if (nResult < 0) {
            pBoard->nMissing = nResult;
            pBoard->strMissing = PciResultText(nResult);
        } else {
            SetDevice(*pBoard, pDevice);
        }
        *phDevice = KynAddObject(pBoard);
        return nResult;
    }
    PciObject *pBoard = PciFindObject(hParent);
    if (pBoard == nullptr || pBoard->bBridge)
        return PciFail(KynError(KYN_ERR_INVALID_HANDLE), "Invalid device handle 0x%X", (unsigned)hParent);
    if (pBoard->nMissing < 0)
        return PciFail(pBoard->nMissing, "%s", pBoard->strMissing.c_str());
    if (nType != KYN_DEVICE_TYPE_PCI_BRIDGE || nNumber != 0)
        return PciFail(KynError(KYN_ERR_NO_SUCH_DEVICE), "Board 0x%X has no device of type %u number %u: its configuration space is type 24 number 0",
                       (unsigned)hParent, (unsigned)nType, (unsigned)nNumber);
    if (const KynObject *pKnown = KynFindOpened(hParent, nType, nNumber)) {
        *phDevice = pKnown->hHandle;
        return KYN_OK;
    }
    PciObject *pBridge = NewObject();
    pBridge->bBridge = true;
    pBridge->hParent = hParent;
    pBridge->nType = KYN_DEVICE_TYPE_PCI_BRIDGE;
    // The board's own device, found a moment ago: its slot, size and way in hold for its bridge.
    pBridge->pDevice = pBoard->pDevice;
    pBridge->strSlot = pBoard->strSlot;
    pBridge->strDir = pBoard->strDir;
    pBridge->strOpenDir = pBoard->strOpenDir;
    pBridge->nConfigSize = pBoard->nConfigSize;
    pBridge->pMethods = pBoard->pMethods;
    *phDevice = KynAddObject(pBridge);
    return KYN_OK;
}

std::vector<bool> PciMethodsInUse()
{
    const PciSettings &settings = PciGetSettings();
    std::vector<bool> abInUse(g_nPciMethods, false);
    for (size_t i = 0; i < g_nPciMethods; ++i)
        abInUse[i] = settings.pAccess == g_apPciMethods[i];
    std::vector<pci_filter> aFilters;
    if (settings.bDevice)
        aFilters.push_back(settings.device);
    for (size_t i = 0; !settings.bDevice && i < settings.aIds.size(); ++i)
        aFilters.insert(aFilters.end(), settings.aIds[i].aFilters.begin(), settings.aIds[i].aFilters.end());
    std::vector<pci_dev *> apFound;
    if (settings.pAccess != nullptr || aFilters.empty() || !PciMatch(aFilters, apFound))
        return abInUse;
    for (pci_dev *pDevice : apFound) {
        const PciMethods *pMethods = PciMethodFor(PciDriverAt(settings.strTreeOpen + "/devices/" + PciSlotName(pDevice)));
        for (size_t j = 0; j < g_nPciMethods; ++j)
            abInUse[j] = abInUse[j] || g_apPciMethods[j] == pMethods;
    }
    return abInUse;
}

KynPciBoardCheck KynPciCheckBoard(uint32_t nType, uint32_t nNumber)
{
    const PciSettings &settings = PciGetSettings();
    KynPciBoardCheck check;
    check.bBySlot = settings.bDevice;
    const PciBoardIds *pIds = PciIdsOf(nType);
    check.strSelection = settings.bDevice ? settings.strDevice
                         : pIds != nullptr ? pIds->strIds.substr(pIds->strIds.find('=') + 1) : "";
    std::vector<pci_filter> aFilters = FiltersOf(nType);
    if (aFilters.empty()) {
        check.eResult = kPciNothingSelected;
        return check;
    }
    // A tree that cannot be listed is the start-up's to report, with the library's own text.
    std::vector<pci_dev *> apFound;
    if (!TreeHasDevices() || !PciMatch(aFilters, apFound))
        return check;
    check.nFound = apFound.size();
    check.strSlots = SlotList(apFound);
    if (apFound.empty())
        check.eResult = kPciNoMatch;
    else if (settings.bDevice && apFound.size() > 1)
        check.eResult = kPciSeveral;
    else if (!settings.bDevice && nNumber >= apFound.size())
        check.eResult = kPciTooFew;
    return check;
}

int KynPciOpenBoardDir(uint32_t nType, uint32_t nNumber, std::string &strSlot, std::string &strDriver,
                       std::string &strError)
{
    pci_dev *pDevice = nullptr;
    KYN_RESULT nResult = SelectDevice(nType, nNumber, &pDevice);
    if (nResult < 0) {
        const char *pszText = KynRememberedText(nResult);
        strError = pszText != nullptr ? pszText : PciResultText(nResult);
        return -1;
    }
    strSlot = PciSlotName(pDevice);
    std::string strDir = PciGetSettings().strTreeOpen + "/devices/" + strSlot;
    strDriver = PciDriverAt(strDir);
    int fd = PciTreeOpen(strDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        strError = PciGetSettings().strSysfs + "/devices/" + strSlot + " cannot be opened: " + strerror(errno);
    return fd;
}
