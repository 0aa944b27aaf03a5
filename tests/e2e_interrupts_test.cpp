// e2e_interrupts_test.cpp - an interrupt at any moment ends the run with every line shown in its log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

TEST(Interrupts, FailingMemoryTestInterruptedKeepsEveryPrintedLine)
{
    for (int nSignal : {SIGINT, SIGTERM}) {
        ToolCase toolCase;
        toolCase.aArgs = {"-ZM0;0x4000000;q"};
        toolCase.env["KYNSIM_MEMORY"] = "zero";
        ToolProcess process = StartDuze(toolCase);
        EXPECT_TRUE(WaitForConsole(process, 2 << 20));
        kill(process.nPid, nSignal);
        ToolRun run = FinishDuze(process);
        SCOPED_TRACE(nSignal);
        EXPECT_EQ(run.nStatus, 128 + nSignal);
        EXPECT_TRUE(run.bKilledBySignal || ToolIsWindows());
        EXPECT_GT(run.strLog.size(), 1u << 20);
        EXPECT_EQ(run.strConsole, kBanner + run.strLog);
        EXPECT_EQ(run.strLog.back(), '\n');
        EXPECT_EQ(run.strLog.find("Memory test finished"), std::string::npos);
    }
}

TEST(Interrupts, HealthyMemoryTestInterruptedInItsWritePass)
{
    ToolCase toolCase;
    toolCase.aArgs = {"-ZM0;0xFFFFFFFF;q"};
    toolCase.env["KYNSIM_MEMORY"] = "address";
    ToolProcess process = StartDuze(toolCase);
    // Into the 2^30 writes, which take many seconds: start-up takes the tool a few milliseconds.
    EXPECT_TRUE(WaitUntil([&] { return CpuTimeMs(process) >= 300; }));
    kill(process.nPid, SIGINT);
    ToolRun run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 128 + SIGINT);
    EXPECT_EQ(run.strLog, StartupLog() + "Memory Read/Write test.\n"
                                         "Which Start Address (0x0): Which Range (in bytes) (0x0): ");
    EXPECT_EQ(run.strConsole, kBanner + run.strLog);
}

TEST(Interrupts, WhileWaitingForAKeyOnAPipe)
{
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        ToolCase toolCase;
        toolCase.bStdinPipe = true;
        toolCase.strInput = "h";
        toolCase.env["KYNSIM_TRACE"] = "trace.txt";
        toolCase.aReadFiles = {"trace.txt"};
        ToolProcess process = StartDuze(toolCase);
        EXPECT_TRUE(WaitForConsole(process, (long)(strlen(kBanner) + StartupLog().size() + 16 * 20)));
        usleep(50000);
        kill(process.nPid, nSignal);
        ToolRun run = FinishDuze(process);
        EXPECT_EQ(run.nStatus, 128 + nSignal);
        EXPECT_EQ(run.strLog.rfind(StartupLog() + "Cmd  Synopsis\n", 0), 0u);
        EXPECT_EQ(run.strConsole, kBanner + run.strLog);
        // The trace keeps every record of a run an interrupt ended.
        EXPECT_EQ(TraceCalls(run, {"ConsoleInit", "ConnectLib"}), "ConsoleInit()\nConnectLib() = 0\n");
    }
}

// A console write that waits on a pipe nobody reads yet, interrupted: the write goes on while the
// pipe is read, and the console has every byte the log has.
TEST(Interrupts, AnInterruptedConsoleWriteDropsNoText)
{
    ToolCase toolCase;
    toolCase.aArgs = {"-ZM0;0x4000000;q"};
    toolCase.env["KYNSIM_MEMORY"] = "zero";
    toolCase.eStdout = ToolCase::kStdoutPipe;
    ToolProcess process = StartDuze(toolCase);
    // Until the pipe has no room and the tool waits in the middle of a write: the full pipe alone
    // may come while the tool still gathers the next block.
    EXPECT_TRUE(WaitUntil([&] { return WaitsInCall(process.nPid, SYS_write, 1); }));
    kill(process.nPid, SIGINT);
    usleep(100000);
    ToolRun run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 128 + SIGINT);
    EXPECT_GT(run.strLog.size(), 65536u);
    EXPECT_TRUE(run.strConsole == kBanner + run.strLog) << "console " << run.strConsole.size() << " bytes, log "
                                                          << run.strLog.size();
}

// A batch of blank lines and comments alone, fed without end, still ends at an interrupt: every line
// lets it act, whether or not it makes an access.
TEST(Interrupts, ABatchOfBlankLinesAndCommentsEndsAtAnInterrupt)
{
    if (ToolIsWindows())
        return; // no SIGTERM to send
    ToolCase toolCase;
    toolCase.aArgs = {"--batch", "-"};
    toolCase.bStdinPipe = true;
    ToolProcess process = StartDuze(toolCase);
    fcntl(process.fdStdin, F_SETFL, O_NONBLOCK);
    // The run's end closes the pipe: a write then fails, rather than end the test.
    void (*pfnPipe)(int) = signal(SIGPIPE, SIG_IGN);
    std::string strLines;
    for (int i = 0; i < 4096; ++i)
        strLines += i % 2 == 0 ? "\n" : "# keepalive\n";
    auto Ended = [&] {
        if (write(process.fdStdin, strLines.data(), strLines.size()) < 0 && errno != EAGAIN)
            return true;
        std::string strStat = ReadFile("/proc/" + std::to_string(process.nPid) + "/stat");
        size_t nParen = strStat.rfind(')');
        return nParen != std::string::npos && nParen + 2 < strStat.size() && strStat[nParen + 2] == 'Z';
    };
    EXPECT_TRUE(WaitUntil([&] { Ended(); return CpuTimeMs(process) >= 100; }));
    kill(process.nPid, SIGTERM);
    EXPECT_TRUE(WaitUntil(Ended, 10000));
    ToolRun run = FinishDuze(process, 1000);
    signal(SIGPIPE, pfnPipe);
    EXPECT_EQ(run.nStatus, 128 + SIGTERM);
}

} // namespace
