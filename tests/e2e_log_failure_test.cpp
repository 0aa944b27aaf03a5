// e2e_log_failure_test.cpp - a log that cannot be written, is in use, is a pipe or a planted link: said once, never lost silently.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

const std::string kWait = EXPECTED_QUESTION;
const std::string kR32 = kExpectedRead32Prompt;
const std::string kMisaligned = kExpectedMisaligned;
const std::string kOutside = kExpectedOutside;

// A log that cannot be written: one line says so, the run goes on for the person at the
// keyboard, and it ends with -1 whichever way it ends.
TEST(LogFailure, FullDiskEndsEveryRunWithMinus1)
{
    const std::string kFull = "Error: Writing log file FULL.LOG failed: No space left on device\n";
    const std::string kRead = kR32 + "Brd Address 0x0 = 0x00000000 (0 decimal)\n";
    struct {
        std::vector<std::string> aArgs;
        std::string strKeys;
        std::string strAfterStartup;
    } aCases[] = {
        {{}, "R\nq", kFull + kRead},
        {{"-ZR;q"}, "", kFull + kRead},
        {{}, "", kFull},
        {{}, "R3\ny", kFull + kR32 + kMisaligned},
        {{"/Q"}, "R3\n", kFull + kR32 + kMisaligned.substr(0, kMisaligned.size() - kWait.size())},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase;
        toolCase.aArgs = {"/Lfull.log"};
        toolCase.aArgs.insert(toolCase.aArgs.end(), c.aArgs.begin(), c.aArgs.end());
        toolCase.strInput = c.strKeys;
        toolCase.strLogName = "none"; // the full device reads as endless zeros
        toolCase.setUp = [](const std::string &strDir) {
            ASSERT_EQ(symlink("/dev/full", (strDir + "/FULL.LOG").c_str()), 0);
        };
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.strKeys + (c.aArgs.empty() ? "" : c.aArgs[0]));
        EXPECT_EQ(run.nStatus, 255);
        EXPECT_EQ(run.strConsole, kBanner + StartupLog("FULL.LOG") + c.strAfterStartup);
    }
}

TEST(LogFailure, ALogInUseIsLeftToItsRun)
{
    ToolCase firstCase;
    firstCase.bStdinPipe = true;
    firstCase.strInput = "R\n";
    ToolProcess first = StartDuze(firstCase);
    const std::string kRead = kR32 + "Brd Address 0x0 = 0x00000000 (0 decimal)\n";
    EXPECT_TRUE(WaitForConsole(first, (long)(strlen(kBanner) + StartupLog().size() + kRead.size())));
    ToolCase secondCase;
    secondCase.strDir = first.strDir;
    secondCase.strInput = "q";
    ToolRun second = RunDuze(secondCase);
    EXPECT_EQ(second.nStatus, 255);
    EXPECT_EQ(second.strConsole, std::string(kBanner) + "Couldn't open logfile DuzeDevazu.log\nThe log file is in use by another run.\n");
    ToolRun firstRun = FinishDuze(first);
    EXPECT_EQ(firstRun.nStatus, 0);
    EXPECT_EQ(firstRun.strLog, StartupLog() + kRead);
}

TEST(LogFailure, APipeNobodyReadsIsRefusedAtOnce)
{
    if (ToolIsWindows())
        GTEST_SKIP() << "no named pipes in the file system";
    ToolCase toolCase;
    toolCase.setUp = [](const std::string &strDir) { ASSERT_EQ(mkfifo((strDir + "/DuzeDevazu.log").c_str(), 0644), 0); };
    toolCase.strLogName = "none";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strConsole, std::string(kBanner) + "Couldn't open logfile DuzeDevazu.log\nThe log file is a pipe that no program reads.\n");
}

// The log's file in a run's directory, with what a user may have put there.
struct LogPlace {
    const char *pszName;
    bool bWorldWritable;    // the directory, with the sticky bit
    bool bOtherOwner;       // the link belongs to user nobody
    const char *pszTarget;  // the link's target, or null for no link
    int fdStdThere;         // the standard descriptor that is the log's file, or -1
    std::string strWhy;     // the refusal's reason, or "" where the log is opened
    const char *pszLink = "DuzeDevazu.log"; // where the link is, a directory when the log is below it
};


// The log never goes where another user planted a link for whoever runs the tool (root, on a lab
// machine), on any component of its path, nor into the tool's own standard input or output; links
// that their owner or a safe directory vouch for are followed; a link's target is shown printable.
TEST(LogFailure, PlantedLinksAndTheToolsOwnOutputAreRefused)
{
    const LogPlace aPlaces[] = {
        {"another user's link where others write", true, true, "victim.txt", -1,
         "The log file is a link to victim.txt that user 65534 made in a directory others may write: it is not followed."},
        {"another user's dangling link", true, true, "new.txt", -1,
         "The log file is a link to new.txt that user 65534 made in a directory others may write: it is not followed."},
        {"the user's own link where others write", true, false, "victim.txt", -1, ""},
        {"another user's link where others may not write", false, true, "victim.txt", -1, ""},
        {"another user's link to a directory", true, true, "private", -1,
         "The log file's directory LOGS is a link to private that user 65534 made in a directory others may write: "
         "it is not followed.", "LOGS"},
        {"the user's own link to a directory", true, false, "private", -1, "", "LOGS"},
        {"a target that would clear the screen", true, true, "\033[2J\033]0;root\007.txt", -1,
         "The log file is a link to \\e[2J\\e]0;root\\x07.txt that user 65534 made in a directory others may write: "
         "it is not followed."},
        {"standard output", false, false, nullptr, 1, "The log file is the tool's standard output: name another log with /L."},
        {"standard input", false, false, nullptr, 0, "The log file is the tool's standard input: name another log with /L."},
    };
    for (const LogPlace &place : aPlaces) {
        SCOPED_TRACE(place.pszName);
        // Reparse points are another matter; wine's standard handles are no files to compare.
        if (ToolIsWindows() && (place.pszTarget != nullptr || place.fdStdThere >= 0))
            continue;
        if (place.bOtherOwner && geteuid() != 0) {
            printf("skipped '%s': only root can give a link to another user\n", place.pszName);
            continue;
        }
        bool bBelow = strcmp(place.pszLink, "DuzeDevazu.log") != 0;
        ToolCase toolCase;
        toolCase.strInput = "q";
        toolCase.aReadFiles = {"victim.txt", "new.txt", "private/RUN.LOG"};
        toolCase.strLogName = place.pszTarget != nullptr ? "none" : "DuzeDevazu.log";
        if (bBelow)
            toolCase.aArgs = {"/LLOGS/run.log"};
        if (place.fdStdThere == 1)
            toolCase.strStdoutPath = "DuzeDevazu.log";
        if (place.fdStdThere == 0)
            toolCase.strStdinPath = "DuzeDevazu.log";
        toolCase.setUp = [&place, bBelow](const std::string &strDir) {
            WriteFile(strDir + "/victim.txt", "keep\n");
            WriteFile(strDir + "/DuzeDevazu.log", "W0x10\n0xFF\nq\n");
            mkdir((strDir + "/private").c_str(), 0700);
            WriteFile(strDir + "/private/RUN.LOG", "keep\n");
            if (place.bWorldWritable)
                chmod(strDir.c_str(), 01777);
            if (place.pszTarget != nullptr) {
                std::string strLink = strDir + "/" + place.pszLink;
                unlink(strLink.c_str());
                ASSERT_EQ(symlink(place.pszTarget, strLink.c_str()), 0);
                if (place.bOtherOwner) {
                    ASSERT_EQ(lchown(strLink.c_str(), 65534, 65534), 0);
                }
            }
        };
        ToolRun run = RunDuze(toolCase);
        if (place.strWhy.empty()) {
            EXPECT_EQ(run.nStatus, 0);
            EXPECT_EQ(run.files[bBelow ? "private/RUN.LOG" : "victim.txt"],
                      StartupLog(bBelow ? "LOGS/RUN.LOG" : "DuzeDevazu.log"));
            continue;
        }
        EXPECT_EQ(run.nStatus, 255);
        std::string strRefusal = std::string(kBanner) + "Couldn't open logfile " +
                                 (bBelow ? "LOGS/RUN.LOG" : "DuzeDevazu.log") + "\n" + place.strWhy + "\n";
        EXPECT_EQ(place.fdStdThere == 1 ? run.strLog : run.strConsole, strRefusal);
        if (place.fdStdThere == 0) {
            EXPECT_EQ(run.strLog, "W0x10\n0xFF\nq\n");
        }
        EXPECT_EQ(run.files["victim.txt"], "keep\n");
        EXPECT_EQ(run.files["private/RUN.LOG"], "keep\n");
        EXPECT_EQ(run.files["new.txt"], "");
    }
}

// A log or trace that names a file the run reads (a register map) is refused with status 2 before
// anything is written: the map is read as it was.
TEST(LogFailure, ALogOrTraceNeverEmptiesAFileTheRunReads)
{
    const std::string kInput = "a file the run reads (a register map, the settings file, or a file of the PCI tree)";
    struct {
        std::vector<std::string> aArgs;
        std::map<std::string, std::string> env;
        std::string strOut, strErr;
    } aCases[] = {
        {{"--map", "board.svd", "--log", "board.svd", "--read", "0"}, {}, "",
         "Couldn't open logfile board.svd\nThe log file is " + kInput + ": name another log.\n"},
        {{"--log", "board.svd", "/Zq"}, {{"DUZE_MAP", "board.svd"}},
         std::string(kBanner) + "Couldn't open logfile board.svd\nThe log file is " + kInput + ": name another log.\n", ""},
        {{"--bridge-map=board.svd", "--read", "0"}, {{"KYNSIM_TRACE", "board.svd"}}, "",
         "kynsim: bad setting KYNSIM_TRACE=board.svd: it is " + kInput + "\n"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.aArgs[0]);
        // Windows keeps no list of a process's open files to compare with.
        if (ToolIsWindows())
            continue;
        ToolCase toolCase;
        toolCase.aArgs = c.aArgs;
        toolCase.env = c.env;
        toolCase.strLogName = "none";
        toolCase.aReadFiles = {"board.svd"};
        toolCase.setUp = [](const std::string &strDir) {
            WriteFile(strDir + "/board.svd", ReadFile(std::string(DUZE_SOURCE_DIR) + "/tests/maps/board.svd"));
        };
        ToolRun run = RunDuze(toolCase);
        EXPECT_EQ(run.nStatus, 2);
        EXPECT_EQ(run.strConsole, c.strOut);
        EXPECT_EQ(run.strError, c.strErr);
        EXPECT_EQ(run.files["board.svd"], ReadFile(std::string(DUZE_SOURCE_DIR) + "/tests/maps/board.svd"));
    }
}

// Another user flips the log's name between a link and nothing while the tool opens it: what is
// judged is the link itself, never a second look at the name.
TEST(LogFailure, ALinkFlippedDuringTheOpenIsNotFollowed)
{
    if (ToolIsWindows() || geteuid() != 0)
        GTEST_SKIP() << "only root can give a link to another user";
    ToolCase toolCase;
    toolCase.strInput = "q";
    toolCase.strLogName = "none";
    toolCase.aReadFiles = {"victim.txt"};
    toolCase.env = {{"LD_PRELOAD", HOST_SPY_PATH}, {"LINK_FLIP", "DuzeDevazu.log:victim.txt"},
                    {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    toolCase.setUp = [](const std::string &strDir) {
        WriteFile(strDir + "/victim.txt", "keep\n");
        chmod(strDir.c_str(), 01777);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.files["victim.txt"], "keep\n");
}

// Past the file-size limit a write fails once, with its message; SIGXFSZ never makes the run spin
// where SIGTERM cannot end it, whether the screen or the log reaches the limit first.
TEST(LogFailure, AWritePastTheFileSizeLimitFailsAndTheRunStillEnds)
{
    if (ToolIsWindows())
        GTEST_SKIP() << "no file-size limit";
    for (bool bScreenToFile : {true, false}) {
        SCOPED_TRACE(bScreenToFile ? "screen and log to files" : "screen to a pipe");
        ToolCase toolCase;
        toolCase.aArgs = {"-ZM0;0x1000000;q"};
        toolCase.env["KYNSIM_MEMORY"] = "zero";
        toolCase.eStdout = bScreenToFile ? ToolCase::kStdoutFile : ToolCase::kStdoutPipe;
        toolCase.inChild = [] {
            struct rlimit limit = {20000, 20000};
            setrlimit(RLIMIT_FSIZE, &limit);
        };
        ToolProcess process = StartDuze(toolCase);
        WaitUntil([&process] {
            struct stat info;
            return stat((process.strDir + "/DuzeDevazu.log").c_str(), &info) == 0 && info.st_size >= 20000;
        });
        kill(process.nPid, SIGTERM);
        ToolRun run = FinishDuze(process, 30000);
        EXPECT_TRUE(run.nStatus == 255 || run.nStatus == 128 + SIGTERM) << run.nStatus;
        std::string strAll = run.strConsole + run.strError;
        size_t nFirst = strAll.find("failed: File too large");
        EXPECT_NE(nFirst, std::string::npos) << run.strError;
        EXPECT_EQ(strAll.find("failed: File too large", nFirst + 1), std::string::npos);
    }
}

// A log that is a pipe: a reader that stops reading never makes the run unkillable, and one that
// goes away makes a failed write like any other, not a death by SIGPIPE.
TEST(LogFailure, APipeLogsReaderThatStopsPausesOrGoesAwayAndALogRemoved)
{
    if (ToolIsWindows())
        GTEST_SKIP() << "no named pipes in the file system";
    int fdReader = -1;
    auto MakePipeWithReader = [&fdReader](const std::string &strDir) {
        ASSERT_EQ(mkfifo((strDir + "/DuzeDevazu.log").c_str(), 0644), 0);
        fdReader = open((strDir + "/DuzeDevazu.log").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    };
    ToolCase failing;
    failing.aArgs = {"-ZM0;0x4000000;q"};
    failing.env["KYNSIM_MEMORY"] = "zero";
    failing.strLogName = "none";
    failing.setUp = MakePipeWithReader;
    // A reader that stopped: the way out waits for it as the run did, and a second interrupt ends it.
    for (int nSignal : {SIGTERM, SIGINT}) {
        ToolProcess process = StartDuze(failing);
        WaitForConsoleToStall(process);
        std::string strStat = "/proc/" + std::to_string(process.nPid) + "/stat";
        WaitUntil([&] {
            kill(process.nPid, nSignal);
            usleep(100000);
            return ReadFile(strStat).find(") Z") != std::string::npos;
        });
        ToolRun run = FinishDuze(process);
        close(fdReader);
        EXPECT_EQ(run.nStatus, 128 + nSignal);
    }
    // A reader that pauses longer than a moment between reads still gets every line shown.
    {
        ToolProcess process = StartDuze(failing);
        std::string strRead;
        bool bInterrupted = false;
        for (;;) {
            struct pollfd wait = {fdReader, POLLIN, 0};
            poll(&wait, 1, 60000);
            char acChunk[65536];
            ssize_t n = read(fdReader, acChunk, bInterrupted ? 16384 : sizeof acChunk);
            if (n == 0 || (n < 0 && errno != EAGAIN))
                break;
            if (n > 0)
                strRead.append(acChunk, (size_t)n);
            if (!bInterrupted && strRead.size() > (1u << 20)) {
                kill(process.nPid, SIGINT);
                bInterrupted = true;
            }
            if (bInterrupted)
                usleep(300000);
        }
        close(fdReader);
        ToolRun run = FinishDuze(process);
        EXPECT_EQ(run.nStatus, 128 + SIGINT);
        EXPECT_TRUE(run.strConsole == kBanner + strRead) << run.strConsole.size() << " " << strRead.size();
    }
    // A log whose directory is removed during the run keeps nothing: the run says so.
    ToolCase removed;
    removed.bStdinPipe = true;
    removed.strInput = "h";
    removed.aArgs = {"/LSUB/LOG.TXT"};
    removed.aMakeDirs = {"SUB"};
    removed.strLogName = "none";
    ToolProcess process = StartDuze(removed);
    EXPECT_TRUE(
        WaitForConsole(process, (long)(strlen(kBanner) + StartupLog("SUB/LOG.TXT").size() + strlen(kExpectedHelp))));
    EXPECT_EQ(unlink((process.strDir + "/SUB/LOG.TXT").c_str()), 0);
    EXPECT_EQ(rmdir((process.strDir + "/SUB").c_str()), 0);
    ASSERT_EQ(write(process.fdStdin, "hq", 2), 2);
    ToolRun run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strConsole, kBanner + StartupLog("SUB/LOG.TXT") + kExpectedHelp + kExpectedHelp +
                                  "Error: Writing log file SUB/LOG.TXT failed: the file was removed\n");

    ToolCase toolCase;
    toolCase.bStdinPipe = true;
    toolCase.strInput = "h";
    toolCase.strLogName = "none";
    toolCase.setUp = MakePipeWithReader;
    process = StartDuze(toolCase);
    EXPECT_TRUE(WaitForConsole(process, (long)(strlen(kBanner) + StartupLog().size() + strlen(kExpectedHelp))));
    close(fdReader);
    ASSERT_EQ(write(process.fdStdin, "hq", 2), 2);
    run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strConsole, kBanner + StartupLog() + kExpectedHelp + kExpectedHelp +
                                  "Error: Writing log file DuzeDevazu.log failed: Broken pipe\n");
}

} // namespace
