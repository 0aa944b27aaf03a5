// null_backend_test.cpp - the tool over the smallest back end (hwlib/null/): the front gives it the
// entry points, checks, the device table and the attributes every library shares, trace and shared codes.
#include <gtest/gtest.h>

#include "e2e_harness.h"

namespace {

std::string Startup(const std::string &strBoardNumber)
{
    return "Log file is  DuzeDevazu.log\nBoard number " + strBoardNumber +
           "\nLibrary version 0.0.0 (null) (filename libkynhwnull.a, static linked)\n"
           "Connecting lib...\nDriver version none\nGet Handle to the board device...\n"
           "Opening Vesk-2-PCI board\n";
}

TEST(NullBackEnd, TheToolRunsOverItAndEveryCallAnswersAsTheFrontAndItsTableSay)
{
    struct Case {
        std::vector<std::string> aArgs;
        int nStatus;
        std::string strText; // the log, or where the run writes none, the console; then standard error
    };
    const Case aCases[] = {
        {{"/Q", "/ZR0;q"}, 1,
         Startup("0") + "Board Device Handle = 0x00000020\nPlx Device Handle = 0x00000000\n"
                        "Read Serial Number to the board device...\nBoard Serial Number: NULL-6\nBoard Build Number: 0\n"
                        "CPLD Build:\n  none\n\nPress 'h' for help\nRead from a 32-bit register in the KYN Board device.\n"
                        "Which Address (0x0): ERROR(0X32 [3.4]) Dev(20,6,0): A board of the null library has no registers. \n"},
        {{"/B1", "/Q"}, 1, Startup("1") + "ERROR(0X22 [3.3]) \n"},
        {{"--read", "0x10"}, 1, "ERROR(0X32 [3.4]) Dev(20,6,0): A board of the null library has no registers. \n"},
        {{"--decode", "0x81800321"}, 0, "0X21 [3.3]: Invalid device handle.\n"},
    };
    for (const Case &c : aCases) {
        ToolRun run = RunArgs(c.aArgs, "");
        EXPECT_EQ(run.nStatus, c.nStatus) << c.aArgs[0];
        EXPECT_EQ((run.strLog.empty() ? run.strConsole : run.strLog) + run.strError, c.strText) << c.aArgs[0];
    }
}

} // namespace
