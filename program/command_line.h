// command_line.h - the options record filled from the command line, and the usage text.
#ifndef DUZE_COMMAND_LINE_H
#define DUZE_COMMAND_LINE_H

#include "options.h"

// The defaults, then every argument in order; returns only when every argument was recognised.
void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions);
void PrintUsage();

#endif
