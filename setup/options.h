// options.h - the run's options record, filled from the command line, read by the rest of the tool.
#ifndef DUZE_OPTIONS_H
#define DUZE_OPTIONS_H

#include <stdint.h>

#include "duze_limits.h"


struct ToolOptions {
    const char *pszCommandString; // null when none was given
    bool bQuiet;                  // the first failed library call ends the run without asking
    char szLogFileName[DUZE_LOG_NAME_MAX + 1];
    int32_t nBoardType;
    uint32_t nBoardNumber;
};

// One record, for the whole run.
extern ToolOptions g_toolOptions;

#endif
