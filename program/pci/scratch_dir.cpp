// scratch_dir.cpp - the PCI program's own directories and copies: a scratch directory of this user's,
// locked while its run lives and removed by a later run where a killed one left it; a tree removed
// without following links; a file copied with its holes kept.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board_image.h"
#include "duze_limits.h"

namespace {

int RemoveEntry(const char *pszPath, const struct stat *, int, struct FTW *)
{
    remove(pszPath);
    return 0;
}


} // namespace

void RemoveImageTree(const std::string &strDir)
{
    // No link followed, and nothing of another file system (a mount inside) touched.
    if (!strDir.empty())
        nftw(strDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

namespace {

// A scratch directory younger than this is not taken for abandoned: its run may be about to lock it.
const time_t kScratchGraceSeconds = 10;
// The file a run writes into its scratch directory as it makes it: only a directory holding it (a
// plain file, no link) is taken for one this tool made. A user's own directory of the same name is
// never removed.
const char kScratchMarker[] = ".duzedevazu-scratch";

bool HasMarker(int fdDir)
{
    struct stat st;
    int fd = openat(fdDir, kScratchMarker, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool bMarked = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (fd >= 0)
        close(fd);
    return bMarked;
}

} // namespace

// A killed run (SIGKILL, a power cut) cannot remove its scratch directory. Each run holds a lock on
// its own for as long as it lives, across PID namespaces too, so one whose lock can be taken was
// abandoned: the next run of the same kind removes it. Only directories of this user, of the name's
// form, not links, that hold the marker.
void RemoveAbandonedScratch(const std::string &strTemp, const std::string &strPrefix)
{
    DIR *pDir = opendir(strTemp.c_str());
    if (pDir == nullptr)
        return;
    int nSeen = 0;
    while (const dirent *pEntry = readdir(pDir)) {
        if (++nSeen > kScratchEntriesMax)
            break;
        std::string strName = pEntry->d_name;
        if (strName.size() != strPrefix.size() + 6 || strName.compare(0, strPrefix.size(), strPrefix) != 0)
            continue;
        std::string strPath = strTemp + "/" + strName;
        int fd = open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && st.st_mtime + kScratchGraceSeconds < time(nullptr) &&
            HasMarker(fd) && flock(fd, LOCK_EX | LOCK_NB) == 0)
            RemoveImageTree(strPath);
        close(fd);
    }
    closedir(pDir);
}

int MarkScratchDir(const std::string &strDir)
{
    int fd = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fdMarker = fd >= 0 ? openat(fd, kScratchMarker, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
    if (fdMarker >= 0)
        close(fdMarker);
    if (fd >= 0 && (fdMarker < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0)) {
        int nError = errno;
        close(fd);
        errno = nError;
        return -1;
    }
    return fd;
}

std::string MakeScratchDir(const char *pszName)
{
    const char *pszTemp = getenv("TMPDIR");
    std::string strTemp = pszTemp != nullptr && *pszTemp == '/' ? pszTemp : "/tmp";
    RemoveAbandonedScratch(strTemp, std::string(pszName) + "-");
    std::string strDir = strTemp + "/" + pszName + "-XXXXXX";
    if (mkdtemp(&strDir[0]) == nullptr)
        return "";
    // Held to the end of the run: the descriptor is never closed.
    int fd = MarkScratchDir(strDir);
    if (fd < 0) {
        int nError = errno;
        RemoveImageTree(strDir);
        errno = nError;
        return "";
    }
    return strDir;
}

bool CopySparseFile(int fdFrom, const std::string &strTo, std::string &strWhy)
{
    int fdTo = fdFrom >= 0 ? open(strTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
    struct stat st;
    bool bDone = fdTo >= 0 && fstat(fdFrom, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fdTo, st.st_size) == 0;
    std::vector<char> aBuffer(1u << 16);
    for (off_t nAt = 0; bDone && nAt < st.st_size; ) {
        off_t nData = lseek(fdFrom, nAt, SEEK_DATA);
        if (nData < 0)
            break; // the rest is a hole
        off_t nHole = lseek(fdFrom, nData, SEEK_HOLE);
        for (nAt = nData; bDone && nAt < nHole; ) {
            ssize_t nRead = pread(fdFrom, aBuffer.data(), (size_t)std::min<off_t>(nHole - nAt, (off_t)aBuffer.size()), nAt);
            bDone = nRead > 0 && pwrite(fdTo, aBuffer.data(), (size_t)nRead, nAt) == nRead;
            nAt += nRead > 0 ? nRead : 0;
        }
    }
    if (!bDone)
        strWhy = strTo + " cannot be written: " + strerror(errno);
    if (fdFrom >= 0)
        close(fdFrom);
    if (fdTo >= 0 && close(fdTo) != 0 && bDone) {
        strWhy = strTo + " cannot be written: " + strerror(errno);
        bDone = false;
    }
    return bDone;
}

