// board_image.cpp - a PCI device saved as a directory shaped like its sysfs directory (so that a
// replay is the sysfs access over a tree rooted at the image), and an image checked and copied for a run.
#include "board_image.h"

#include <errno.h>
#include <fcntl.h>
#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "board_image_format.h"
#include "create_file.h"
#include "duze_limits.h"
#include "kyn_pci.h"
#include "printable.h"
#include "screen.h"

namespace {

const uint64_t IORESOURCE_MEM = 0x200;

// The save's partial directory while it is written, removed at an exit a signal makes.
std::string g_strPartial;

void RemovePartialSave()
{
    if (!g_strPartial.empty())
        RemoveImageTree(g_strPartial);
    g_strPartial.clear();
}

struct SavedBar {
    int nBar;
    uint64_t nFlags, nSize, nSaved;
    std::string strSkipped;
};

// A small file of the device directory, whole up to nMax bytes; false where it cannot be read.
bool ReadSmall(int fdDir, const char *pszName, size_t nMax, std::string &strText)
{
    int fd = openat(fdDir, pszName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    strText.assign(nMax, '\0');
    size_t nHave = 0;
    while (nHave < nMax) {
        ssize_t nRead = pread(fd, &strText[nHave], nMax - nHave, (off_t)nHave);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            break;
        nHave += (size_t)nRead;
    }
    close(fd);
    strText.resize(nHave);
    return nHave > 0;
}

std::string Trimmed(std::string strText)
{
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == ' '))
        strText.pop_back();
    return strText;
}

// A new file of nSize bytes, pData's nData of them written from the start and the rest a hole.
bool WriteFileAt(int fdDir, const std::string &strName, const void *pData, size_t nData, uint64_t nSize,
                 std::string &strError)
{
    int fd = openat(fdDir, strName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool bDone = fd >= 0 && ftruncate(fd, (off_t)nSize) == 0;
    for (size_t nDone = 0; bDone && nDone < nData; ) {
        ssize_t nWritten = pwrite(fd, (const char *)pData + nDone, nData - nDone, (off_t)nDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        bDone = nWritten > 0;
        if (bDone)
            nDone += (size_t)nWritten;
        else if (nWritten == 0)
            errno = ENOSPC;
    }
    bDone = bDone && fsync(fd) == 0;
    int nErrno = errno;
    if (fd >= 0 && close(fd) != 0 && bDone) {
        bDone = false;
        nErrno = errno;
    }
    if (!bDone)
        strError = strName + " cannot be written: " + strerror(nErrno);
    return bDone;
}

bool WriteText(int fdDir, const std::string &strName, const std::string &strText, std::string &strError)
{
    return WriteFileAt(fdDir, strName, strText.data(), strText.size(), strText.size(), strError);
}

// The configuration space as lspci -xxxx shows it, which lspci -F reads back.
std::string ConfigText(const std::string &strSlot, const std::string &strConfig)
{
    auto Byte = [&](size_t n) { return n < strConfig.size() ? (unsigned)(unsigned char)strConfig[n] : 0u; };
    char szLine[128];
    snprintf(szLine, sizeof szLine, "%s %02x%02x: %02x%02x:%02x%02x", strSlot.c_str(), Byte(11), Byte(10), Byte(1), Byte(0),
             Byte(3), Byte(2));
    std::string strText = szLine;
    if (Byte(8) != 0) {
        snprintf(szLine, sizeof szLine, " (rev %02x)", Byte(8));
        strText += szLine;
    }
    strText += "\n";
    for (size_t nOffset = 0; nOffset < strConfig.size(); nOffset += 16) {
        snprintf(szLine, sizeof szLine, "%02zx:", nOffset);
        strText += szLine;
        for (size_t i = nOffset; i < nOffset + 16 && i < strConfig.size(); ++i) {
            snprintf(szLine, sizeof szLine, " %02x", Byte(i));
            strText += szLine;
        }
        strText += "\n";
    }
    return strText + "\n";
}

// Up to nLimit bytes of a memory BAR through its resource file, read-only and in aligned 32-bit
// reads as the device answers them; what cannot be read is said in bar.strSkipped.
std::string ReadBar(int fdDevice, SavedBar &bar, uint64_t nLimit, const std::vector<ImageSaveOptions::Unread> &aUnread)
{
    uint64_t nWanted = bar.nSize < nLimit ? bar.nSize : nLimit;
    nWanted &= ~(uint64_t)3;
    std::string strName = "resource" + std::to_string(bar.nBar);
    int fd = openat(fdDevice, strName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        bar.strSkipped = strName + " cannot be opened: " + strerror(errno);
        return "";
    }
    struct stat st;
    // A plain file (a saved image, a test's tree) may be shorter than the BAR.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && (uint64_t)st.st_size < bar.nSize)
        nWanted = std::min(nWanted, (uint64_t)st.st_size & ~(uint64_t)3);
    void *pMapped = nWanted > 0 ? mmap(nullptr, (size_t)nWanted, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    int nErrno = errno;
    close(fd);
    if (pMapped == MAP_FAILED) {
        bar.strSkipped = strName + " cannot be mapped: " + strerror(nErrno);
        return "";
    }
    std::string strBytes((size_t)nWanted, '\0');
    const volatile uint32_t *pnWords = (const volatile uint32_t *)pMapped;
    std::vector<bool> abSkip((size_t)(nWanted / 4), false);
    for (const ImageSaveOptions::Unread &unread : aUnread)
        if (unread.nWord / 4 < abSkip.size())
            abSkip[unread.nWord / 4] = true;
    // A device removed while it is read, or a file shrunk, raises SIGBUS: the guard takes it, and
    // what was read before it is saved.
    int nGuard = KynPciGuardMapping(pMapped, (size_t)nWanted);
    uint64_t nRead = 0;
    for (; nRead < nWanted / 4; ++nRead) {
        if ((nRead & 0xFFFF) == 0xFFFF)
            LetInterruptsAct();
        if (abSkip[(size_t)nRead])
            continue;
        uint32_t nWord = pnWords[nRead];
        if (KynPciMappingGone(nGuard))
            break;
        memcpy(&strBytes[(size_t)nRead * 4], &nWord, 4);
    }
    KynPciUnguardMapping(nGuard);
    munmap(pMapped, (size_t)nWanted);
    // A signal during a large BAR ends the run now, not after the whole save.
    LetInterruptsAct();
    char szOffset[24];
    snprintf(szOffset, sizeof szOffset, "0x%llX", (unsigned long long)nRead * 4);
    if (nRead * 4 < nWanted) {
        // The words from the one that faulted on are holes of the image.
        strBytes.resize((size_t)nRead * 4);
        bar.strSkipped = strName + " stopped answering at " + szOffset + ": saved " + std::to_string(nRead * 4) + " of " +
                         std::to_string(bar.nSize) + " bytes";
    } else if (nWanted < bar.nSize && nWanted < nLimit) {
        bar.strSkipped = "saved " + std::to_string(nWanted) + " of " + std::to_string(bar.nSize) + " bytes (" + strName +
                         " ends there)";
    } else if (nWanted < bar.nSize) {
        bar.strSkipped = "saved " + std::to_string(nWanted) + " of " + std::to_string(bar.nSize) + " bytes (--image-limit)";
    }
    bar.nSaved = nRead * 4;
    return strBytes;
}

// The six BAR lines of a resource file.
std::vector<SavedBar> BarsOf(const std::string &strResource)
{
    std::vector<SavedBar> aBars;
    size_t nStart = 0;
    for (int nBar = 0; nBar < 6 && nStart < strResource.size(); ++nBar) {
        unsigned long long nFirst = 0, nLast = 0, nFlags = 0;
        // A BAR from 0 to the last address would be 2^64 bytes, a size of 0 in 64 bits: no BAR is.
        if (sscanf(strResource.c_str() + nStart, "%llx %llx %llx", &nFirst, &nLast, &nFlags) == 3 && nLast > nFirst)
            aBars.push_back({nBar, nFlags, nLast - nFirst + 1, 0,
                             nFirst == 0 && nLast == ~0ull ? "its resource line spans the whole 64-bit space: no BAR does" : ""});
        size_t nEnd = strResource.find('\n', nStart);
        nStart = nEnd == std::string::npos ? strResource.size() : nEnd + 1;
    }
    return aBars;
}

std::string UtcNow()
{
    time_t nNow = time(nullptr);
    struct tm parts;
    char szTime[32] = "";
    if (gmtime_r(&nNow, &parts) != nullptr)
        strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return szTime;
}

// One BAR of the device into the image: a memory BAR's contents, as far as asked for and allowed,
// its file as large as the BAR either way; its manifest entry. False where writing failed (or had).
bool SaveBar(int fdDevice, int fdImage, const std::string &strDriver, const ImageSaveOptions &options, bool bBoardBar,
             bool bDone, SavedBar &bar, ImageBar &entry, std::string &strError)
{
    entry.nBar = (uint32_t)bar.nBar;
    entry.nFlags = bar.nFlags;
    entry.nSize = bar.nSize;
    entry.bMemory = (bar.nFlags & IORESOURCE_MEM) != 0;
    bool bWanted = options.aBars.empty() || std::find(options.aBars.begin(), options.aBars.end(), bar.nBar) != options.aBars.end();
    // A driver's device is read only where the tool would map it: its registers are the driver's.
    bool bHeld = !strDriver.empty() && strDriver != "vfio-pci" && strDriver != "pci-stub" && !KynPciAllowsDriver();
    std::string strFile = "resource" + std::to_string(bar.nBar);
    if (bDone && entry.bMemory && bWanted && bHeld) {
        bar.strSkipped = "not read: held by " + strDriver + " (KYNPCI_ALLOW_DRIVER=1 reads it)";
        bDone = WriteFileAt(fdImage, strFile, nullptr, 0, bar.nSize, strError);
    } else if (bDone && entry.bMemory && bWanted && bar.strSkipped.empty()) {
        static const std::vector<ImageSaveOptions::Unread> kNone;
        const auto &aUnread = bBoardBar ? options.aUnread : kNone;
        std::string strBytes = ReadBar(fdDevice, bar, options.nLimit, aUnread);
        for (const ImageSaveOptions::Unread &unread : aUnread)
            entry.aUnread.push_back({unread.nWord, unread.strName, unread.strWhy});
        bDone = WriteFileAt(fdImage, strFile, strBytes.data(), strBytes.size(), bar.nSize, strError);
    } else if (entry.bMemory && !bar.strSkipped.empty()) {
        bDone = bDone && WriteFileAt(fdImage, strFile, nullptr, 0, bar.nSize, strError);
    } else if (entry.bMemory) {
        bar.strSkipped = "not asked for (--image-bars)";
        bDone = bDone && WriteFileAt(fdImage, strFile, nullptr, 0, bar.nSize, strError);
    }
    entry.nSaved = bar.nSaved;
    entry.strSkipped = bar.strSkipped;
    return bDone;
}

// The parts of saving that write: into strTemp, which the caller removes on failure.
bool WriteImage(const std::string &strTemp, int fdDevice, const std::string &strSlot, const std::string &strDriver,
                const ImageSaveOptions &options, std::vector<SavedBar> &aBars, std::string &strError)
{
    std::string strConfig, strResource;
    if (!ReadSmall(fdDevice, "config", kConfigMax, strConfig)) {
        strError = "the configuration space of " + strSlot + " cannot be read: " + strerror(errno);
        return false;
    }
    ReadSmall(fdDevice, "resource", 4096, strResource);
    std::string strDevices = strTemp + "/devices", strDir = strDevices + "/" + strSlot;
    if (mkdir(strDevices.c_str(), 0755) != 0 || mkdir(strDir.c_str(), 0755) != 0) {
        strError = strDir + " cannot be made: " + strerror(errno);
        return false;
    }
    int fdImage = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fdTop = open(strTemp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool bDone = fdImage >= 0 && fdTop >= 0;
    if (!bDone)
        strError = strTemp + " cannot be opened: " + strerror(errno);
    ImageManifest manifest;
    manifest.strSlot = strSlot;
    for (const char *pszName : {"vendor", "device", "class", "revision", "subsystem_vendor", "subsystem_device"}) {
        std::string strText;
        if (!bDone || !ReadSmall(fdDevice, pszName, 64, strText))
            continue;
        manifest.aIdentity.push_back({pszName, Printable(Trimmed(strText))});
        bDone = WriteText(fdImage, pszName, strText, strError);
    }
    if (ImageIdentity(manifest, "revision").empty() && strConfig.size() > 8) {
        char szRevision[8];
        snprintf(szRevision, sizeof szRevision, "0x%02x", (unsigned)(unsigned char)strConfig[8]);
        manifest.aIdentity.push_back({"revision", szRevision});
    }
    manifest.strDriver = Printable(strDriver);
    manifest.nConfigSize = strConfig.size();
    bDone = bDone && WriteText(fdImage, "config", strConfig, strError) &&
            WriteText(fdImage, "resource", strResource, strError) &&
            WriteText(fdTop, "config.txt", ConfigText(strSlot, strConfig), strError);
    aBars = BarsOf(strResource);
    int nBoardBar = options.nBoardBar;
    for (const SavedBar &bar : aBars)
        if (nBoardBar < 0 && (bar.nFlags & IORESOURCE_MEM) != 0)
            nBoardBar = bar.nBar;
    for (SavedBar &bar : aBars) {
        manifest.aBars.push_back(ImageBar());
        bDone = SaveBar(fdDevice, fdImage, strDriver, options, bar.nBar == nBoardBar, bDone, bar, manifest.aBars.back(), strError);
    }
    manifest.strTool = std::string("DuzeDevazu ") + DUZE_VERSION;
    manifest.strTime = UtcNow();
    manifest.aMaps = options.aMaps;
    bDone = bDone && WriteText(fdTop, "manifest.json", ImageManifestText(manifest), strError) && fsync(fdImage) == 0 &&
            fsync(fdTop) == 0;
    if (fdImage >= 0)
        close(fdImage);
    if (fdTop >= 0)
        close(fdTop);
    return bDone;
}

std::string ParentOf(const std::string &strPath)
{
    size_t nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? "." : nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

// The image's own tree, walked without following links: files and directories alone, few of them.
std::string g_strWalkProblem;
int g_nWalked = 0;
size_t g_nWalkRoot = 0;

int CheckEntry(const char *pszPath, const struct stat *pStat, int nKind, struct FTW *pWalk)
{
    const char *pszInside = strlen(pszPath) > g_nWalkRoot ? pszPath + g_nWalkRoot + 1 : ".";
    if (++g_nWalked > kImageEntriesMax)
        g_strWalkProblem = "it holds more than " + std::to_string(kImageEntriesMax) + " files";
    else if (nKind == FTW_SL || nKind == FTW_SLN)
        g_strWalkProblem = Printable(pszInside) + " is a link: an image holds none";
    else if (pWalk->level > 3)
        g_strWalkProblem = Printable(pszInside) + " is deeper than an image goes";
    else if (nKind != FTW_D && (nKind != FTW_F || !S_ISREG(pStat->st_mode)))
        g_strWalkProblem = Printable(pszInside) + " is neither a file nor a directory";
    return g_strWalkProblem.empty() ? 0 : 1;
}

std::string g_strPrivateCopy;

void RemovePrivateCopy()
{
    RemoveImageTree(g_strPrivateCopy);
    g_strPrivateCopy.clear();
}

} // namespace

void RemovePrivateCopyAtExit()
{
    if (!g_strPrivateCopy.empty())
        atexit(RemovePrivateCopy);
}

int SaveBoardImage(const char *pszDir, uint32_t nType, uint32_t nNumber, const ImageSaveOptions &options)
{
    std::string strDir = pszDir;
    while (strDir.size() > 1 && strDir.back() == '/')
        strDir.pop_back();
    struct stat st;
    if (lstat(strDir.c_str(), &st) == 0) {
        fprintf(stderr, "Error: --save-image %s: it exists; an image goes into a new directory\n", Printable(strDir).c_str());
        return 2;
    }
    // A save inside what the run reads (the image it replays, the PCI tree) would change its input.
    int fdParent = options.bScratch ? -1 : open(ParentOf(strDir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool bInInput = fdParent >= 0 && IsAFileTheRunHolds(fdParent);
    if (fdParent >= 0)
        close(fdParent);
    if (bInInput) {
        fprintf(stderr, "Error: --save-image %s: it lies inside what the run reads (an image, the PCI tree); save it elsewhere\n",
                Printable(strDir).c_str());
        return 2;
    }
    std::string strSlot, strDriver, strError;
    int fdDevice = KynPciOpenBoardDir(nType, nNumber, strSlot, strDriver, strError);
    if (fdDevice < 0) {
        fprintf(stderr, "Error: %s\n", Printable(strError).c_str());
        return 1;
    }
    // Written beside its place and renamed there whole: a failure leaves no image that looks whole.
    // The partial directory is marked and locked as the tool's: a signal's end removes it, and one a
    // killed save left is removed by the next save into the same place.
    std::string strBase = strDir.substr(strDir.find_last_of('/') + 1);
    RemoveAbandonedScratch(ParentOf(strDir), "." + strBase + ".partial-");
    std::string strTemp = ParentOf(strDir) + "/." + strBase + ".partial-XXXXXX";
    std::vector<SavedBar> aBars;
    bool bDone = mkdtemp(&strTemp[0]) != nullptr;
    if (!bDone)
        strError = ParentOf(strDir) + ": a directory cannot be made there: " + strerror(errno);
    int fdPartial = bDone ? MarkScratchDir(strTemp) : -1;
    if (bDone) {
        g_strPartial = strTemp;
        static bool s_bRegistered = false;
        if (!s_bRegistered)
            atexit(RemovePartialSave);
        s_bRegistered = true;
    }
    bDone = bDone && WriteImage(strTemp, fdDevice, strSlot, strDriver, options, aBars, strError);
    close(fdDevice);
    // A signal that came during the save ends the run here, the partial directory removed.
    LetInterruptsAct();
    unlink((strTemp + "/.duzedevazu-scratch").c_str());
    // Both must succeed: an image left under its temporary name is no image saved.
    if (bDone && (chmod(strTemp.c_str(), 0755) != 0 || rename(strTemp.c_str(), strDir.c_str()) != 0)) {
        strError = strDir + " cannot be made: " + strerror(errno);
        bDone = false;
    }
    g_strPartial = bDone ? "" : g_strPartial;
    if (fdPartial >= 0)
        close(fdPartial);
    if (!bDone) {
        RemoveImageTree(strTemp);
        g_strPartial.clear();
        fprintf(stderr, "Error: the image is not saved: %s\n", Printable(strError).c_str());
        return 255;
    }
    std::string strSaved;
    if (options.bQuiet)
        return 0;
    int nBoardBar = options.nBoardBar;
    for (const SavedBar &bar : aBars)
        if (nBoardBar < 0 && (bar.nFlags & IORESOURCE_MEM) != 0)
            nBoardBar = bar.nBar;
    for (const SavedBar &bar : aBars)
        if (bar.nSaved > 0 && bar.nBar == nBoardBar)
            for (const ImageSaveOptions::Unread &unread : options.aUnread)
                fprintf(stderr, "Warning: BAR%d: %s (0x%X) not read: %s\n", bar.nBar, unread.strName.c_str(),
                        (unsigned)unread.nWord, unread.strWhy.c_str());
    for (const SavedBar &bar : aBars) {
        if (!bar.strSkipped.empty())
            fprintf(stderr, "Warning: BAR%d: %s\n", bar.nBar, Printable(bar.strSkipped).c_str());
        if (bar.nSaved > 0)
            strSaved += ", BAR" + std::to_string(bar.nBar) + " " + std::to_string(bar.nSaved) + " bytes";
    }
    printf("Saved %s to %s: configuration space%s\n", strSlot.c_str(), Printable(strDir).c_str(), strSaved.c_str());
    return 0;
}

namespace {

bool CheckImageFiles(const std::string &strDir, std::string &strSlot, std::string &strWhy)
{
    struct stat st;
    if (lstat(strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        strWhy = "no image directory there";
        return false;
    }
    g_strWalkProblem.clear();
    g_nWalked = 0;
    g_nWalkRoot = strDir.size();
    if (nftw(strDir.c_str(), CheckEntry, 16, FTW_PHYS) != 0) {
        strWhy = g_strWalkProblem.empty() ? "it cannot be read: " + std::string(strerror(errno)) : g_strWalkProblem;
        return false;
    }
    std::string strManifest;
    int fdDir = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool bRead = fdDir >= 0 && ReadSmall(fdDir, "manifest.json", kManifestMax + 1, strManifest);
    if (fdDir >= 0)
        close(fdDir);
    if (!bRead || strManifest.size() > kManifestMax) {
        strWhy = bRead ? "manifest.json is larger than 1 MiB" : "it has no manifest.json";
        return false;
    }
    ImageManifest manifest;
    if (!ReadImageManifest(strManifest, manifest, strWhy))
        return false;
    strSlot = manifest.strSlot;
    std::string strCheck;
    if (strSlot.empty() || strSlot.find('/') != std::string::npos || !KynPciCheckSlot(strSlot.c_str(), strCheck) ||
        lstat((strDir + "/devices/" + strSlot + "/config").c_str(), &st) != 0) {
        strWhy = "the manifest's slot " + ShownValue(strSlot) + " has no device directory with a config file";
        return false;
    }
    const std::string strDevice = strDir + "/devices/" + strSlot;
    if ((uint64_t)st.st_size != manifest.nConfigSize) {
        strWhy = "the manifest does not match the files: config has " + std::to_string(st.st_size) + " bytes";
        return false;
    }
    for (const ImageBar &bar : manifest.aBars) {
        if (!bar.bMemory)
            continue;
        std::string strFile = strDevice + "/resource" + std::to_string(bar.nBar);
        if (lstat(strFile.c_str(), &st) != 0 || (uint64_t)st.st_size != bar.nSize) {
            strWhy = "the manifest does not match the files: resource" + std::to_string(bar.nBar) + " is not of the BAR's size";
            return false;
        }
    }
    return true;
}

} // namespace

bool CheckBoardImage(const std::string &strDir, std::string &strSlot, std::string &strWhy)
{
    return CheckImageFiles(strDir, strSlot, strWhy);
}

bool PrepareBoardImage(const char *pszDir, bool bWritable, std::string &strSlot, std::string &strTree,
                       std::string &strWhy)
{
    std::string strDir = pszDir;
    while (strDir.size() > 1 && strDir.back() == '/')
        strDir.pop_back();
    if (!CheckBoardImage(strDir, strSlot, strWhy))
        return false;
    if (bWritable) {
        strTree = strDir;
        return true;
    }
    // Writes of the run go to a private copy: the image stays as it was saved.
    std::string strCopy = MakeScratchDir("duzedevazu-image");
    if (strCopy.empty()) {
        strWhy = "no private copy can be made: " + std::string(strerror(errno));
        return false;
    }
    g_strPrivateCopy = strCopy;
    RemovePrivateCopyAtExit();
    std::string strCopyDevice = strCopy + "/devices/" + strSlot;
    if (mkdir((strCopy + "/devices").c_str(), 0700) != 0 || mkdir(strCopyDevice.c_str(), 0700) != 0) {
        strWhy = "no private copy can be made: " + std::string(strerror(errno));
        return false;
    }
    // What is copied is reached from the image's own directory, one name at a time, no link followed:
    // an image swapped for another tree after its check is refused, not read from outside itself.
    int fdImage = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int fdDevices = fdImage >= 0 ? openat(fdImage, "devices", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
    int fdDevice = fdDevices >= 0 ? openat(fdDevices, strSlot.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
    bool bDone = fdDevice >= 0;
    if (!bDone)
        strWhy = "it changed while it was checked: " + std::string(strerror(errno));
    for (const char *pszName : {"config", "resource", "vendor", "device", "class", "revision", "subsystem_vendor",
                                "subsystem_device", "resource0", "resource1", "resource2", "resource3", "resource4",
                                "resource5"}) {
        int fdFrom = bDone ? openat(fdDevice, pszName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
        int nErrno = errno;
        if (bDone && fdFrom < 0 && nErrno != ENOENT) {
            strWhy = "it changed while it was checked: devices/" + strSlot + "/" + pszName + ": " + strerror(nErrno);
            bDone = false;
        }
        bDone = bDone && (fdFrom < 0 || CopySparseFile(fdFrom, strCopyDevice + "/" + pszName, strWhy));
    }
    for (int fd : {fdDevice, fdDevices, fdImage})
        if (fd >= 0)
            close(fd);
    strTree = strCopy;
    return bDone;
}
