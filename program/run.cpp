// run.cpp - the run: the program's options, the start-up, then the one-shot accesses or the key loop.
#include "run.h"

#include <stdio.h>

#include <string>

#include "command_line.h"
#include "command_table.h"
#include "error_report.h"
#include "one_shot.h"
#include "options.h"
#include "report.h"
#include "screen.h"
#include "startup.h"
#include "tool_host.h"

namespace {

// A quit after a memory test that found errors: the run did not succeed.
const int kStatusMemoryErrors = 3;

} // namespace

int RunTool(int argc, char **argv, const ProgramExtras &extras)
{
    HostOpenStandardDescriptors();
    TakeProgramOptions(&argc, argv, extras);
    if (extras.pfnAfterOptions != nullptr) {
        int nStatus = extras.pfnAfterOptions(g_toolOptions);
        if (nStatus >= 0)
            return nStatus;
    }
    HoldInputFiles(argc, argv);
    OsaConsoleInit();
    ParseCommandLine(argc, argv, &g_toolOptions);
    ChooseReport(g_toolOptions.eReport);
    LoadRegisterMaps();
    SetTextForEveryFailure(extras.bTextForEveryFailure);
    if (extras.pfnBeforeStart != nullptr) {
        int nStatus = extras.pfnBeforeStart(g_toolOptions.nBoardType, g_toolOptions.nBoardNumber);
        if (nStatus >= 0) {
            fflush(stdout);
            EndRun(nStatus, kKeepLibrary);
        }
    }
    RefuseOrphanOptions(g_toolOptions);
    // A board that cannot be found at all is said at once, in words, before anything starts.
    if (extras.pfnBoardProblem != nullptr && OpensBoard(g_toolOptions)) {
        std::string strProblem = extras.pfnBoardProblem(g_toolOptions.nBoardType, g_toolOptions.nBoardNumber);
        if (!strProblem.empty()) {
            fprintf(stderr, "Error: %s\n", strProblem.c_str());
            fflush(stderr);
            EndRun(1, kKeepLibrary);
        }
    }
    if (IsOneShot(g_toolOptions))
        return RunOneShot(extras);
    ShowBanner();
    SetQuietErrors(g_toolOptions.bQuiet);
    if (g_toolOptions.pszCommandString != nullptr)
        SetCommandString(g_toolOptions.pszCommandString);
    OpenLogAndShowIdentity();
    const BoardHandles devices = OpenAndIdentifyBoard();
    LogPrintF("\nPress 'h' for help\n");

    for (;;) {
        int32_t nKey = ReadKey();
        // Nobody is left to type once input ends: that ends the run like a quit.
        if (nKey == OSA_KEY_END_OF_INPUT)
            break;
        if (ExecuteCommand((signed char)(nKey & 0xFF), devices) == kEndTheRun)
            break;
    }
    return FinishRun(MemoryTestFoundErrors() ? kStatusMemoryErrors : 0, kReleaseThenConsole);
}
