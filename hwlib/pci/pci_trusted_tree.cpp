// pci_trusted_tree.cpp - whether a PCI tree that is not the kernel's may be trusted: every directory down to
// each device's looked at through the opened root, name by name, no device file a link, none that
// another user may write.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "pci_internal.h"

namespace {

// Why the last directory of the tree could not be opened, for its text.
int g_nOpenErrno = 0;

} // namespace

bool PciFailedForItsOwnReason(int nErrno)
{
    return nErrno != 0 && nErrno != ENOENT && nErrno != ENOTDIR && nErrno != ELOOP;
}

namespace {

// A directory of a tree that is not the kernel's (pInfo, null where it could not be read): another
// user who may write it could plant links for root to write through, as a settings file others may
// write could point root at any device.
bool TrustedDirectory(const struct stat *pInfo, const std::string &strDir, std::string &strWhy)
{
    char szMode[16];
    if (pInfo == nullptr && PciFailedForItsOwnReason(g_nOpenErrno)) {
        strWhy = strDir + " cannot be opened: " + strerror(g_nOpenErrno);
        return false;
    }
    if (pInfo == nullptr || !S_ISDIR(pInfo->st_mode)) {
        strWhy = strDir + " is not a directory (links are not followed in a tree that is not the kernel's)";
        return false;
    }
    if (pInfo->st_uid != 0 && pInfo->st_uid != geteuid()) {
        strWhy = strDir + " belongs to user " + std::to_string((unsigned)pInfo->st_uid) + ", neither root nor you";
        return false;
    }
    if ((pInfo->st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        snprintf(szMode, sizeof szMode, "%04o", (unsigned)(pInfo->st_mode & 07777));
        strWhy = "group or others may write " + strDir + " (mode " + szMode + ")";
        return false;
    }
    return true;
}

// A directory beneath fdParent opened without following a link, and what fstat says of it (null
// where it could not be opened as a directory): what is checked is what is then listed.
int OpenDirectoryAt(int fdParent, const char *pszName, struct stat &info, const struct stat *&pInfo)
{
    int fd = openat(fdParent, pszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    g_nOpenErrno = fd < 0 ? errno : 0;
    pInfo = fd >= 0 && fstat(fd, &info) == 0 ? &info : nullptr;
    return fd;
}

// Each name of a directory with its type, read straight from the kernel: a DIR would look at the
// descriptor again with three calls a directory, which a one-shot read pays for. visit returns
// false to stop; so does a listing that fails.
template <typename Visit> bool ListDirectory(int fd, Visit visit)
{
    alignas(8) char aBuffer[8192];
    for (;;) {
        ssize_t nRead = getdents64(fd, aBuffer, sizeof aBuffer);
        if (nRead <= 0)
            return nRead == 0;
        for (ssize_t i = 0; i < nRead;) {
            const struct dirent64 *pEntry = (const struct dirent64 *)(aBuffer + i);
            i += pEntry->d_reclen;
            if (!visit(fd, pEntry->d_name, pEntry->d_type))
                return false;
        }
    }
}

} // namespace

// Every directory of the tree down to each device's, and no device file a link; looked at through
// the opened root fdRoot, name by name, so that nothing is found again by its path. strShown names
// the root in the texts.
bool PciTrustedTree(int fdRoot, const std::string &strShown, std::string &strWhy)
{
    struct stat info;
    const struct stat *pInfo = nullptr;
    if (!TrustedDirectory(fstat(fdRoot, &info) == 0 ? &info : nullptr, strShown, strWhy))
        return false;
    int fdDevices = OpenDirectoryAt(fdRoot, "devices", info, pInfo);
    bool bTrusted = TrustedDirectory(pInfo, strShown + "/devices", strWhy);
    bTrusted = bTrusted && ListDirectory(fdDevices, [&](int fdParent, const char *pszDevice, unsigned char) {
        if (pszDevice[0] == '.')
            return true;
        std::string strDevice = strShown + "/devices/" + pszDevice;
        int fdDevice = OpenDirectoryAt(fdParent, pszDevice, info, pInfo);
        bool bDevice = TrustedDirectory(pInfo, strDevice, strWhy) &&
                       ListDirectory(fdDevice, [&](int fdFiles, const char *pszFile, unsigned char nType) {
            // The driver and IOMMU group links are only read, never opened.
            if (strcmp(pszFile, "driver") == 0 || strcmp(pszFile, "iommu_group") == 0)
                return true;
            struct stat file;
            bool bLink = nType == DT_LNK ||
                         (nType == DT_UNKNOWN && fstatat(fdFiles, pszFile, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(file.st_mode));
            if (bLink)
                strWhy = strDevice + "/" + pszFile + " is a link, and links are not followed in a tree that is not the kernel's";
            return !bLink;
        });
        if (fdDevice >= 0)
            close(fdDevice);
        return bDevice;
    });
    if (fdDevices >= 0)
        close(fdDevices);
    return bTrusted;
}

