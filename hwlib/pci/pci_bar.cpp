// pci_bar.cpp - the PCI library's board registers over sysfs: the BAR chosen, memory decoding checked
// (and turned on where the settings say), the BAR mapped from its resource file, and each access.
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

// The kernel driver bound to the device, or "".
std::string PciDriverOf(const PciObject &object)
{
    char szLink[512];
    ssize_t nLength = readlink((object.strDir + "/driver").c_str(), szLink, sizeof szLink - 1);
    if (nLength <= 0)
        return "";
    szLink[nLength] = '\0';
    const char *pszName = strrchr(szLink, '/');
    return pszName != nullptr ? pszName + 1 : szLink;
}

// What a refusal of root means on a kernel in lockdown: no program gets at the device this way.
KYN_RESULT PciLockdownFailure(const std::string &strLockdown, const std::string &strWhat)
{
    return PciFail(PCI_ERR_LOCKDOWN,
                   "The kernel is in lockdown (%s): it refuses %s through sysfs to every program, root too; boot "
                   "with Secure Boot off (and no lockdown=) to use this path",
                   strLockdown.c_str(), strWhat.c_str());
}

namespace {

// Which BAR holds the registers, checked; the object's nBar on success.
KYN_RESULT ChooseBar(PciObject &board)
{
    const PciSettings &settings = PciGetSettings();
    if (!PciFillInfo(board.pDevice, PCI_FILL_BASES | PCI_FILL_SIZES | PCI_FILL_IO_FLAGS))
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
    return KYN_OK;
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
        return KYN_OK;
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
    return KYN_OK;
}

// Maps the board's BAR: never a device a kernel driver holds, unless the settings allow it, and
// never one whose memory decoding is off.
KYN_RESULT MapBar(PciObject &board)
{
    std::string strDriver = PciDriverOf(board);
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
        return PciLockdownFailure(strLockdown, szWhat);
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
        return PciLockdownFailure(strLockdown, szWhat);
    if (pMapped == MAP_FAILED && nErrno == EPERM && PciHasCapability(CAP_SYS_ADMIN))
        return PciLockdownFailure("as its refusal of root shows", szWhat);
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

} // namespace

void PciUnmapBar(PciObject &board)
{
    PciUnguardMapping(board.nGuard);
    if (board.pMapping != nullptr)
        munmap(board.pMapping, board.nMapLength);
    board.nGuard = -1;
    board.pMapping = nullptr;
}

KYN_RESULT PciBarAccess(PciObject &board, uint32_t nAddress, uint32_t nWidth, bool bWrite, uint32_t *pnValue)
{
    // Mapped once; a refusal is given again, with its text, at every later access.
    if (!board.bMapTried) {
        board.bMapTried = true;
        board.nMapResult = MapBar(board);
        if (board.nMapResult < 0)
            board.strMapText = PciResultText(board.nMapResult);
    }
    if (board.nMapResult < 0)
        return PciFail(board.nMapResult, "%s", board.strMapText.c_str());
    if (PciMappingGone(board.nGuard))
        return PCI_ERR_GONE;
    if ((uint64_t)nAddress + nWidth > board.nBarSize)
        return PciFail(KynError(KYN_ERR_OUTSIDE), "Register address 0x%X is outside BAR%d (size 0x%llX) of %s", (unsigned)nAddress,
                       board.nBar, (unsigned long long)board.nBarSize, board.strSlot.c_str());
    // Exactly one access of the width asked for: volatile, never split, never widened.
    volatile uint8_t *pRegister = board.pBar + nAddress;
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
    if (PciMappingGone(board.nGuard))
        return PCI_ERR_GONE;
    // Later 32-bit accesses go to the mapping straight from the front.
    if (nWidth == 4 && board.nBarSize >= 4)
        KynOpenFastWindow(board.hHandle, board.pBar, 0, (uint32_t)std::min<uint64_t>(board.nBarSize - 4, 0xFFFFFFFCu));
    return KYN_OK;
}
