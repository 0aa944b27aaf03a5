// host_posix.cpp - the log's host calls on POSIX systems.
#include <unistd.h>

#include "host.h"

bool HostInputIsTerminal()
{
    return isatty(STDIN_FILENO) != 0;
}

void HostCommitFile(FILE *pFile)
{
    fsync(fileno(pFile));
}
