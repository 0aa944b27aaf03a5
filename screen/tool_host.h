// tool_host.h - the tool's own few host calls (tool_host_posix.cpp, tool_host_win32.cpp): standard descriptors,
// terminal tests, a clock. The log file's are in log_host.h, the progress line's drawing in
// progress_line.cpp.
#ifndef DUZE_TOOL_HOST_H
#define DUZE_TOOL_HOST_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

// Opens the null device on each of descriptors 0, 1 and 2 that is closed, so that no file
// the tool opens later takes one of them and gets the console's text. Where the null device
// cannot be opened, the run says so on what it has and ends with -1.
void HostOpenStandardDescriptors();

bool HostInputIsTerminal();
// Standard output is a terminal or console, which shows each text at once.
bool HostOutputIsTerminal();
// A clock in milliseconds for measuring spans; its start is arbitrary and it may wrap.
uint32_t HostMilliseconds();

// A report the run writes (--junit), opened empty: on POSIX a link another user planted is not
// followed, and a file the run reads or writes (a register map, the log, the trace, a standard
// descriptor's) is refused and left as it was. Null with why (and *pbRefused for such a file).
FILE *HostCreateReport(const char *pszName, std::string &strWhy, bool *pbRefused);

#endif
