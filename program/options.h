// options.h - the run's options record, device handles and board-type table, shared by all parts of the tool.
#ifndef DUZE_OPTIONS_H
#define DUZE_OPTIONS_H

#include <stdint.h>

#include "KynHwDll.h"

#define DUZE_LOG_NAME_MAX 259

struct ToolOptions {
    const char *pszCommandString; // null when none was given
    bool bQuiet;
    char szLogFileName[DUZE_LOG_NAME_MAX + 1];
    int32_t nBoardType;
    uint32_t nBoardNumber;
};

struct BoardType {
    int32_t nCode;
    char cLetter;            // option-T letter
    const char *pszOpening;  // printed when the board is opened
    bool bBridge;            // has a PCI bridge device to open
    bool bCpld;              // has a CPLD build text
};

extern ToolOptions g_toolOptions;
extern KYN_HANDLE g_hBoard; // every board command uses it, whether or not the open succeeded
extern KYN_HANDLE g_hPlx;   // 0 when the board has no bridge

extern const BoardType g_aBoardTypeTable[];
extern const int g_nBoardTypeCount;

const BoardType *FindBoardType(int32_t nCode);

void SetDefaultOptions(ToolOptions *pOptions);
void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions);
void PrintUsage();

void OpenBoard();
void ReportBoardText(uint32_t nId, const char *pszFormat);

// The whole run: start-up, main loop, release; returns the exit status of a quit.
int RunTool(int argc, char **argv);

#endif
