// tool_host_posix.cpp - the tool's own host calls on POSIX systems: standard descriptors, terminal tests, a clock.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <initializer_list>

#include "tool_host.h"

#include "create_file.h"
#include "printable.h"

namespace {

bool IsOpen(int fd)
{
    return fcntl(fd, F_GETFD) >= 0 || errno != EBADF;
}

} // namespace

void HostOpenStandardDescriptors()
{
    static const char *const s_apszNames[] = {"input", "output", "error"};
    for (int fd = 0; fd <= 2; ++fd) {
        if (IsOpen(fd))
            continue;
        // The lowest free descriptor is fd itself, as those below it are open by now.
        int fdNull = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (fdNull < 0) {
            // Whatever the tool opened now would take fd's place: the run cannot go on.
            char szMessage[160];
            int nLength = snprintf(szMessage, sizeof szMessage,
                                   "Error: Standard %s is closed and the null device cannot be opened: %s\n",
                                   s_apszNames[fd], strerror(errno));
            for (int fdTell : {2, 1})
                if (IsOpen(fdTell) && write(fdTell, szMessage, (size_t)nLength) >= 0)
                    break;
            exit(-1);
        }
        if (fdNull != fd) {
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


FILE *HostCreateReport(const char *pszName, std::string &strWhy, bool *pbRefused)
{
    *pbRefused = false;
    struct stat info;
    bool bExisted = lstat(pszName, &info) == 0;
    PlantedLink planted;
    int fd = OpenNoPlantedLinks(pszName, O_WRONLY | O_CREAT, planted, nullptr);
    if (fd < 0) {
        strWhy = planted.bFound ? "a link another user made (" + Printable(planted.strLink) + ") is not followed"
                                : std::string(strerror(errno));
        return nullptr;
    }
    bool bInput = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && IsAFileTheRunHolds(fd);
    for (int fdStd : {0, 1, 2})
        bInput = bInput || SameFile(fdStd, fd);
    if (bInput) {
        // Emptied, a map or the log would be lost: left as it was, and a name just made removed.
        close(fd);
        if (!bExisted)
            unlink(pszName);
        *pbRefused = true;
        strWhy = "it is a file the run reads or writes (a register map, the log, the trace, a standard stream)";
        return nullptr;
    }
    FILE *pFile = ftruncate(fd, 0) == 0 || !S_ISREG(info.st_mode) ? fdopen(fd, "w") : nullptr;
    if (pFile == nullptr) {
        strWhy = strerror(errno);
        close(fd);
    }
    return pFile;
}
