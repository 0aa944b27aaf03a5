// host.h - the two host calls the log needs: is the keyboard a terminal, and commit a file to disk.
#ifndef DUZE_HOST_H
#define DUZE_HOST_H

#include <stdio.h>

bool HostInputIsTerminal();
void HostCommitFile(FILE *pFile); // after fflush: the system writes the file's data to disk

#endif
