// one_shot.h - a run for scripts: the command line's accesses, the list of boards, a decoded code.
#ifndef DUZE_ONE_SHOT_H
#define DUZE_ONE_SHOT_H

struct ProgramExtras;

// Runs what the options record asks instead of the key loop; returns the exit status (0), every
// failure ends the run with status 1 from where it happened.
int RunOneShot(const ProgramExtras &extras);

#endif
