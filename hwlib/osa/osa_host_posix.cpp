// osa_host_posix.cpp - the shared console's host layer on POSIX: start and end, standard input and
// output, sleep, the clock, local time, the environment and the files a library writes.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "create_file.h"
#include "osa_host.h"
#include "osa_library.h"
#include "osa_posix.h"

extern char **environ;

namespace {

bool g_bInitDone = false;
// Wakes a console write that waits, so that an interrupt that came just before it is seen:
// its signal does nothing but end the wait.
timer_t g_wakeTimer;
bool g_bWakeTimer = false;
int g_nOutputIsFile = -1;


} // namespace

bool OsaHostKeyboardInput()
{
    return g_bOsaStdinTty;
}

bool OsaHostInputCanDrop()
{
    struct stat info;
    return fstat(STDIN_FILENO, &info) == 0 && S_ISSOCK(info.st_mode);
}

bool OsaHostWaitInput()
{
    struct pollfd wait = {STDIN_FILENO, POLLIN, 0};
    return poll(&wait, 1, -1) >= 0;
}

bool OsaHostLocalTime(int64_t nSeconds, struct tm *pTime)
{
    time_t nTime = (time_t)nSeconds;
    return (int64_t)nTime == nSeconds && localtime_r(&nTime, pTime) != nullptr;
}

uint64_t OsaTime100ns()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (uint64_t)now.tv_sec * 10000000u + (uint64_t)now.tv_nsec / 100u + 116444736000000000ull;
}

long OsaHostWriteOutput(const char *pText, size_t nLength)
{
    if (g_nOutputIsFile < 0) {
        struct stat info;
        g_nOutputIsFile = fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode) ? 1 : 0;
    }
    // A file's write never waits; any other is woken while it waits.
    if (g_nOutputIsFile == 1 || !g_bWakeTimer)
        return (long)write(STDOUT_FILENO, pText, nLength);
    struct itimerspec wake = {{0, kOsaStallMs * 1000000L}, {0, kOsaStallMs * 1000000L}}, off = {{0, 0}, {0, 0}};
    timer_settime(g_wakeTimer, 0, &wake, nullptr);
    ssize_t nWritten = write(STDOUT_FILENO, pText, nLength);
    int nErrno = errno;
    timer_settime(g_wakeTimer, 0, &off, nullptr);
    errno = nErrno;
    return (long)nWritten;
}

bool OsaHostOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

bool OsaHostWaitOutputWritable(int nMilliseconds)
{
    for (;;) {
        struct pollfd wait = {STDOUT_FILENO, POLLOUT, 0};
        int nReady = poll(&wait, 1, nMilliseconds);
        if (nReady == 1)
            return (wait.revents & POLLOUT) != 0 || (errno = EIO, false);
        if (nReady == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR || nMilliseconds >= 0)
            return false;
    }
}

char **OsaHostEnvironmentBlock()
{
    return environ;
}

void OsaHostConsoleInit()
{
    if (g_bInitDone)
        return;
    g_bInitDone = true;
    bool bTerminal = OsaTerminalStart();
    OsaCatchSignals(bTerminal);
    if (bTerminal)
        OsaEnterKeyMode();
    struct sigevent event;
    memset(&event, 0, sizeof event);
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = kOsaWakeSignal;
    g_bWakeTimer = timer_create(CLOCK_MONOTONIC, &event, &g_wakeTimer) == 0;
}

void OsaHostConsoleExit()
{
    g_bOsaLeaving = 1;
    OsaRestoreTerminal();
}

void OsaHostSleep(int32_t nMilliseconds)
{
    if (nMilliseconds <= 0)
        return;
    struct timespec wait = {(time_t)(nMilliseconds / 1000), (long)(nMilliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR)
        OsaCheckSignal();
}

FILE *OsaHostCreateFile(const char *pszName, std::string &strWhy)
{
    PlantedLink planted;
    bool bExisted = access(pszName, F_OK) == 0;
    // Without waiting, as the log: a FIFO nobody reads would hold the start-up forever.
    int fd = CreateFileNoPlantedLinks(pszName, O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK, planted);
    struct stat info;
    if (fd < 0 && errno == ENXIO && stat(pszName, &info) == 0 && S_ISFIFO(info.st_mode)) {
        strWhy = "it is a pipe that no program reads";
        return nullptr;
    }
    if (fd < 0) {
        std::string strMade = "user " + std::to_string(planted.nOwner) +
                              " made in a directory others may write: it is not followed";
        if (planted.bFound && planted.bDirectory)
            strWhy = "its directory " + planted.strLink + " is a link that " + strMade;
        else if (planted.bFound)
            strWhy = "it is a link that " + strMade;
        else
            strWhy = "cannot create the file";
        return nullptr;
    }
    // A pipe's reader that is slow holds each trace line's write, as it always did.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        for (int fdStd : {0, 1, 2}) {
            if (SameFile(fd, fdStd)) {
                close(fd);
                static const char *const s_apszStandard[] = {"it is the tool's standard input",
                                                             "it is the tool's standard output",
                                                             "it is the tool's standard error"};
                strWhy = s_apszStandard[fdStd];
                return nullptr;
            }
        }
        // Emptied, a file the run reads (a register map, the settings file, a PCI tree's file) would
        // be lost before it is read.
        if (IsAFileTheRunHolds(fd)) {
            close(fd);
            if (!bExisted)
                unlink(pszName);
            strWhy = "it is a file the run reads (a register map, the settings file, or a file of the PCI tree)";
            return nullptr;
        }
        if (ftruncate(fd, 0) != 0) {
            strWhy = std::string("cannot empty the file: ") + strerror(errno);
            close(fd);
            return nullptr;
        }
    }
    FILE *pFile = fdopen(fd, "w");
    if (pFile == nullptr) {
        strWhy = "cannot create the file";
        close(fd);
    }
    return pFile;
}
