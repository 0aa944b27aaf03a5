// run.h - the whole run: the program's options, the start-up, then the one-shot accesses or the key loop.
#ifndef DUZE_RUN_H
#define DUZE_RUN_H

#include "command_line.h"

// The whole run of a program whose library adds what extras says; returns the exit status of a
// quit or a one-shot run; every other end leaves through exit.
int RunTool(int argc, char **argv, const ProgramExtras &extras);

#endif
