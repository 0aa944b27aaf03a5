// log_host_posix.cpp - the log file's host calls on POSIX: opened without following a planted link,
// held with a lock, written and waited for, put on disk and closed, and guarded against signals.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "create_file.h"
#include "log_host.h"
#include "printable.h"

namespace {

// The log is a pipe: its writes keep SIGPIPE out.
bool g_bLogIsPipe = false;
// The log named a file the run reads.
bool g_bLogIsAnInput = false;
// A reason that names the file, for the refusal's second line.
char g_szWhy[1024];

bool WritesSameFile(int fd, int fdOther)
{
    int nFlags = fdOther != fd ? fcntl(fdOther, F_GETFL) : -1;
    return nFlags >= 0 && (nFlags & O_ACCMODE) != O_RDONLY && SameFile(fd, fdOther);
}

// Another descriptor of the run's that writes the same file: the library's call trace, or one
// the run was started with. /proc/self/fd lists only the open ones: probing every number up to
// the limit cost a one-shot read most of its system calls.
bool IsAFileTheRunWrites(int fd)
{
    if (DIR *pDir = opendir("/proc/self/fd")) {
        bool bFound = false;
        int fdDir = dirfd(pDir);
        while (struct dirent *pEntry = readdir(pDir)) {
            char *pEnd = nullptr;
            long nFd = strtol(pEntry->d_name, &pEnd, 10);
            if (pEnd != pEntry->d_name && *pEnd == '\0' && nFd > 2 && nFd != fdDir && WritesSameFile(fd, (int)nFd))
                bFound = true;
        }
        closedir(pDir);
        return bFound;
    }
    long nMax = sysconf(_SC_OPEN_MAX);
    for (int fdOther = 3; fdOther < (nMax > 0 && nMax < 4096 ? nMax : 4096); ++fdOther)
        if (WritesSameFile(fd, fdOther))
            return true;
    return false;
}

} // namespace

bool HostLogIsAnInput()
{
    return g_bLogIsAnInput;
}

int HostOpenLog(const char *pszName, const char **ppszWhy)
{
    *ppszWhy = nullptr;
    // Not emptied yet: the file may be another run's log. Without waiting: a pipe with no
    // reader would otherwise hold the start-up forever, and a pipe's reader never holds the
    // run with signals waiting.
    PlantedLink planted;
    // A log refused as a file the run reads is not left behind where it was made (in a PCI tree).
    bool bExisted = access(pszName, F_OK) == 0;
    int fd = CreateFileNoPlantedLinks(pszName, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY, planted);
    if (fd < 0) {
        int nErrno = errno;
        struct stat info;
        if (planted.bFound && planted.bDirectory)
            snprintf(g_szWhy, sizeof g_szWhy,
                     "The log file's directory %s is a link to %s that user %u made in a directory others may "
                     "write: it is not followed.",
                     Printable(planted.strLink).c_str(), Printable(planted.strTarget).c_str(), planted.nOwner);
        else if (planted.bFound)
            snprintf(g_szWhy, sizeof g_szWhy,
                     "The log file is a link to %s that user %u made in a directory others may write: it is not "
                     "followed.",
                     Printable(planted.strTarget).c_str(), planted.nOwner);
        if (planted.bFound)
            *ppszWhy = g_szWhy;
        else if (nErrno == ENXIO && stat(pszName, &info) == 0 && S_ISFIFO(info.st_mode))
            *ppszWhy = "The log file is a pipe that no program reads.";
        errno = nErrno;
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // A standard descriptor or the library's trace already on this file: the two would garble
        // each other, and input read from it would be the log read back as keys.
        static const char *const s_apszStandard[] = {
            "The log file is the tool's standard input: name another log with /L.",
            "The log file is the tool's standard output: name another log with /L.",
            "The log file is the tool's standard error: name another log with /L."};
        for (int fdStd : {0, 1, 2})
            if (SameFile(fdStd, fd))
                *ppszWhy = s_apszStandard[fdStd];
        if (*ppszWhy == nullptr && IsAFileTheRunWrites(fd))
            *ppszWhy = "The log file is the library's call trace, or another file the run writes: name another "
                       "log with /L.";
        // Emptied, a file the run reads would be lost: a script's mistake, said as one (status 2).
        g_bLogIsAnInput = *ppszWhy == nullptr && IsAFileTheRunHolds(fd);
        if (g_bLogIsAnInput && !bExisted)
            unlink(pszName);
        if (g_bLogIsAnInput)
            *ppszWhy = "The log file is a file the run reads (a register map, the settings file, or a file of the "
                       "PCI tree): name another log.";
        if (*ppszWhy != nullptr) {
            close(fd);
            errno = EEXIST;
            return -1;
        }
        struct flock lock;
        memset(&lock, 0, sizeof lock);
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(fd, F_SETLK, &lock) != 0) {
            int nErrno = errno;
            close(fd);
            if (nErrno == EAGAIN || nErrno == EACCES)
                *ppszWhy = "The log file is in use by another run.";
            errno = nErrno;
            return -1;
        }
        if (ftruncate(fd, 0) != 0) {
            int nErrno = errno;
            close(fd);
            errno = nErrno;
            return -1;
        }
    }
    g_bLogIsPipe = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
    return fd;
}

long HostWriteLog(int fdLog, const char *pText, size_t nLength)
{
    if (!g_bLogIsPipe)
        return (long)write(fdLog, pText, nLength);
    // A reader that went away is a failed write like any other, not the end of the run.
    sigset_t pipe, before, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pending);
    bool bPendingBefore = sigismember(&pending, SIGPIPE) == 1;
    sigprocmask(SIG_BLOCK, &pipe, &before);
    ssize_t nWritten = write(fdLog, pText, nLength);
    int nErrno = errno;
    if (nWritten < 0 && nErrno == EPIPE && !bPendingBefore && sigismember(&before, SIGPIPE) == 0) {
        struct timespec now = {0, 0};
        sigtimedwait(&pipe, nullptr, &now);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    errno = nErrno;
    return (long)nWritten;
}

bool HostWaitLogWritable(int fdLog, int nMilliseconds)
{
    struct pollfd wait = {fdLog, POLLOUT, 0};
    int nReady = poll(&wait, 1, nMilliseconds);
    if (nReady == 0)
        errno = ETIMEDOUT;
    if (nReady == 1 && (wait.revents & (POLLERR | POLLHUP)) != 0 && (wait.revents & POLLOUT) == 0) {
        errno = EPIPE;
        return false;
    }
    return nReady == 1;
}

bool HostCommitLog(int fdLog)
{
    // A pipe or device has no disk to commit to.
    return fsync(fdLog) == 0 || errno == EINVAL;
}

bool HostLogRemoved(int fdLog)
{
    struct stat info;
    return fstat(fdLog, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 0;
}

bool HostCloseLog(int fdLog)
{
    return close(fdLog) == 0 || errno == EINTR;
}

namespace {

void (*g_pfnWritePending)() = nullptr;
// The handlers found in place, which the guard calls after writing the log's pending bytes.
struct sigaction g_aGuarded[NSIG];

void GuardHandler(int nSignal, siginfo_t *pInfo, void *pContext)
{
    // A write past the file-size limit sends SIGXFSZ: writing again from its handler would send
    // another at once, and the run would spin on it with every other signal starved.
    if (nSignal != SIGXFSZ) {
        int nErrno = errno;
        g_pfnWritePending();
        errno = nErrno;
    }
    const struct sigaction &found = g_aGuarded[nSignal];
    if ((found.sa_flags & SA_SIGINFO) != 0)
        found.sa_sigaction(nSignal, pInfo, pContext);
    else
        found.sa_handler(nSignal);
}

} // namespace



void HostGuardLogOnSignals(void (*pfnWritePending)())
{
    if (g_pfnWritePending != nullptr)
        return;
    g_pfnWritePending = pfnWritePending;
    for (int nSignal = 1; nSignal < NSIG; ++nSignal) {
        struct sigaction found;
        if (sigaction(nSignal, nullptr, &found) != 0)
            continue;
        bool bInfo = (found.sa_flags & SA_SIGINFO) != 0;
        if (!bInfo && (found.sa_handler == SIG_DFL || found.sa_handler == SIG_IGN))
            continue;
        g_aGuarded[nSignal] = found;
        struct sigaction guard = found;
        guard.sa_sigaction = GuardHandler;
        guard.sa_flags |= SA_SIGINFO;
        sigaction(nSignal, &guard, nullptr);
    }
}
