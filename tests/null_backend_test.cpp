// null_backend_test.cpp - the tool over the smallest back end (hwlib/null/): the front gives it the
// entry points, checks, trace and shared codes, and the run says that no board is there.
#include <gtest/gtest.h>

#include "e2e_harness.h"

namespace {

TEST(NullBackEnd, TheToolStartsOverItAndFindsNoBoard)
{
    ToolRun run = RunArgs({"/Q"});
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strLog, "Log file is  DuzeDevazu.log\nBoard number 0\n"
                          "Library version 0.0.0 (no boards) (filename libkynhwnull.a, static linked)\n"
                          "Connecting lib...\nDriver version none\nGet Handle to the board device...\n"
                          "Opening Vesk-2-PCI board\nERROR(0X22 [3.3]) \n");
    run = RunArgs({"--decode", "0x81800321"}, "");
    EXPECT_EQ(run.strConsole, "0X21 [3.3]: Invalid device handle.\n");
}

} // namespace
