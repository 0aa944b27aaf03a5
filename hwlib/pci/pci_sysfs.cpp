// pci_sysfs.cpp - the sysfs access method: a BAR mapped from its resource file once memory decoding is
// checked (and turned on where the settings say), the configuration space through libpci, and the
// refusals of a driver's device, of missing rights and of the kernel's lockdown.
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "pci_internal.h"

namespace {

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
    int fd = PciTreeOpen(strPath, O_RDONLY | O_CLOEXEC);
    FILE *pFile = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (fd >= 0 && pFile == nullptr)
        close(fd);
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
        return KYN_OK;
    std::string strEnable = board.strDir + "/enable";
    std::string strEnabled = FirstLine(board.strOpenDir + "/enable");
    if (!PciGetSettings().bEnable)
        return PciFail(PCI_ERR_DECODING_OFF,
                       "Memory decoding of %s is off (Memory Space clear in its Command register%s%s): set "
                       "KYNPCI_ENABLE=1 to turn it on as a driver would",
                       board.strSlot.c_str(), strEnabled.empty() ? "" : ", enable ", strEnabled.c_str());
    if (!strDriver.empty())
        return PciFail(PCI_ERR_DECODING_OFF,
                       "Memory decoding of %s is off, and KYNPCI_ENABLE=1 does not enable a device the kernel driver %s holds",
                       board.strSlot.c_str(), strDriver.c_str());
    int fd = PciTreeOpen(board.strOpenDir + "/enable", O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
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
    return KYN_OK;
}

// Maps the board's BAR: never a device a kernel driver holds, unless the settings allow it, and
// never one whose memory decoding is off.
KYN_RESULT OpenBar(PciObject &board)
{
    std::string strDriver = PciDriverOf(board);
    if (!strDriver.empty() && !PciGetSettings().bAllowDriver)
        return PciFail(PCI_ERR_DRIVER, "%s is held by the kernel driver %s: set KYNPCI_ALLOW_DRIVER=1 to map its BAR anyway",
                       board.strSlot.c_str(), strDriver.c_str());
    KYN_RESULT nResult = PciChooseBar(board);
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
    int fd = PciTreeOpen(board.strOpenDir + szFile, O_RDWR | O_SYNC | O_CLOEXEC | (PciGetSettings().bKernelTree ? 0 : O_NOFOLLOW));
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
    return KYN_OK;
}


// A BAR that is not mapped: sysfs maps every BAR it opens, so none comes here.
KYN_RESULT BarIo(PciObject &board, uint32_t, uint32_t, bool, uint32_t *)
{
    return PciFail(PCI_ERR_NO_BAR, "BAR%d of %s is not mapped", board.nBar, board.strSlot.c_str());
}

KYN_RESULT ConfigAccess(const PciObject &bridge, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    // A live driver's device keeps its configuration as the driver set it, as its BAR is kept.
    std::string strDriver = bWrite ? PciDriverOf(bridge) : "";
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
    return KYN_OK;
}


void Close(PciObject &object)
{
    PciUnmapBar(object);
}

} // namespace

extern const PciMethods g_pciSysfs = {
    "sysfs", "the BAR mapped from the device's resource file, the configuration space through libpci",
    nullptr, nullptr, nullptr, OpenBar, BarIo, ConfigAccess, nullptr, Close, nullptr};
