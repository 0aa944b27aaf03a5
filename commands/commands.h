// commands.h - the single-key command interpreter.
#ifndef DUZE_COMMANDS_H
#define DUZE_COMMANDS_H

// Runs the command of one key (its low 8 bits as a signed character); 1 when the run is to end.
int ExecuteCommand(signed char cKey);

#endif
