// cmdline.cpp - fills the options record from the command line.
#include <string.h>

#include "options.h"

void SetDefaultOptions(ToolOptions *pOptions)
{
    pOptions->pszCommandString = nullptr;
    pOptions->bQuiet = false;
    strcpy(pOptions->szLogFileName, "DuzeDevazu.log");
    pOptions->nBoardType = 6;
    pOptions->nBoardNumber = 0;
}

void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions)
{
    (void)argc;
    (void)argv;
    SetDefaultOptions(pOptions);
}

void PrintUsage()
{
}
