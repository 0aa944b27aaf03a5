// e2e_console_failure_test.cpp - a console that is full waits, one that fails ends the run with -1, the log complete.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

// Standard output a pipe that nobody reads for a while, blocking or left non-blocking by another
// program: a full pipe is waited for as long as it takes, with no interrupt to end the wait.
TEST(ConsoleFailure, AFullPipeIsWaitedForNotFailed)
{
    for (bool bNonBlocking : {false, true}) {
        if (ToolIsWindows() && bNonBlocking)
            continue;
        SCOPED_TRACE(bNonBlocking ? "non-blocking" : "blocking");
        ToolCase toolCase;
        toolCase.aArgs = {"-ZM0;0x40000;q"};
        toolCase.env["KYNSIM_MEMORY"] = "zero";
        toolCase.eStdout = ToolCase::kStdoutPipe;
        if (bNonBlocking)
            toolCase.inChild = [] { fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK); };
        ToolProcess process = StartDuze(toolCase);
        usleep(800000);
        ToolRun run = FinishDuze(process);
        EXPECT_EQ(run.nStatus, 3); // every word read back wrong
        EXPECT_GT(run.strLog.size(), 1u << 20);
        // Megabytes: compared whole, without a diff of them.
        EXPECT_TRUE(run.strConsole == kBanner + run.strLog) << run.strConsole.size() << " " << run.strLog.size();
    }
}

// A console that cannot be written: the log says so, standard error gets the reason once, nothing
// more is tried on the console, and the run ends with -1 however it ends. With SIGPIPE at its
// default a broken pipe ends the run by the signal, the log holding every line up to it.
TEST(ConsoleFailure, AFailedConsoleWriteEndsWithMinus1)
{
    const std::string kFull = "Error: Writing the console failed: No space left on device\n";
    const std::string kBroken = "Error: Writing the console failed: Broken pipe\n";
    std::string strHelpAfterItsFirstLine = std::string(kExpectedHelp).substr(strlen("Cmd  Synopsis\n"));
    struct {
        const char *pszName;
        decltype(ToolCase::kStdoutFile) eStdout;
        std::vector<int> aIgnored;
        std::string strKeys;
        int nStatus;
        std::string strLogAfterStartup;
        std::string strError;
    } aCases[] = {
        {"/dev/full", ToolCase::kStdoutFile, {}, "q", 255, kFull, kFull},
        {"/dev/full, then help", ToolCase::kStdoutFile, {}, "hq", 255, "Cmd  Synopsis\n" + kFull + strHelpAfterItsFirstLine, kFull},
        {"a closed pipe, SIGPIPE ignored", ToolCase::kStdoutClosedPipe, {SIGPIPE}, "q", 255, kBroken, kBroken},
        {"a closed pipe, SIGPIPE at its default", ToolCase::kStdoutClosedPipe, {}, "q", 128 + SIGPIPE, "", ""},
    };
    for (const auto &c : aCases) {
        if (ToolIsWindows() && c.eStdout != ToolCase::kStdoutFile)
            continue; // no SIGPIPE there
        ToolCase toolCase;
        toolCase.strInput = c.strKeys;
        toolCase.eStdout = c.eStdout;
        toolCase.aIgnoredSignals = c.aIgnored;
        if (c.eStdout == ToolCase::kStdoutFile)
            toolCase.strStdoutPath = "/dev/full";
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strLog, StartupLog() + c.strLogAfterStartup);
        EXPECT_EQ(run.strError, c.strError);
    }
}

} // namespace
