// pci_devices.cpp - the PCI library's devices: found and selected through libpci, their configuration
// space through libpci, their attributes, and the BAR behind their registers mapped from sysfs.
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>

#include "pci_internal.h"
#include "printable.h"

bool g_bPciConnected = false;

namespace {

pci_access *g_pAccess = nullptr;
bool g_bScanned = false;
// libpci's last message, and its fatal errors' way back to the guarded call that met them.
jmp_buf *g_pRecover = nullptr;
std::string g_strLibpciMessage;
int g_nLibpciErrno = 0;

// Opened objects, kept until the library is released; a handle is kFirstHandle plus its index.
const KYN_HANDLE kFirstHandle = 0x20;
std::vector<PciObject *> g_apObjects;

std::string Format(const char *pszFormat, va_list args)
{
    char szText[512];
    vsnprintf(szText, sizeof szText, pszFormat, args);
    return szText;
}

[[noreturn]] void OnLibpciError(char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_strLibpciMessage = Format(pszFormat, args);
    va_end(args);
    if (g_pRecover != nullptr)
        longjmp(*g_pRecover, 1);
    OsaFatal("kynpci: libpci: " + g_strLibpciMessage);
}

// Kept for the text of the failure it goes with; libpci never writes to the console.
void OnLibpciWarning(char *pszFormat, ...)
{
    g_nLibpciErrno = errno;
    va_list args;
    va_start(args, pszFormat);
    g_strLibpciMessage = Format(pszFormat, args);
    va_end(args);
}

void OnLibpciDebug(char *, ...)
{
}

// Runs pfnStep with libpci's fatal errors turned into a false return; the message stays in
// g_strLibpciMessage. Nothing with a destructor may live in pfnStep's frames.
bool Guarded(void (*pfnStep)(void *), void *pArg)
{
    jmp_buf recover;
    jmp_buf *pOuter = g_pRecover;
    if (setjmp(recover) != 0) {
        g_pRecover = pOuter;
        return false;
    }
    g_pRecover = &recover;
    pfnStep(pArg);
    g_pRecover = pOuter;
    return true;
}

void ScanStep(void *)
{
    pci_scan_bus(g_pAccess);
}

struct FillStep {
    pci_dev *pDevice;
    int nFlags;
};

void FillInfoStep(void *pArg)
{
    FillStep *pStep = (FillStep *)pArg;
    pci_fill_info(pStep->pDevice, pStep->nFlags);
}

bool FillInfo(pci_dev *pDevice, int nFlags)
{
    FillStep step = {pDevice, nFlags};
    return Guarded(FillInfoStep, &step);
}

// The devices whose IDs or slot match one of the filters; filling in their IDs reads only their
// vendor and device files, never a device itself.
struct MatchStep {
    const pci_filter *pFilters;
    size_t nFilters;
    pci_dev *apFound[256];
    size_t nFound;
};

void MatchDevicesStep(void *pArg)
{
    MatchStep *pStep = (MatchStep *)pArg;
    for (pci_dev *pDevice = g_pAccess->devices; pDevice != nullptr; pDevice = pDevice->next) {
        for (size_t i = 0; i < pStep->nFilters; ++i) {
            if (pci_filter_match((pci_filter *)&pStep->pFilters[i], pDevice)) {
                if (pStep->nFound < sizeof pStep->apFound / sizeof pStep->apFound[0])
                    pStep->apFound[pStep->nFound++] = pDevice;
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

std::string SlotName(const pci_dev *pDevice)
{
    char szSlot[32];
    snprintf(szSlot, sizeof szSlot, "%04x:%02x:%02x.%d", (unsigned)pDevice->domain, (unsigned)pDevice->bus,
             (unsigned)pDevice->dev, (int)pDevice->func);
    return szSlot;
}

// Up to three slots, for a message.
std::string SlotList(const MatchStep &step)
{
    std::string strList;
    for (size_t i = 0; i < step.nFound && i < 3; ++i)
        strList += (i > 0 ? ", " : "") + SlotName(step.apFound[i]);
    return strList + (step.nFound > 3 ? ", ..." : "");
}

KYN_RESULT Scan()
{
    if (g_bScanned)
        return PCI_OK;
    if (!Guarded(ScanStep, nullptr))
        return PciFail(PCI_ERR_DEVICE_LIST, "The PCI devices under %s cannot be listed: %s",
                       PciGetSettings().strSysfs.c_str(), g_strLibpciMessage.c_str());
    g_bScanned = true;
    return PCI_OK;
}

// The device of board nNumber of type nType, as the settings select it; else a failure whose
// text names the setting to use.
KYN_RESULT SelectDevice(uint32_t nType, uint32_t nNumber, pci_dev **ppDevice)
{
    const PciSettings &settings = PciGetSettings();
    KYN_RESULT nResult = Scan();
    if (nResult < 0)
        return nResult;
    MatchStep step;
    step.nFound = 0;
    if (settings.bDevice) {
        step.pFilters = &settings.device;
        step.nFilters = 1;
    } else {
        const PciBoardIds *pIds = nullptr;
        for (const PciBoardIds &ids : settings.aIds)
            if (ids.nType == nType)
                pIds = &ids;
        if (pIds == nullptr)
            return PciFail(PCI_ERR_NO_SUCH_DEVICE,
                           "No PCI device selected for board type %u number %u: set KYNPCI_IDS=%u=VENDOR:DEVICE or "
                           "KYNPCI_DEVICE=[[DOMAIN:]BUS:]DEVICE.FUNCTION",
                           (unsigned)nType, (unsigned)nNumber, (unsigned)nType);
        step.pFilters = pIds->aFilters.data();
        step.nFilters = pIds->aFilters.size();
    }
    if (!Guarded(MatchDevicesStep, &step))
        return PciFail(PCI_ERR_DEVICE_LIST, "The PCI devices under %s cannot be read: %s", settings.strSysfs.c_str(),
                       g_strLibpciMessage.c_str());
    std::sort(step.apFound, step.apFound + step.nFound, InBusOrder);
    if (settings.bDevice) {
        if (step.nFound == 0)
            return PciFail(PCI_ERR_NO_SUCH_DEVICE, "No PCI device at KYNPCI_DEVICE=%s (board type %u number %u)",
                           settings.strDevice.c_str(), (unsigned)nType, (unsigned)nNumber);
        if (step.nFound > 1)
            return PciFail(PCI_ERR_NO_SUCH_DEVICE, "KYNPCI_DEVICE=%s names %u devices (%s): give the bus too",
                           settings.strDevice.c_str(), (unsigned)step.nFound, SlotList(step).c_str());
        *ppDevice = step.apFound[0];
        return PCI_OK;
    }
    if (nNumber >= step.nFound) {
        std::string strIds;
        for (const PciBoardIds &ids : settings.aIds)
            if (ids.nType == nType)
                strIds = ids.strIds;
        return PciFail(PCI_ERR_NO_SUCH_DEVICE, "No board type %u number %u: KYNPCI_IDS %s matches %u device%s%s%s%s",
                       (unsigned)nType, (unsigned)nNumber, strIds.c_str(), (unsigned)step.nFound,
                       step.nFound == 1 ? "" : "s", step.nFound > 0 ? " (" : "", SlotList(step).c_str(),
                       step.nFound > 0 ? ")" : "");
    }
    *ppDevice = step.apFound[nNumber];
    return PCI_OK;
}

PciObject *NewObject()
{
    PciObject *pObject = new PciObject();
    pObject->hHandle = kFirstHandle + (KYN_HANDLE)g_apObjects.size();
    pObject->bBridge = false;
    pObject->hBoard = 0;
    pObject->nType = pObject->nNumber = 0;
    pObject->nMissing = PCI_OK;
    pObject->pDevice = nullptr;
    pObject->nConfigSize = 256;
    pObject->bMapTried = false;
    pObject->nMapResult = PCI_OK;
    pObject->nBar = -1;
    pObject->pBar = nullptr;
    pObject->nBarSize = 0;
    pObject->pMapping = nullptr;
    pObject->nMapLength = 0;
    pObject->nGuard = -1;
    g_apObjects.push_back(pObject);
    return pObject;
}

void SetDevice(PciObject &object, pci_dev *pDevice)
{
    object.pDevice = pDevice;
    object.strSlot = SlotName(pDevice);
    object.strDir = PciGetSettings().strSysfs + "/devices/" + object.strSlot;
    struct stat info;
    if (stat((object.strDir + "/config").c_str(), &info) == 0 && info.st_size > 0)
        object.nConfigSize = (uint32_t)std::min<off_t>(info.st_size, 4096);
}

// The kernel driver bound to the device, or "".
std::string DriverOf(const PciObject &object)
{
    char szLink[512];
    ssize_t nLength = readlink((object.strDir + "/driver").c_str(), szLink, sizeof szLink - 1);
    if (nLength <= 0)
        return "";
    szLink[nLength] = '\0';
    const char *pszName = strrchr(szLink, '/');
    return pszName != nullptr ? pszName + 1 : szLink;
}

// Which BAR holds the registers, checked; the object's nBar on success.
KYN_RESULT ChooseBar(PciObject &board)
{
    const PciSettings &settings = PciGetSettings();
    if (!FillInfo(board.pDevice, PCI_FILL_BASES | PCI_FILL_SIZES | PCI_FILL_IO_FLAGS))
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
    return PCI_OK;
}

// What a refusal of root means on a kernel in lockdown: no program gets at the device this way.
KYN_RESULT LockdownFailure(const std::string &strLockdown, const std::string &strWhat)
{
    return PciFail(PCI_ERR_LOCKDOWN,
                   "The kernel is in lockdown (%s): it refuses %s through sysfs to every program, root too; boot "
                   "with Secure Boot off (and no lockdown=) to use this path",
                   strLockdown.c_str(), strWhat.c_str());
}

// The first line of a small sysfs file, or "".
std::string FirstLine(const std::string &strPath)
{
    FILE *pFile = fopen(strPath.c_str(), "re");
    char szLine[64] = "";
    if (pFile != nullptr) {
        if (fgets(szLine, sizeof szLine, pFile) == nullptr)
            szLine[0] = '\0';
        fclose(pFile);
    }
    szLine[strcspn(szLine, "\n")] = '\0';
    return szLine;
}

bool MemoryDecodingOn(const PciObject &board)
{
    uint8_t anCommand[2] = {0, 0};
    // A Command register that cannot be read is left to the access to find out.
    if (pci_read_block(board.pDevice, PCI_COMMAND, anCommand, 2) == 0)
        return true;
    return (anCommand[0] & PCI_COMMAND_MEMORY) != 0;
}

// A BAR whose device does not decode memory reads as nothing and takes no writes: no access goes
// there silently. KYNPCI_ENABLE=1 enables the device as the kernel does for its driver.
KYN_RESULT CheckMemoryDecoding(const PciObject &board, const std::string &strDriver)
{
    if (MemoryDecodingOn(board))
        return PCI_OK;
    std::string strEnable = board.strDir + "/enable";
    std::string strEnabled = FirstLine(strEnable);
    if (!PciGetSettings().bEnable)
        return PciFail(PCI_ERR_DECODING_OFF,
                       "Memory decoding of %s is off (Memory Space clear in its Command register%s%s): set "
                       "KYNPCI_ENABLE=1 to turn it on as a driver would",
                       board.strSlot.c_str(), strEnabled.empty() ? "" : ", enable ", strEnabled.c_str());
    if (!strDriver.empty())
        return PciFail(PCI_ERR_DECODING_OFF,
                       "Memory decoding of %s is off, and KYNPCI_ENABLE=1 does not enable a device the kernel driver %s holds",
                       board.strSlot.c_str(), strDriver.c_str());
    int fd = open(strEnable.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    bool bWritten = fd >= 0 && write(fd, "1", 1) == 1;
    int nErrno = errno;
    if (fd >= 0)
        close(fd);
    if (!bWritten)
        return PciFail(PCI_ERR_DECODING_OFF, "Memory decoding of %s is off, and writing 1 to %s failed: %s",
                       board.strSlot.c_str(), strEnable.c_str(), strerror(nErrno));
    if (!MemoryDecodingOn(board))
        return PciFail(PCI_ERR_DECODING_OFF, "Memory decoding of %s is still off after writing 1 to %s",
                       board.strSlot.c_str(), strEnable.c_str());
    return PCI_OK;
}

// Maps the board's BAR: never a device a kernel driver holds, unless the settings allow it, and
// never one whose memory decoding is off.
KYN_RESULT MapBar(PciObject &board)
{
    std::string strDriver = DriverOf(board);
    if (!strDriver.empty() && !PciGetSettings().bAllowDriver)
        return PciFail(PCI_ERR_DRIVER, "%s is held by the kernel driver %s: set KYNPCI_ALLOW_DRIVER=1 to map its BAR anyway",
                       board.strSlot.c_str(), strDriver.c_str());
    KYN_RESULT nResult = ChooseBar(board);
    if (nResult < 0)
        return nResult;
    nResult = CheckMemoryDecoding(board, strDriver);
    if (nResult < 0)
        return nResult;
    char szFile[32];
    snprintf(szFile, sizeof szFile, "/resource%d", board.nBar);
    std::string strPath = board.strDir + szFile;
    char szWhat[64];
    snprintf(szWhat, sizeof szWhat, "the mapping of BAR%d of %s", board.nBar, board.strSlot.c_str());
    std::string strLockdown = PciLockdown();
    // Another tree's files are opened as they are, never through a link.
    int fd = open(strPath.c_str(), O_RDWR | O_SYNC | O_CLOEXEC | (PciGetSettings().bKernelTree ? 0 : O_NOFOLLOW));
    if (fd < 0 && (errno == EACCES || errno == EPERM) && !strLockdown.empty())
        return LockdownFailure(strLockdown, szWhat);
    if (fd < 0 && (errno == EACCES || errno == EPERM))
        return PciFail(PCI_ERR_PERMISSION, "Mapping BAR%d of %s needs root, or a udev rule that lets you write %s",
                       board.nBar, board.strSlot.c_str(), strPath.c_str());
    if (fd < 0)
        return PciFail(PCI_ERR_NO_BAR, "The kernel offers no way to map BAR%d of %s: %s: %s", board.nBar,
                       board.strSlot.c_str(), strPath.c_str(), strerror(errno));
    // The file maps from the page that holds the BAR's start: a BAR smaller than a page may start
    // inside it, and its registers are at its own offset there.
    const uint64_t nPage = (uint64_t)sysconf(_SC_PAGESIZE);
    uint64_t nOffset = (board.pDevice->base_addr[board.nBar] & PCI_ADDR_MEM_MASK) & (nPage - 1);
    uint64_t nSize = board.pDevice->size[board.nBar];
    // A file shorter than that (a test's) is mapped as far as it goes: nothing past its end is touched.
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        nSize = std::min<uint64_t>(nSize, (uint64_t)info.st_size > nOffset ? (uint64_t)info.st_size - nOffset : 0);
    nSize = std::min<uint64_t>(nSize, 1ull << 32);
    size_t nLength = (size_t)((nOffset + nSize + nPage - 1) & ~(nPage - 1));
    void *pMapped = nSize > 0 ? mmap(nullptr, nLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    int nErrno = nSize > 0 ? errno : EINVAL;
    close(fd);
    if (pMapped == MAP_FAILED && (nErrno == EACCES || nErrno == EPERM) && !strLockdown.empty())
        return LockdownFailure(strLockdown, szWhat);
    if (pMapped == MAP_FAILED && nErrno == EPERM && PciHasCapability(CAP_SYS_ADMIN))
        return LockdownFailure("as its refusal of root shows", szWhat);
    if (pMapped == MAP_FAILED && (nErrno == EACCES || nErrno == EPERM))
        return PciFail(PCI_ERR_PERMISSION, "Mapping BAR%d of %s needs root, or a udev rule that lets you write %s",
                       board.nBar, board.strSlot.c_str(), strPath.c_str());
    if (pMapped == MAP_FAILED && nErrno == EINVAL && nSize > 0)
        return PciFail(PCI_ERR_NO_BAR,
                       "The kernel will not map BAR%d of %s (Invalid argument): a driver has claimed its region for "
                       "itself alone; unbind it, or boot with iomem=relaxed",
                       board.nBar, board.strSlot.c_str());
    if (pMapped == MAP_FAILED)
        return PciFail(PCI_ERR_NO_BAR, "The kernel will not map BAR%d of %s: %s", board.nBar, board.strSlot.c_str(),
                       strerror(nErrno));
    board.pMapping = pMapped;
    board.nMapLength = nLength;
    board.pBar = (volatile uint8_t *)pMapped + nOffset;
    board.nBarSize = nSize;
    char szGone[160];
    snprintf(szGone, sizeof szGone,
             "BAR%d of %s went away during the access: the device was removed, or its resource file shrank",
             board.nBar, board.strSlot.c_str());
    board.nGuard = PciGuardMapping(pMapped, nLength, szGone);
    return PCI_OK;
}

// A register that is not there reads as all ones on the bus: a dump past the end of a 256-byte
// space shows 0xFFFFFFFF rather than asking its question for each register.
KYN_RESULT ConfigAccess(const PciObject &bridge, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    if ((uint64_t)nAddress + nWidth > bridge.nConfigSize) {
        if (bWrite)
            return PciFail(PCI_ERR_OUTSIDE, "Configuration register 0x%X is past the end of the %u-byte configuration space of %s",
                           (unsigned)nAddress, (unsigned)bridge.nConfigSize, bridge.strSlot.c_str());
        *pnValue = nWidth == 4 ? 0xFFFFFFFFu : (1u << (nWidth * 8)) - 1;
        return PCI_OK;
    }
    // A live driver's device keeps its configuration as the driver set it, as its BAR is kept.
    std::string strDriver = bWrite ? DriverOf(bridge) : "";
    if (!strDriver.empty() && !PciGetSettings().bAllowDriver)
        return PciFail(PCI_ERR_DRIVER,
                       "%s is held by the kernel driver %s: set KYNPCI_ALLOW_DRIVER=1 to write its configuration space anyway",
                       bridge.strSlot.c_str(), strDriver.c_str());
    uint8_t anBytes[4] = {0, 0, 0, 0};
    g_nLibpciErrno = 0;
    g_strLibpciMessage.clear();
    int nDone;
    if (bWrite) {
        for (uint32_t i = 0; i < nWidth; ++i)
            anBytes[i] = (uint8_t)(*pnValue >> (8 * i));
        nDone = pci_write_block(bridge.pDevice, (int)nAddress, anBytes, (int)nWidth);
    } else {
        nDone = pci_read_block(bridge.pDevice, (int)nAddress, anBytes, (int)nWidth);
    }
    if (nDone == 0) {
        bool bRefused = g_nLibpciErrno == EACCES || g_nLibpciErrno == EPERM;
        std::string strLockdown = bWrite && bRefused ? PciLockdown() : "";
        if (!strLockdown.empty() || (bWrite && g_nLibpciErrno == EPERM && PciHasCapability(CAP_SYS_ADMIN)))
            return LockdownFailure(strLockdown.empty() ? "as its refusal of root shows" : strLockdown,
                                   "writes to the configuration space of " + bridge.strSlot);
        if (bWrite && bRefused)
            return PciFail(PCI_ERR_PERMISSION, "Writing the configuration space of %s needs root, or a udev rule that lets you write %s/config",
                           bridge.strSlot.c_str(), bridge.strDir.c_str());
        // The kernel shows the rest only to a process with CAP_SYS_ADMIN, whatever the file's mode.
        if (!bWrite && nAddress >= 64 && !PciHasCapability(CAP_SYS_ADMIN))
            return PciFail(PCI_ERR_PERMISSION, "Reading the configuration space of %s past 0x3F needs CAP_SYS_ADMIN (root)",
                           bridge.strSlot.c_str());
        if (!bWrite && bRefused)
            return PciFail(PCI_ERR_PERMISSION, "Reading the configuration space of %s needs root, or a udev rule that lets you read %s/config",
                           bridge.strSlot.c_str(), bridge.strDir.c_str());
        return PciFail(PCI_ERR_CONFIG_ACCESS, "%s the configuration space of %s failed: %s", bWrite ? "Writing" : "Reading",
                       bridge.strSlot.c_str(), g_strLibpciMessage.empty() ? "no answer" : g_strLibpciMessage.c_str());
    }
    if (!bWrite)
        *pnValue = (uint32_t)anBytes[0] | (uint32_t)anBytes[1] << 8 | (uint32_t)anBytes[2] << 16 | (uint32_t)anBytes[3] << 24;
    return PCI_OK;
}

// The PCI Express Device Serial Number, as lspci shows it, where the device has one.
std::string SerialNumber(const PciObject &board)
{
    // The capability lies in the extended space, which the kernel may keep from this process:
    // what could not be read is not said to be missing.
    uint8_t anHeader[4];
    g_strLibpciMessage.clear();
    if (board.nConfigSize > 256 && pci_read_block(board.pDevice, 256, anHeader, 4) == 0)
        return "not available: the extended configuration space of " + board.strSlot + " could not be read" +
               (!PciHasCapability(CAP_SYS_ADMIN) ? ": that needs CAP_SYS_ADMIN (root)"
                                                 : (g_strLibpciMessage.empty() ? "" : ": " + g_strLibpciMessage));
    pci_cap *pCap = nullptr;
    if (FillInfo(board.pDevice, PCI_FILL_CAPS | PCI_FILL_EXT_CAPS))
        pCap = pci_find_cap(board.pDevice, PCI_EXT_CAP_ID_DSN, PCI_CAP_EXTENDED);
    uint8_t anBytes[8];
    if (pCap != nullptr && pci_read_block(board.pDevice, (int)pCap->addr + 4, anBytes, 8) != 0) {
        char szSerial[32];
        snprintf(szSerial, sizeof szSerial, "%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x", anBytes[7], anBytes[6],
                 anBytes[5], anBytes[4], anBytes[3], anBytes[2], anBytes[1], anBytes[0]);
        return szSerial;
    }
    return "not available: " + board.strSlot + " has no Device Serial Number capability";
}

std::string BuildNumber(const PciObject &board)
{
    char szBuild[96];
    if (!FillInfo(board.pDevice, PCI_FILL_IDENT | PCI_FILL_CLASS_EXT))
        return "not available: " + g_strLibpciMessage;
    snprintf(szBuild, sizeof szBuild, "revision 0x%02X (%s, %04x:%04x)", (unsigned)board.pDevice->rev_id,
             board.strSlot.c_str(), (unsigned)board.pDevice->vendor_id, (unsigned)board.pDevice->device_id);
    return szBuild;
}

} // namespace

KYN_RESULT PciConnect()
{
    if (g_bPciConnected)
        return PCI_OK;
    const PciSettings &settings = PciGetSettings();
    struct stat info;
    if (stat((settings.strSysfs + "/devices").c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return PCI_CONNECT_NO_DRIVER;
    g_pAccess = pci_alloc();
    g_pAccess->method = PCI_ACCESS_SYS_BUS_PCI;
    g_pAccess->error = OnLibpciError;
    g_pAccess->warning = OnLibpciWarning;
    g_pAccess->debug = OnLibpciDebug;
    pci_set_param(g_pAccess, (char *)"sysfs.path", (char *)settings.strSysfs.c_str());
    pci_init(g_pAccess);
    g_bPciConnected = true;
    return PCI_OK;
}

void PciRelease()
{
    g_hPciFastBar = kPciNoFastBar;
    for (PciObject *pObject : g_apObjects) {
        PciUnguardMapping(pObject->nGuard);
        if (pObject->pMapping != nullptr)
            munmap(pObject->pMapping, pObject->nMapLength);
        delete pObject;
    }
    g_apObjects.clear();
    if (g_pAccess != nullptr)
        pci_cleanup(g_pAccess);
    g_pAccess = nullptr;
    g_bScanned = false;
    g_bPciConnected = false;
}

PciObject *PciFindObject(KYN_HANDLE hObject)
{
    size_t nIndex = (uint32_t)hObject - (uint32_t)kFirstHandle;
    return nIndex < g_apObjects.size() ? g_apObjects[nIndex] : nullptr;
}

// A board not found still gets a handle: every call on it says why no device answers, naming the
// setting to use, and the error report shows the board type and number asked for.
KYN_RESULT PciOpenDevice(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice)
{
    if (!g_bPciConnected)
        return PCI_ERR_NOT_CONNECTED;
    if (hParent == KYN_HANDLE_DRIVER) {
        for (PciObject *pKnown : g_apObjects) {
            if (!pKnown->bBridge && pKnown->nType == nType && pKnown->nNumber == nNumber) {
                *phDevice = pKnown->hHandle;
                return pKnown->nMissing < 0 ? PciFail(pKnown->nMissing, "%s", pKnown->strMissing.c_str()) : PCI_OK;
            }
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
        *phDevice = pBoard->hHandle;
        return nResult;
    }
    PciObject *pBoard = PciFindObject(hParent);
    if (pBoard == nullptr || pBoard->bBridge)
        return PciFail(PCI_ERR_INVALID_HANDLE, "Invalid device handle 0x%X", (unsigned)hParent);
    if (pBoard->nMissing < 0)
        return PciFail(pBoard->nMissing, "%s", pBoard->strMissing.c_str());
    if (nType != KYN_DEVICE_TYPE_PCI_BRIDGE || nNumber != 0)
        return PciFail(PCI_ERR_NO_SUCH_DEVICE, "Board 0x%X has no device of type %u number %u: its configuration space is type 24 number 0",
                       (unsigned)hParent, (unsigned)nType, (unsigned)nNumber);
    for (PciObject *pKnown : g_apObjects) {
        if (pKnown->bBridge && pKnown->hBoard == hParent) {
            *phDevice = pKnown->hHandle;
            return PCI_OK;
        }
    }
    PciObject *pBridge = NewObject();
    pBridge->bBridge = true;
    pBridge->hBoard = hParent;
    pBridge->nType = KYN_DEVICE_TYPE_PCI_BRIDGE;
    SetDevice(*pBridge, pBoard->pDevice);
    *phDevice = pBridge->hHandle;
    return PCI_OK;
}

KYN_RESULT PciLookUpAttr(KYN_HANDLE hObject, uint32_t nId, PciAttrValue &value)
{
    if (hObject == KYN_HANDLE_LIBRARY) {
        if (nId == KYN_ATTR_VERSION) {
            value.eKind = PCI_ATTR_SZ;
            value.strText = DUZE_VERSION " (libpci " PCILIB_VERSION ")";
        } else if (nId == KYN_ATTR_FILE_NAME) {
            value.eKind = PCI_ATTR_SZ;
            value.strText = KYNPCI_FILE_NAME;
        } else if (nId == KYN_ATTR_STATIC_LINKED) {
            value.eKind = PCI_ATTR_BOOL;
            value.nValue = 1;
        }
        return value.eKind == PCI_ATTR_NONE ? PCI_ERR_NO_SUCH_ATTRIBUTE : PCI_OK;
    }
    if (!g_bPciConnected)
        return PCI_ERR_NOT_CONNECTED;
    if (hObject == KYN_HANDLE_DRIVER) {
        struct utsname names;
        if (nId == KYN_ATTR_VERSION && uname(&names) == 0) {
            value.eKind = PCI_ATTR_SZ;
            value.strText = std::string("Linux ") + names.release + " (sysfs " + Printable(PciGetSettings().strSysfs) + ")";
        }
        return value.eKind == PCI_ATTR_NONE ? PCI_ERR_NO_SUCH_ATTRIBUTE : PCI_OK;
    }
    const PciObject *pObject = PciFindObject(hObject);
    if (pObject == nullptr)
        return PCI_ERR_INVALID_HANDLE;
    if (nId == KYN_ATTR_DEVICE_TYPE || nId == KYN_ATTR_DEVICE_NUMBER) {
        value.eKind = PCI_ATTR_UINT32;
        value.nValue = nId == KYN_ATTR_DEVICE_TYPE ? pObject->nType : pObject->nNumber;
        return PCI_OK;
    }
    if (pObject->nMissing < 0)
        return PciFail(pObject->nMissing, "%s", pObject->strMissing.c_str());
    if (!pObject->bBridge && nId == KYN_ATTR_SERIAL_NUMBER) {
        value.eKind = PCI_ATTR_SZ;
        value.strText = SerialNumber(*pObject);
    } else if (!pObject->bBridge && nId == KYN_ATTR_BUILD_NUMBER) {
        value.eKind = PCI_ATTR_SZ;
        value.strText = BuildNumber(*pObject);
    } else if (!pObject->bBridge && nId == KYN_ATTR_CPLD_BUILD) {
        value.eKind = PCI_ATTR_SZ;
        value.strText = "  not available over the kernel's PCI interface\n";
    }
    return value.eKind == PCI_ATTR_NONE ? PCI_ERR_NO_SUCH_ATTRIBUTE : PCI_OK;
}

KYN_RESULT PciAccess(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    if (!g_bPciConnected)
        return PCI_ERR_NOT_CONNECTED;
    PciObject *pObject = PciFindObject(hDevice);
    if (pObject == nullptr)
        return PCI_ERR_INVALID_HANDLE;
    if (pObject->nMissing < 0)
        return PciFail(pObject->nMissing, "%s", pObject->strMissing.c_str());
    if ((nAddress & (nWidth - 1)) != 0)
        return PciFail(PCI_ERR_MISALIGNED, "Register address 0x%X is not aligned to the %u-bit access width",
                       (unsigned)nAddress, (unsigned)nWidth * 8);
    if (pObject->bBridge)
        return ConfigAccess(*pObject, nAddress, nWidth, bWrite, pnValue);
    // Mapped once; a refusal is given again, with its text, at every later access.
    if (!pObject->bMapTried) {
        pObject->bMapTried = true;
        pObject->nMapResult = MapBar(*pObject);
        if (pObject->nMapResult < 0)
            pObject->strMapText = PciResultText(pObject->nMapResult);
    }
    if (pObject->nMapResult < 0)
        return PciFail(pObject->nMapResult, "%s", pObject->strMapText.c_str());
    if (PciMappingGone(pObject->nGuard))
        return PCI_ERR_GONE;
    if ((uint64_t)nAddress + nWidth > pObject->nBarSize)
        return PciFail(PCI_ERR_OUTSIDE, "Register address 0x%X is outside BAR%d (size 0x%llX) of %s", (unsigned)nAddress,
                       pObject->nBar, (unsigned long long)pObject->nBarSize, pObject->strSlot.c_str());
    // Exactly one access of the width asked for: volatile, never split, never widened.
    volatile uint8_t *pRegister = pObject->pBar + nAddress;
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
    if (PciMappingGone(pObject->nGuard))
        return PCI_ERR_GONE;
    if (nWidth == 4)
        PciArmFastPath(*pObject);
    return PCI_OK;
}
