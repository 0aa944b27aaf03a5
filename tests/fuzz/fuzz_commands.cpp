// fuzz_commands.cpp - fuzzes the command interpreter with the input as command string against a simulated board.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "command_table.h"
#include "fuzz_exit.h"
#include "command_line.h"
#include "options.h"
#include "screen.h"
#include "startup.h"

// The board and bridge the run opened, as the main loop hands them to each command.
static BoardHandles g_devices = {0, 0};

static void OpenBoardGuarded()
{
    if (setjmp(g_jmpToolExit) == 0) {
        g_bInToolCode = true;
        KynDrvConnectLib();
        g_devices = OpenBoard();
    }
    g_bInToolCode = false;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Reads past the command string find the end of input at once.
    if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "r", stdin) == nullptr)
        return 0;
    StartConsoleForFuzzing();
    char szName[] = "duzedevazu", *apszArgs[] = {szName, nullptr};
    ParseCommandLine(1, apszArgs, &g_toolOptions);
    OpenBoardGuarded();
    return 0;
}

// setjmp lives in a frame of its own, with nothing that needs destroying when exit() jumps back.
static void RunKeysGuarded()
{
    if (setjmp(g_jmpToolExit) == 0) {
        g_bInToolCode = true;
        for (;;) {
            int32_t nKey = ReadKey();
            if (nKey < 0 || ExecuteCommand((signed char)(nKey & 0xFF), g_devices) == kEndTheRun)
                break;
        }
    }
    g_bInToolCode = false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    // The command string stays valid while it is read: it lives until the next input.
    static std::string s_strScript;
    s_strScript.assign((const char *)pData, strnlen((const char *)pData, nSize));
    OsaConsoleInput(s_strScript.c_str());
    clearerr(stdin);
    KynDrvConnectLib(); // an answered exit question released it
    RunKeysGuarded();
    return 0;
}
