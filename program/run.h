// run.h - the whole run: start-up in its fixed order, board opening and identity, the main loop.
#ifndef DUZE_RUN_H
#define DUZE_RUN_H

// Returns the exit status of a quit; every other end leaves through exit.
int RunTool(int argc, char **argv);

#endif
