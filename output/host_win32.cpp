// host_win32.cpp - the log's host calls on Windows.
#include <io.h>
#include <stdio.h>

#include "host.h"

bool HostInputIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

void HostCommitFile(FILE *pFile)
{
    _commit(_fileno(pFile));
}
