// create_file_posix.cpp - a file opened to write by walking its path one component at a time, on POSIX.
#include "create_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// As the kernel's limit on links in one path.
const int kMaxLinks = 40;

std::vector<std::string> Components(const std::string &strPath)
{
    std::vector<std::string> aParts;
    size_t nStart = 0;
    while (nStart <= strPath.size()) {
        size_t nSlash = strPath.find('/', nStart);
        if (nSlash == std::string::npos)
            nSlash = strPath.size();
        if (nSlash > nStart)
            aParts.push_back(strPath.substr(nStart, nSlash - nStart));
        nStart = nSlash + 1;
    }
    return aParts;
}

bool MayFollow(const struct stat &link, const struct stat &directory)
{
    return link.st_uid == geteuid() || (directory.st_mode & S_IWOTH) == 0 || link.st_uid == directory.st_uid;
}

bool Ours(const struct stat &info)
{
    return info.st_uid == 0 || info.st_uid == geteuid();
}

// Whether nobody but the one running and root can take entry out of directory, or put another
// in its place: the directory is theirs and others may not write it, or it is sticky and the
// entry is theirs.
bool KeptFromOthers(const struct stat &directory, const struct stat &entry)
{
    return Ours(directory) && ((directory.st_mode & (S_IWGRP | S_IWOTH)) == 0 ||
                               ((directory.st_mode & S_ISVTX) != 0 && Ours(entry)));
}

int Fail(int fdDirectory, int nErrno)
{
    close(fdDirectory);
    errno = nErrno;
    return -1;
}

// Walks strPath from fdDirectory, which it closes; strShown is the path as the user would write it
// up to there, for the refusal's text. pbKept, where given, stays true while every step is one
// that nobody but the one running and root can change: no link, no "..".
int Walk(int fdDirectory, const std::string &strPath, std::string strShown, int nFlags, int &nLinks,
         PlantedLink &planted, bool *pbKept)
{
    if (!strPath.empty() && strPath[0] == '/') {
        close(fdDirectory);
        fdDirectory = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fdDirectory < 0)
            return -1;
        strShown = "/";
    }
    struct stat held;
    if (pbKept != nullptr && *pbKept && fstat(fdDirectory, &held) != 0)
        *pbKept = false;
    std::vector<std::string> aParts = Components(strPath);
    if (aParts.empty())
        return Fail(fdDirectory, strPath.empty() ? ENOENT : EISDIR);
    for (size_t i = 0; i < aParts.size(); ++i) {
        bool bLast = i + 1 == aParts.size();
        const char *pszPart = aParts[i].c_str();
        std::string strDirectoryShown = strShown;
        strShown += (strShown.empty() || strShown.back() == '/' ? "" : "/") + aParts[i];
        int fd = bLast ? openat(fdDirectory, pszPart, nFlags | O_NOFOLLOW | O_CLOEXEC, 0666)
                       : openat(fdDirectory, pszPart, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            if (pbKept != nullptr && *pbKept) {
                struct stat entry;
                *pbKept = aParts[i] != ".." && fstat(fd, &entry) == 0 && KeptFromOthers(held, entry);
                held = entry;
            }
            close(fdDirectory);
            if (bLast)
                return fd;
            fdDirectory = fd;
            continue;
        }
        // Not opened: a link (ELOOP, ENOTDIR, or EACCES where the kernel turns one down itself),
        // judged on the link's own descriptor, or a failure that stands.
        int nErrno = errno;
        int fdLink = openat(fdDirectory, pszPart, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat link, directory;
        bool bLink = fdLink >= 0 && fstat(fdLink, &link) == 0 && S_ISLNK(link.st_mode);
        char szTarget[PATH_MAX];
        ssize_t nTarget = bLink ? readlinkat(fdLink, "", szTarget, sizeof szTarget - 1) : -1;
        if (fdLink >= 0)
            close(fdLink);
        if (!bLink || nTarget < 0 || fstat(fdDirectory, &directory) != 0)
            return Fail(fdDirectory, nErrno);
        szTarget[nTarget] = '\0';
        if (!MayFollow(link, directory)) {
            planted.bFound = true;
            planted.bDirectory = !bLast;
            planted.strLink = strShown;
            planted.strTarget = szTarget;
            planted.nOwner = (unsigned)link.st_uid;
            return Fail(fdDirectory, ELOOP);
        }
        if (++nLinks > kMaxLinks)
            return Fail(fdDirectory, ELOOP);
        if (pbKept != nullptr)
            *pbKept = false;
        std::string strRest = szTarget;
        for (size_t j = i + 1; j < aParts.size(); ++j)
            strRest += "/" + aParts[j];
        return Walk(fdDirectory, strRest, strDirectoryShown, nFlags, nLinks, planted, pbKept);
    }
    return Fail(fdDirectory, ENOENT);
}

} // namespace

int CreateFileNoPlantedLinks(const char *pszName, int nFlags, PlantedLink &planted)
{
    return OpenNoPlantedLinks(pszName, nFlags, planted, nullptr);
}

int OpenNoPlantedLinks(const char *pszName, int nFlags, PlantedLink &planted, bool *pbKept)
{
    planted = PlantedLink();
    if (pbKept != nullptr)
        *pbKept = true;
    int fdStart = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fdStart < 0)
        return -1;
    int nLinks = 0;
    std::string strName = pszName;
    return Walk(fdStart, strName, "", nFlags, nLinks, planted, pbKept);
}

int OpenDirectoryNoPlantedLinks(const char *pszName, PlantedLink &planted, bool *pbKept)
{
    return OpenNoPlantedLinks(pszName, O_RDONLY | O_DIRECTORY, planted, pbKept);
}

bool SameFile(int fdA, int fdB)
{
    struct stat a, b;
    return fstat(fdA, &a) == 0 && fstat(fdB, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

namespace {

// Whether a directory (dev, ino) is one of those the path's own directories, from its parent up.
bool BeneathDirectory(const std::string &strPath, const struct stat &directory)
{
    for (size_t nSlash = strPath.rfind('/'); nSlash != std::string::npos && nSlash > 0; nSlash = strPath.rfind('/', nSlash - 1)) {
        struct stat info;
        if (stat(strPath.substr(0, nSlash).c_str(), &info) == 0 && info.st_dev == directory.st_dev &&
            info.st_ino == directory.st_ino)
            return true;
    }
    return false;
}

} // namespace

bool IsAFileTheRunHolds(int fd)
{
    struct stat file;
    DIR *pDir = fstat(fd, &file) == 0 ? opendir("/proc/self/fd") : nullptr;
    if (pDir == nullptr)
        return false;
    std::string strPath; // the file's, read at the first directory met
    bool bHeld = false;
    int fdDir = dirfd(pDir);
    while (struct dirent *pEntry = readdir(pDir)) {
        char *pEnd = nullptr;
        long nFd = strtol(pEntry->d_name, &pEnd, 10);
        struct stat other;
        if (pEnd == pEntry->d_name || *pEnd != '\0' || nFd < 3 || nFd == fd || nFd == fdDir || fstat((int)nFd, &other) != 0)
            continue;
        if (other.st_dev == file.st_dev && other.st_ino == file.st_ino) {
            bHeld = true;
        } else if (S_ISDIR(other.st_mode)) {
            if (strPath.empty()) {
                char szLink[64], szPath[PATH_MAX];
                snprintf(szLink, sizeof szLink, "/proc/self/fd/%d", fd);
                ssize_t nLength = readlink(szLink, szPath, sizeof szPath - 1);
                strPath = nLength > 0 ? std::string(szPath, (size_t)nLength) : std::string();
            }
            bHeld = bHeld || (!strPath.empty() && strPath[0] == '/' && BeneathDirectory(strPath, other));
        }
    }
    closedir(pDir);
    return bHeld;
}
