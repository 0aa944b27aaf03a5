// run.h - the whole run: start-up in its fixed order, board opening and identity, the main loop.
#ifndef DUZE_RUN_H
#define DUZE_RUN_H

#include "command_line.h"

// command_table.h defines it.
struct BoardHandles;

// The whole run of a program whose library adds what extras says; returns the exit status of a
// quit or a one-shot run; every other end leaves through exit.
int RunTool(int argc, char **argv, const ProgramExtras &extras);
// The board of g_toolOptions and its bridge: their handles, or the run's end.
BoardHandles OpenBoard();

// The start-up's steps a one-shot run shares: the log (a one-shot run's only when named), the
// library's and driver's identity with the connect; the board's opening and identity.
void OpenLogAndShowIdentity();
BoardHandles OpenAndIdentifyBoard();
void LoadRegisterMaps();

#endif
