// progress_tool_main.cpp - the tool with its progress line's timing set from the environment
// (DUZE_PROGRESS_FIRST_MS, DUZE_PROGRESS_REDRAW_MS), for tests that must not wait a second per draw;
// the shipped tool reads no environment.
#include <stdlib.h>

#include "screen.h"
#include "progress_line.h"
#include "run.h"

int main(int argc, char **argv)
{
    const char *pszFirst = getenv("DUZE_PROGRESS_FIRST_MS");
    const char *pszRedraw = getenv("DUZE_PROGRESS_REDRAW_MS");
    if (pszFirst != nullptr && pszRedraw != nullptr)
        SetProgressTiming((uint32_t)strtoul(pszFirst, nullptr, 10), (uint32_t)strtoul(pszRedraw, nullptr, 10));
    return RunTool(argc, argv, ProgramExtras{nullptr, 0, nullptr});
}
