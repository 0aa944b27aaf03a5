// command_line.h - the options record filled from the command line, the usage text, the long
// options and what a program adds to them.
#ifndef DUZE_COMMAND_LINE_H
#define DUZE_COMMAND_LINE_H

#include <stddef.h>
#include <stdint.h>

#include "options.h"

// A long option a program adds for its library (the PCI program's --device and --ids). It is taken
// out of the command line before the library starts, since libraries read their settings then.
struct ProgramOption {
    const char *pszName;  // "--device"
    const char *pszValue; // "SLOT", shown in --help
    const char *pszHelp;  // its line in --help
    void (*pfnTake)(const char *pszValue);
};
// What a program tells the tool about its library: its options, and its settings' lines for --help.
struct ProgramExtras {
    const ProgramOption *aOptions;
    size_t nOptions;
    const char *pszSettingsHelp; // one line a setting, each ending in a line end
};

// Takes the program's options out of argv (each with its value), handing each its value; a missing
// value ends the run with status 2. Before the console starts.
void TakeProgramOptions(int *pArgc, char **argv, const ProgramExtras &extras);

// The defaults, then every argument in order; returns only when every argument was recognised.
// --help and --version end the run with status 0, a malformed long option with status 2.
void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions);
void PrintUsage();
// The banner line, once, before the first thing the parser prints: a one-shot run never shows it.
void ShowBanner();

#endif
