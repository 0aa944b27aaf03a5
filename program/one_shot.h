// one_shot.h - a run for scripts: the command line's operations (accesses, dumps, a list, a decoded
// code, ...), and a batch, instead of the key loop.
#ifndef DUZE_ONE_SHOT_H
#define DUZE_ONE_SHOT_H

struct ProgramExtras;

// Runs what the options record asks instead of the key loop; returns the exit status. The first
// failure ends the run: a failed access with status 1 and its error line, a refusal with status 2.
int RunOneShot(const ProgramExtras &extras);

#endif
