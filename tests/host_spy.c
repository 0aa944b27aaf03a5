/* host_spy.c - preloaded into the tool by tests that must see or change what the host does: notes
   each fsync in the file FSYNC_SPY_FILE names (the log is committed to disk only where a person
   waits at a terminal), with NO_NULL_DEVICE set the null device cannot be opened, as in a
   minimal container, and with SIGINT_AFTER_WRITE set the first write to standard output that
   holds its text is followed at once by SIGINT, as if Ctrl-C came the moment the text went out;
   with SIGCONT_AT_END set, SIGCONT comes after every exit handler of the tool's has run; with
   LINK_FLIP=NAME:TARGET the file NAME flips as another user (nobody) who races the tool would
   flip it: every open finds NAME a link to TARGET of that user's, every second look at it with
   lstat finds nothing there; with FTRUNCATE_FAILS set, emptying a file fails (EPERM), as on a file
   system that refuses it; with MMAP_REFUSED set, a shared mapping of a BAR's file (resourceN) fails
   with EACCES, as for a user without root or a udev rule; with MMAP_SHRINKS set, a BAR's file is cut
   to a quarter of what was mapped right after it is mapped, as a removed device's BAR goes; with
   MMAP_SIGNALS=N, signal N comes right after a BAR's file is mapped, as a user's Ctrl-C during a save;
   with SWAP_AFTER_WALK=NAME:TARGET, NAME is swapped for a link to TARGET right after the first walk of
   a tree (nftw), as another user would swap an image between its check and its use. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int fsync(int fd)
{
    static int (*s_pfnFsync)(int) = NULL;
    const char *pszFile = getenv("FSYNC_SPY_FILE");
    if (s_pfnFsync == NULL)
        s_pfnFsync = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (pszFile != NULL) {
        int fdSpy = open(pszFile, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fdSpy >= 0) {
            if (write(fdSpy, "fsync\n", 6) != 6) {
            }
            close(fdSpy);
        }
    }
    return s_pfnFsync(fd);
}

/* The planted link, back in place for an open; gone at every second lstat. */
static int FlipsHere(const char *pszPath, int bLook)
{
    static int s_nLooks = 0;
    const char *pszFlip = getenv("LINK_FLIP");
    const char *pszColon = pszFlip != NULL ? strchr(pszFlip, ':') : NULL;
    if (pszColon == NULL || strlen(pszPath) != (size_t)(pszColon - pszFlip) ||
        strncmp(pszPath, pszFlip, (size_t)(pszColon - pszFlip)) != 0)
        return 0;
    if (bLook && ++s_nLooks % 2 == 0) {
        unlink(pszPath);
    } else if (symlink(pszColon + 1, pszPath) == 0 && lchown(pszPath, 65534, 65534) != 0) {
        unlink(pszPath);
    }
    return 1;
}

int lstat(const char *pszPath, struct stat *pInfo)
{
    int (*pfnLstat)(const char *, struct stat *) = (int (*)(const char *, struct stat *))dlsym(RTLD_NEXT, "lstat");
    FlipsHere(pszPath, 1);
    return pfnLstat(pszPath, pInfo);
}

int openat(int fdDirectory, const char *pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    mode_t nMode = (nFlags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    int (*pfnOpenat)(int, const char *, int, ...) = (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat");
    FlipsHere(pszPath, 0);
    return pfnOpenat(fdDirectory, pszPath, nFlags, nMode);
}

static int OpenThrough(const char *pszCall, const char *pszPath, int nFlags, mode_t nMode)
{
    FlipsHere(pszPath, 0);
    if (getenv("NO_NULL_DEVICE") != NULL && strcmp(pszPath, "/dev/null") == 0) {
        errno = ENOENT;
        return -1;
    }
    int (*pfnOpen)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, pszCall);
    return pfnOpen(pszPath, nFlags, nMode);
}

int open(const char *pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    mode_t nMode = (nFlags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    return OpenThrough("open", pszPath, nFlags, nMode);
}

int open64(const char *pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    mode_t nMode = (nFlags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    return OpenThrough("open64", pszPath, nFlags, nMode);
}

int __open_2(const char *pszPath, int nFlags)
{
    return OpenThrough("open", pszPath, nFlags, 0);
}

ssize_t write(int fd, const void *pBuffer, size_t nLength)
{
    static ssize_t (*s_pfnWrite)(int, const void *, size_t) = NULL;
    static int s_bSent = 0;
    if (s_pfnWrite == NULL)
        s_pfnWrite = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    ssize_t nWritten = s_pfnWrite(fd, pBuffer, nLength);
    const char *pszText = getenv("SIGINT_AFTER_WRITE");
    if (fd == STDOUT_FILENO && nWritten > 0 && pszText != NULL && !s_bSent &&
        memmem(pBuffer, (size_t)nWritten, pszText, strlen(pszText)) != NULL) {
        s_bSent = 1;
        raise(SIGINT);
    }
    return nWritten;
}

static void ContinueAtEnd(void)
{
    raise(SIGCONT);
}

/* Registered before the tool's main: run after every handler the tool registers. */
__attribute__((constructor)) static void ArmContinueAtEnd(void)
{
    if (getenv("SIGCONT_AT_END") != NULL)
        atexit(ContinueAtEnd);
}

static int Truncate(const char *pszName, int fd, off_t nLength)
{
    int (*pfnTruncate)(int, off_t) = (int (*)(int, off_t))dlsym(RTLD_NEXT, pszName);
    if (getenv("FTRUNCATE_FAILS") != NULL) {
        errno = EPERM;
        return -1;
    }
    return pfnTruncate(fd, nLength);
}

int ftruncate(int fd, off_t nLength)
{
    return Truncate("ftruncate", fd, nLength);
}

int ftruncate64(int fd, off_t nLength)
{
    return Truncate("ftruncate64", fd, nLength);
}

static void *Map(const char *pszName, void *pAddress, size_t nLength, int nProt, int nFlags, int fd, off_t nOffset)
{
    void *(*pfnMap)(void *, size_t, int, int, int, off_t) =
        (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, pszName);
    char szLink[64], szTarget[512];
    ssize_t nTarget = -1;
    int bResource = 0;
    if ((getenv("MMAP_REFUSED") != NULL || getenv("MMAP_SHRINKS") != NULL || getenv("MMAP_SIGNALS") != NULL) && fd >= 0) {
        snprintf(szLink, sizeof szLink, "/proc/self/fd/%d", fd);
        nTarget = readlink(szLink, szTarget, sizeof szTarget - 1);
    }
    if (nTarget > 0) {
        szTarget[nTarget] = '\0';
        const char *pszBase = strrchr(szTarget, '/');
        bResource = pszBase != NULL && strncmp(pszBase + 1, "resource", 8) == 0 && pszBase[9] >= '0' && pszBase[9] <= '9';
    }
    if (bResource && getenv("MMAP_REFUSED") != NULL && (nFlags & MAP_SHARED) != 0) {
        errno = EACCES;
        return MAP_FAILED;
    }
    void *pMapped = pfnMap(pAddress, nLength, nProt, nFlags, fd, nOffset);
    /* The file shrinks to a quarter right after it is mapped, as a BAR goes when its device is removed. */
    if (bResource && getenv("MMAP_SIGNALS") != NULL && pMapped != MAP_FAILED)
        raise(atoi(getenv("MMAP_SIGNALS")));
    if (bResource && getenv("MMAP_SHRINKS") != NULL && pMapped != MAP_FAILED) {
        if (truncate(szTarget, (off_t)(nLength / 4)) != 0) {
        }
    }
    return pMapped;
}

int nftw(const char *pszDir, int (*pfnVisit)(const char *, const struct stat *, int, struct FTW *), int nOpen, int nFlags)
{
    static int s_bSwapped = 0;
    int (*pfnNftw)(const char *, int (*)(const char *, const struct stat *, int, struct FTW *), int, int) =
        (int (*)(const char *, int (*)(const char *, const struct stat *, int, struct FTW *), int, int))dlsym(RTLD_NEXT, "nftw");
    int nResult = pfnNftw(pszDir, pfnVisit, nOpen, nFlags);
    const char *pszSwap = getenv("SWAP_AFTER_WALK");
    const char *pszColon = pszSwap != NULL ? strchr(pszSwap, ':') : NULL;
    if (pszColon != NULL && !s_bSwapped) {
        char szName[512], szAside[530];
        snprintf(szName, sizeof szName, "%.*s", (int)(pszColon - pszSwap), pszSwap);
        snprintf(szAside, sizeof szAside, "%s.checked", szName);
        s_bSwapped = 1;
        if (rename(szName, szAside) != 0 || symlink(pszColon + 1, szName) != 0) {
        }
    }
    return nResult;
}

void *mmap(void *pAddress, size_t nLength, int nProt, int nFlags, int fd, off_t nOffset)
{
    return Map("mmap", pAddress, nLength, nProt, nFlags, fd, nOffset);
}

void *mmap64(void *pAddress, size_t nLength, int nProt, int nFlags, int fd, off_t nOffset)
{
    return Map("mmap64", pAddress, nLength, nProt, nFlags, fd, nOffset);
}
