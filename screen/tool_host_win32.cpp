// tool_host_win32.cpp - the tool's own host calls on Windows: standard descriptors, terminal tests, a clock.
#include <fcntl.h>
#include <io.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "tool_host.h"

// The C runtime keeps descriptors 0 to 2 for the standard streams even where a handle is
// missing, so a file the tool opens never takes one of them; a missing one gets the null
// device all the same, so that a missing standard input reads as its end, as on POSIX.
void HostOpenStandardDescriptors()
{
    FILE *apStreams[] = {stdin, stdout, stderr};
    for (int fd = 0; fd <= 2; ++fd)
        if (_get_osfhandle(fd) < 0 && freopen("NUL", fd == 0 ? "r" : "w", apStreams[fd]) == nullptr)
            continue;
}

FILE *HostCreateReport(const char *pszName, std::string &strWhy, bool *pbRefused)
{
    *pbRefused = false;
    FILE *pFile = fopen(pszName, "w");
    if (pFile == nullptr)
        strWhy = strerror(errno);
    return pFile;
}

bool HostInputIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

bool HostOutputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

uint32_t HostMilliseconds()
{
    return (uint32_t)GetTickCount();
}

