// command_line.h - the options record filled from the command line, the usage text, the long
// options and what a program adds to them.
#ifndef DUZE_COMMAND_LINE_H
#define DUZE_COMMAND_LINE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "options.h"

// A long option a program adds for its library (the PCI program's --device and --ids). It is taken
// out of the command line before the library starts, since libraries read their settings then.
struct ProgramOption {
    const char *pszName;  // "--device"
    const char *pszValue; // "SLOT", shown in --help
    const char *pszHelp;  // its line in --help
    void (*pfnTake)(const char *pszValue);
};
// What a program tells the tool about its library: its options, and its settings' lines for --help;
// what it does in the tool's place, where it knows better (null: the tool's own way).
struct ProgramExtras {
    const ProgramOption *aOptions;
    size_t nOptions;
    const char *pszSettingsHelp; // one line a setting, each ending in a line end
    // --list: the lines to show for a run of the board type and number given; false with the
    // reason where nothing can be listed.
    // Each listed item's fields by name, too, for --json.
    bool (*pfnList)(int32_t nBoardType, uint32_t nBoardNumber, std::vector<std::string> &aLines,
                    std::vector<std::vector<std::pair<std::string, std::string>>> &aListed,
                    std::string &strError) = nullptr;
    // After the command line, before anything else: -1 to go on, else the run's status (it did its
    // own work, as saving an image does, or refused).
    int (*pfnBeforeStart)(int32_t nBoardType, uint32_t nBoardNumber) = nullptr;
    // Right after the program's options are taken, before any setting is read: -1 to go on, else
    // the run's status.
    int (*pfnAfterOptions)() = nullptr;
    // Before the start-up of a run that opens a board: why that board cannot be found at all, or "".
    std::string (*pfnBoardProblem)(int32_t nBoardType, uint32_t nBoardNumber) = nullptr;
    // The library's text on the error line of a call that concerned no device, too.
    bool bTextForEveryFailure = false;
};

// Takes the program's options out of argv (each with its value), handing each its value; a missing
// value ends the run with status 2. Before the console starts.
void TakeProgramOptions(int *pArgc, char **argv, const ProgramExtras &extras);

// Holds the register maps the command line and the settings name open, before the library starts:
// its trace, and the log, then refuse to empty them.
void HoldInputFiles(int argc, char **argv);
// The defaults, then every argument in order; returns only when every argument was recognised.
// --help and --version end the run with status 0, a malformed long option with status 2.
void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions);
void PrintUsage();
// One access's text, ADDR or ADDR=VALUE[:MASK] for the command of cKey (as --read and --write take it,
// and a batch's lines): false with why where it is none.
bool ParseAccessText(char cKey, const char *pszValue, OneShotAccess &access, std::string &strWhy);
// A result code as --decode takes it: a number, or the reported code with its fields as an error
// line shows them (0X22 [1.3]), alone or in the line (ERROR(0X22 [1.3]) Dev(...): ...).
bool ParseResultCode(const char *pszText, uint32_t *pnCode);
// The banner line, once, before the first thing the parser prints: a one-shot run never shows it.
void ShowBanner();

#endif
