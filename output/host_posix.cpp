// host_posix.cpp - the tool's host calls on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "host.h"

void HostOpenStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free descriptor is fd itself, as those below it are open by now.
        int fdNull = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (fdNull >= 0 && fdNull != fd) {
            dup2(fdNull, fd);
            close(fdNull);
        }
    }
}

bool HostInputIsTerminal()
{
    return isatty(STDIN_FILENO) != 0;
}

bool HostOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

uint32_t HostMilliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

int HostOpenLog(const char *pszName, const char **ppszWhy)
{
    *ppszWhy = nullptr;
    // Not emptied yet: the file may be another run's log. Without waiting: a pipe with no
    // reader would otherwise hold the start-up forever.
    int fd = open(pszName, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        struct stat info;
        if (errno == ENXIO && stat(pszName, &info) == 0 && S_ISFIFO(info.st_mode))
            *ppszWhy = "The log file is a pipe that no program reads.";
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
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
    // From here on a pipe's reader sets the pace, as for any writer.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

long HostWriteLog(int fdLog, const char *pText, size_t nLength)
{
    return (long)write(fdLog, pText, nLength);
}

bool HostCommitLog(int fdLog)
{
    // A pipe or device has no disk to commit to.
    return fsync(fdLog) == 0 || errno == EINVAL;
}

bool HostCloseLog(int fdLog)
{
    return close(fdLog) == 0 || errno == EINTR;
}

namespace {

sigset_t g_maskBeforeHold;
void (*g_pfnWritePending)() = nullptr;
// The handlers found in place, which the guard calls after writing the log's pending bytes.
struct sigaction g_aGuarded[NSIG];

void GuardHandler(int nSignal, siginfo_t *pInfo, void *pContext)
{
    int nErrno = errno;
    g_pfnWritePending();
    errno = nErrno;
    const struct sigaction &found = g_aGuarded[nSignal];
    if ((found.sa_flags & SA_SIGINFO) != 0)
        found.sa_sigaction(nSignal, pInfo, pContext);
    else
        found.sa_handler(nSignal);
}

} // namespace

void HostHoldSignals(bool bHold)
{
    if (bHold) {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &g_maskBeforeHold);
    } else {
        sigprocmask(SIG_SETMASK, &g_maskBeforeHold, nullptr);
    }
}

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
