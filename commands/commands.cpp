// commands.cpp - the single-key command interpreter.
#include "commands.h"

int ExecuteCommand(signed char cKey)
{
    switch (cKey) {
    case 'q':
    case 'Q':
        return 1;
    default:
        return 0;
    }
}
