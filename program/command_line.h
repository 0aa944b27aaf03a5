// command_line.h - the options record filled from the command line, the usage text, the long
// options and what a program adds to them.
#ifndef DUZE_COMMAND_LINE_H
#define DUZE_COMMAND_LINE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "options.h"

// A long option that is no operation: one row type for the tool's own and a program's (the PCI
// program's --device, --ids, --compare, ...). The handler takes the value (null where the option
// takes none) and, where the row declares one, its operand (the next argument where it is no
// option; else null) into the options record; a malformed value ends the run with status 2.
struct OptionRow {
    const char *pszName;    // "--log"
    const char *pszValue;   // "FILE", shown in --help; null: the option takes none
    void (*pfnTake)(const OptionRow &row, const char *pszValue, const char *pszOperand, ToolOptions *pOptions);
    const char *pszHelp;    // its line in --help
    const char *pszOperand; // a second value it may take ("DIR2"), or null
};
// What a program tells the tool about its library: its options, and its settings' lines for --help;
// what it does in the tool's place, where it knows better (null: the tool's own way).
struct ProgramExtras {
    const OptionRow *aOptions; // the program's rows, after the tool's; taken out of the command line
    size_t nOptions;           // before the library starts, since libraries read their settings then
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
    // Right after the program's options are taken into the options record, before any setting is
    // read: -1 to go on, else the run's status.
    int (*pfnAfterOptions)(const ToolOptions &options) = nullptr;
    // Before the start-up of a run that opens a board: why that board cannot be found at all, or "".
    std::string (*pfnBoardProblem)(int32_t nBoardType, uint32_t nBoardNumber) = nullptr;
    // The library's text on the error line of a call that concerned no device, too.
    bool bTextForEveryFailure = false;
};

// Takes the program's options out of argv (each with its value and operand) into the options record;
// a missing value ends the run with status 2. Before the console starts.
void TakeProgramOptions(int *pArgc, char **argv, const ProgramExtras &extras);

// Holds the register maps the command line and the settings name open, before the library starts:
// its trace, and the log, then refuse to empty them.
void HoldInputFiles(int argc, char **argv);
// The defaults, then every argument in order; returns only when every argument was recognised.
// --help and --version end the run with status 0, a malformed long option with status 2.
void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions);
void PrintUsage();
// Options that only change how operations are shown or run (--json, --fields, --patterns, ...),
// given with none: refused with status 2, since the key loop would start and ignore them. After a
// program's own work (the PCI program's --compare) had its chance.
void RefuseOrphanOptions(const ToolOptions &options);
// Every long option's name: the operations', the tool's own and the program's.
std::vector<std::string> LongOptionNames();
// A long option that is none: one line naming it and the nearest option, status 2.
[[noreturn]] void UnknownLongOption(const char *pszArgument);
// The banner line, once, before the first thing the parser prints: a one-shot run never shows it.
void ShowBanner();

#endif
