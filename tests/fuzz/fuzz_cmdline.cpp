// fuzz_cmdline.cpp - fuzzes the command-line parser with arguments cut from the input at NUL bytes.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_exit.h"
#include "board_table.h"
#include "command_line.h"
#include "options.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (freopen("/dev/null", "w", stdout) == nullptr)
        return 0;
    StartConsoleForFuzzing();
    return 0;
}

// setjmp lives in a frame of its own, with nothing that needs destroying when exit() jumps back.
static void ParseGuarded(int argc, char **argv)
{
    static ToolOptions s_options;
    if (setjmp(g_jmpToolExit) == 0) {
        g_bInToolCode = true;
        ParseCommandLine(argc, argv, &s_options);
        // What the parser accepted must be usable as it stands.
        if (strlen(s_options.szLogFileName) > DUZE_LOG_NAME_MAX || FindBoardType(s_options.nBoardType) == nullptr)
            __builtin_trap();
    }
    g_bInToolCode = false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    std::vector<std::string> aArgs{"duzedevazu"};
    std::string strArg;
    for (size_t i = 0; i < nSize && aArgs.size() < 32; ++i) {
        if (pData[i] == 0) {
            aArgs.push_back(strArg);
            strArg.clear();
        } else {
            strArg += (char)pData[i];
        }
    }
    aArgs.push_back(strArg);
    std::vector<char *> apszArgv;
    for (std::string &strItem : aArgs)
        apszArgv.push_back(&strItem[0]);
    apszArgv.push_back(nullptr);

    ParseGuarded((int)aArgs.size(), apszArgv.data());
    return 0;
}
