// command_line.cpp - fills the options record from the command line and prints the usage text, whose
// board lines come from the board table.
#include "command_line.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "board_table.h"
#include "screen.h"
#include "number_entry.h"

namespace {

void SetDefaultOptions(ToolOptions *pOptions)
{
    pOptions->pszCommandString = nullptr;
    pOptions->bQuiet = false;
    strcpy(pOptions->szLogFileName, "DuzeDevazu.log");
    pOptions->nBoardType = 6;
    pOptions->nBoardNumber = 0;
}

[[noreturn]] void UnknownSwitch(const char *pszArgument)
{
    LogPrintF("Error: Unknown command line switch %s\n", pszArgument);
    PrintUsage();
    EndRun(1, kKeepLibrary);
}

} // namespace

void PrintUsage()
{
    char szLetters[64] = "";
    size_t nUsed = 0;
    for (int i = 0; const BoardType *pType = BoardAtLetterListPlace(i); ++i)
        nUsed += (size_t)snprintf(szLetters + nUsed, sizeof szLetters - nUsed, "%s%c", i > 0 ? "|" : "", pType->cLetter);
    LogPrintF("\nCommand line switches:\n");
    // The default board number, 0, whatever the options hold by now.
    LogPrintF(" /B<boardNo>    : Board number (Default is %d)\n", 0);
    LogPrintF(" /T[%s] : Board Type used for the demo, where\n", szLetters);
    for (int i = 0; const BoardType *pType = BoardAtUsageLine(i); ++i)
        LogPrintF("                    %c  = Use %s\n", pType->cLetter, pType->pszUsageName);
    LogPrintF(" /L<fileName>   : Log file name\n");
    LogPrintF(" /Z<str>        : Command string (overrides keyboard input)\n");
    LogPrintF(" /Q             : Exit without prompting on errors\n");
}

void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions)
{
    SetDefaultOptions(pOptions);
    const char *pszLogName = nullptr; // the last /L's, checked once all arguments are read
    for (int i = 1; i < argc; ++i) {
        char *pszArgument = argv[i];
        // Z is tested before upper-casing so the command string keeps its case.
        if (pszArgument[0] != '\0' && pszArgument[1] == 'Z') {
            pOptions->pszCommandString = pszArgument + 2;
            continue;
        }
        OsaStdStrUpr(pszArgument);
        if (pszArgument[0] != '-' && pszArgument[0] != '/')
            UnknownSwitch(pszArgument);
        const char *pszValue = pszArgument + 2;
        switch (pszArgument[1]) {
        case 'L':
            pszLogName = pszValue;
            break;
        case 'Q':
            pOptions->bQuiet = true;
            break;
        case 'B':
            pOptions->nBoardNumber = ConvertUnsigned32(pszValue);
            break;
        case 'T': {
            const BoardType *pFound = FindBoardLetter(pszValue[0]);
            if (pFound == nullptr)
                UnknownSwitch(pszArgument);
            pOptions->nBoardType = pFound->nCode;
            break;
        }
        default:
            UnknownSwitch(pszArgument);
        }
    }
    if (pszLogName != nullptr) {
        // A longer name would not fit the record; refusing it beats opening a cut-off name.
        size_t nLength = strlen(pszLogName);
        if (nLength > DUZE_LOG_NAME_MAX) {
            LogPrintF("Error: Log file name is %lu characters long, at most %d are allowed\n", (unsigned long)nLength,
                      DUZE_LOG_NAME_MAX);
            EndRun(1, kKeepLibrary);
        }
        memcpy(pOptions->szLogFileName, pszLogName, nLength + 1);
    }
}
