// run.h - the whole run: start-up in its fixed order, board opening and identity, the main loop.
#ifndef DUZE_RUN_H
#define DUZE_RUN_H

// command_table.h defines it.
struct BoardHandles;

// Returns the exit status of a quit; every other end leaves through exit.
int RunTool(int argc, char **argv);
// The board of g_toolOptions and its bridge: their handles, or the run's end.
BoardHandles OpenBoard();

#endif
