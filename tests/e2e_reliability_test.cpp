// e2e_reliability_test.cpp - interrupts lose no log line; hostile input at every prompt, argument and read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

const std::string kWait = EXPECTED_QUESTION;
// Windows limits a whole command line to 32,767 characters.
const size_t kLongArgument = ToolIsWindows() ? 30000 : 100000;

bool WaitForConsole(const ToolProcess &process, long nBytes)
{
    return WaitUntil([&] { return ConsoleSize(process) >= nBytes; });
}

// Processor time the run has used, from /proc: how far it got, whatever the machine's load.
long CpuTimeMs(const ToolProcess &process)
{
    std::string strStat = ReadFile("/proc/" + std::to_string(process.nPid) + "/stat");
    size_t nAt = strStat.rfind(')');
    unsigned long nUser = 0, nSystem = 0;
    if (nAt == std::string::npos ||
        sscanf(strStat.c_str() + nAt + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &nUser, &nSystem) != 2)
        return -1;
    return (long)((nUser + nSystem) * 1000 / (unsigned long)sysconf(_SC_CLK_TCK));
}

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

// Hostile input at every prompt: each has one clear outcome, never a crash or a hang.
struct HostileCase {
    const char *pszName;
    std::string strKeys;
    std::string strLogAfterStartup;
};
void PrintTo(const HostileCase &c, std::ostream *pOut)
{
    *pOut << c.pszName;
}

const std::string kR32 = "Read from a 32-bit register in the KYN Board device.\nWhich Address (0x0): ";
const std::string kMisaligned =
    "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n" + kWait;
const std::string kOutside =
    "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n" + kWait;
const std::string kCutOff = "Error: End of input in the middle of a command\n";
const std::string kUnknownDebug = "ERROR(0X40 [1.5]) Dev(20,6,0): Unknown debug command. \n" + kWait;

const HostileCase kHostile[] = {
    {"NonNumeric", "Rabc\n", kR32 + "Brd Address 0x0 = 0x00000000 (0 decimal)\n"},
    {"BlanksOnly", "R   \t \n", kR32 + "Brd Address 0x0 = 0x00000000 (0 decimal)\n"},
    {"Negative", "R-4\nn", kR32 + kOutside + "Brd Address 0xFFFFFFFC = 0x00000000 (0 decimal)\n"},
    {"Overlong", "R" + std::string(1000, '9') + "\nn",
     kR32 + kMisaligned + "Brd Address 0xFFFFFFFF = 0x00000000 (0 decimal)\n"},
    {"OutOfRangeValue", "W0x10\n99999999999999999999\n",
     "Write to a 32-bit register in the KYN board device.\nWhich Address (0x0): Which Value (0x0): "
     "Wrote FFFFFFFF to Brd Address 0x10\n"},
    {"NegativeByte", "w0\n-1\n",
     "Write to a 8-bit register in the KYN board device.\nWhich Address (0x0): Which Value (0x0): "
     "Wrote FF to Brd Address 0x0\n"},
    {"BarePrefix", "o0\n0x\n",
     "Write to a 16-bit register in the KYN board device.\nWhich Address (0x0): Which Value (0x0): "
     "Wrote 0000 to Brd Address 0x0\n"},
    // Hex digits typed in lower case; the results show upper case, the 16-bit write cut to four digits.
    {"LowerCaseHex", "o0x1a\n0xabcdef\n",
     "Write to a 16-bit register in the KYN board device.\nWhich Address (0x0): Which Value (0x0): "
     "Wrote CDEF to Brd Address 0x1A\n"},
    {"MemoryPromptsInHex", "M0xab0\n0x1c\nM\n\n",
     "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): "
     "Memory test finished. ErrorCount=0\n"
     "Memory Read/Write test.\nWhich Start Address (0xAB0): Which Range (in bytes) (0x1C): "
     "Memory test finished. ErrorCount=0\n"},
    {"PlusSign", "p+8\n",
     "Read from a 32-bit register in the PCI Bridge device.\nWhich Address (0x0): "
     "Plx Address 0x8 = 0x06800003 (109051907 decimal)\n"},
    {"MinusZero", "S0x1FC\n-0\n",
     "Write to a 32-bit register in the PCI Bridge device.\nWhich Address (0x0): Which Value (0x0): "
     "Wrote 00000000 to PCI Bridge Address 0x1FC\n"},
    {"DebugTooLarge", "d99999999999\nn",
     "Driver Debug Command. Which Cmd? [0x00000000] Issuing Driver Debug Command 0x7FFFFFFF\n" + kUnknownDebug},
    {"DebugTooSmall", "d-99999999999\nn",
     "Driver Debug Command. Which Cmd? [0x00000000] Issuing Driver Debug Command 0x80000000\n" + kUnknownDebug},
    // The word at 0xFFFFFFFC fails both ways; the one at 0 (the start wrapped) passes.
    {"MemoryStartNearTheEnd", "M-4\n8\nnn",
     "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): " + kOutside + kOutside +
         "Memory error at Address 0xFFFFFFFC   (nReadVal(0x0) != nWriteVal(0xFFFFFFFC))\n"
         "Memory test finished. ErrorCount=1\n"},
    {"TimestampAllOnes", "T-1\n-1\n",
     "Enter High 32-bit value of timestamp (0x00000000): Enter Low 32-bit value of timestamp (0x00000000): "
     "Error: Invalid timestamp (before Jan 1, 1970)\n\n"},
    // Year 30828: Windows' local-time conversion stops at the year 3000.
    {"TimestampFarFuture", "T0x7FFFFFFF\n0\n",
     "Enter High 32-bit value of timestamp (0x00000000): Enter Low 32-bit value of timestamp (0x00000000): " +
         std::string(ToolIsWindows() ? "Error: Invalid timestamp (before Jan 1, 1970)\n\n" : "09-14 02:40:55.980 \n")},
};

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, ClearOutcome)
{
    ToolCase toolCase;
    toolCase.strInput = GetParam().strKeys + "q";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, StartupLog() + GetParam().strLogAfterStartup);
}

INSTANTIATE_TEST_SUITE_P(Prompts, Hostile, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<HostileCase> &info) {
                             return std::string(info.param.pszName);
                         });

TEST(HostileInput, SleepLinesStayOnTheConsole)
{
    ToolCase toolCase;
    toolCase.strInput = "~abc\n~-5\n~\nq";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, StartupLog());
    EXPECT_EQ(run.strConsole, kBanner + StartupLog() +
                                  "Enter milliseconds to sleep :Sleeping 0 milliseconds\n"
                                  "Enter milliseconds to sleep :Sleeping -5 milliseconds\n"
                                  "Enter milliseconds to sleep :");
}

TEST(HostileInput, Arguments)
{
    struct {
        const char *pszName;
        std::vector<std::string> aArgs;
        int nStatus;
        std::string strConsoleStart;
    } aCases[] = {
        {"LongLogName", {"/L" + std::string(5000, 'a')}, 1,
         "Error: Log file name is 5000 characters long, at most 259 are allowed\n"},
        {"LongBoardNumber", {"/B" + std::string(kLongArgument, '7')}, 1, "Log file is  DuzeDevazu.log\nBoard number -1\n"},
        {"MissingDirectory", {"/Lnodir/x.log"}, 255, "Couldn't open logfile NODIR/X.LOG\n"},
        {"HighBytesInLogName", {HostArgument("/L\xe4\xf6.log")}, 0, "Log file is  \xe4\xf6.LOG\n"},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase;
        toolCase.aArgs = c.aArgs;
        toolCase.strInput = "y";
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strConsole.substr(0, strlen(kBanner) + c.strConsoleStart.size()), kBanner + c.strConsoleStart);
    }
}

TEST(HostileInput, LongCommandStringWithHighBytes)
{
    ToolCase toolCase;
    toolCase.aArgs = {HostArgument("-Z" + std::string(kLongArgument, 'x') + "\xff\xe9q")};
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    std::string strUnknown = EXPECTED_UNKNOWN, strExpected;
    for (size_t i = 0; i < kLongArgument + 2; ++i)
        strExpected += strUnknown;
    EXPECT_TRUE(run.strLog == StartupLog() + strExpected);
}

TEST(HostileInput, ReadOnlyLogFile)
{
    if (system("command -v chattr >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no chattr";
    ToolCase toolCase;
    bool bImmutable = false;
    toolCase.setUp = [&bImmutable](const std::string &strDir) {
        WriteFile(strDir + "/RO.LOG", "kept\n");
        chmod((strDir + "/RO.LOG").c_str(), 0444);
        // Root may write a read-only file; an immutable one it may not.
        bImmutable = system(("chattr +i " + strDir + "/RO.LOG 2>/dev/null").c_str()) == 0;
    };
    toolCase.tearDown = [](const std::string &strDir) {
        if (system(("chattr -i " + strDir + "/RO.LOG 2>/dev/null").c_str()) != 0) {
        }
    };
    toolCase.aArgs = {"/Lro.log"};
    toolCase.strLogName = "RO.LOG";
    toolCase.strInput = "q";
    ToolRun run = RunDuze(toolCase);
    if (!bImmutable && geteuid() == 0)
        GTEST_SKIP() << "running as root on a file system without immutable files";
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strConsole, std::string(kBanner) + "Couldn't open logfile RO.LOG\n");
    EXPECT_EQ(run.strLog, "kept\n");
}

// Closed, at its end, or failing (a directory): the run ends with one clear outcome, and a
// command cut off at its number prompt does not run.
TEST(HostileInput, StandardInputClosedAtItsEndOrFailingAtEveryRead)
{
    const std::string kReadFailed = "Error: Reading input failed\n";
    // The text up to the read that meets the loss, and whether a cut-off command is said there
    // (the question's end of input is its answer). Error lines start a line of their own.
    struct {
        const char *pszScript;
        int nStatus;
        std::string strBeforeTheLoss;
        bool bCutOff;
    } aCases[] = {
        {nullptr, 0, "", false},
        {"-ZR", 1, kR32, true},
        {"-ZW0x10", 1, "Write to a 32-bit register in the KYN board device.\nWhich Address (0x0): Which Value (0x0): ", true},
        {"-ZR3", 1, kR32 + kMisaligned, false},
        {"-ZM0x10", 1, "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): ", true},
        {"-ZT", 1, "Enter High 32-bit value of timestamp (0x00000000): ", true},
        {"-Z~", 1, "", true}, // the sleep's prompt is not in the log
    };
    enum { kClosed, kAtItsEnd, kDirectory };
    for (int nStdin : {kClosed, kAtItsEnd, kDirectory}) {
        // wine hands a program started with standard input closed a handle that fails every read.
        if (nStdin == kClosed && ToolIsWindows())
            continue;
        for (const auto &c : aCases) {
            ToolCase toolCase;
            if (c.pszScript != nullptr)
                toolCase.aArgs = {c.pszScript};
            std::string strLineEnd = c.strBeforeTheLoss.empty() ? "" : "\n";
            std::string strExpected = c.strBeforeTheLoss + (c.bCutOff ? strLineEnd + kCutOff : "");
            int nStatus = c.nStatus;
            if (nStdin == kClosed)
                toolCase.aClosedFds = {0};
            if (nStdin == kDirectory) {
                // Not the end of input: the first read that meets it says so and ends the run.
                toolCase.strStdinPath = ".";
                strExpected = c.strBeforeTheLoss + strLineEnd + kReadFailed;
                nStatus = 1;
            }
            ToolRun run = RunDuze(toolCase);
            static const char *const s_apszStdin[] = {"closed", "at its end", "a directory"};
            SCOPED_TRACE(std::string(c.pszScript != nullptr ? c.pszScript : "keys") + ", standard input " +
                         s_apszStdin[nStdin]);
            EXPECT_EQ(run.nStatus, nStatus);
            EXPECT_EQ(run.strLog, StartupLog() + strExpected);
        }
    }
}

// Descriptors 0 to 2 closed at start: the log never takes one of them and gets the console's text.
TEST(HostileInput, ClosedStandardDescriptorsStayOutOfTheLog)
{
    for (std::vector<int> aClosed : std::vector<std::vector<int>>{{1}, {2}, {1, 2}, {0, 1, 2}}) {
        if (aClosed[0] == 0 && ToolIsWindows())
            continue; // wine's handle for a closed standard input fails every read
        ToolCase toolCase;
        toolCase.aClosedFds = aClosed;
        toolCase.strInput = "R\n";
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(aClosed.size());
        EXPECT_EQ(run.nStatus, 0);
        EXPECT_EQ(run.strLog, StartupLog() + (aClosed[0] == 0 ? "" : kR32 + "Brd Address 0x0 = 0x00000000 (0 decimal)\n"));
    }
}

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

TEST(HostileInput, WholeRangeOnTheDefaultBoardEndsAtTheFirstUnansweredQuestion)
{
    ToolCase toolCase;
    toolCase.strInput = "M0\n0xFFFFFFFF\n";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strLog, StartupLog() + "Memory Read/Write test.\n"
                                         "Which Start Address (0x0): Which Range (in bytes) (0x0): " +
                              kOutside);
}

} // namespace

namespace {

// Until the console stops growing: the tool waits for something it writes to.
void WaitForConsoleToStall(const ToolProcess &process)
{
    long nLast = -1;
    for (int i = 0; i < 600; ++i) {
        usleep(100000);
        long nNow = ConsoleSize(process);
        if (nNow > 0 && nNow == nLast)
            return;
        nLast = nNow;
    }
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

} // namespace

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

TEST(HostileInput, NoNullDeviceForAClosedStandardOutput)
{
    if (ToolIsWindows())
        GTEST_SKIP() << "the C runtime keeps the standard descriptors";
    ToolCase toolCase;
    toolCase.aClosedFds = {1};
    toolCase.env = {{"LD_PRELOAD", HOST_SPY_PATH}, {"NO_NULL_DEVICE", "1"}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strError, "Error: Standard output is closed and the null device cannot be opened: No such file or directory\n");
    EXPECT_FALSE(run.bLogExists);
}

// A piped script's last line needs no line end: the end of input finishes it. From a connection that
// can drop (a socket) such a line may be half a number, and is not used. Input that another program
// left non-blocking is waited for.
TEST(HostileInput, APipedScriptsLastLineNeedsNoLineEnd)
{
    const std::string kWrite = "Write to a 32-bit register in the KYN board device.\nWhich Address (0x0): ";
    ToolCase toolCase;
    toolCase.strInput = "W0x10\n0xF";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, StartupLog() + kWrite + "Which Value (0x0): Wrote 0000000F to Brd Address 0x10\n");
    if (ToolIsWindows())
        return;
    toolCase.inChild = [] {
        int afd[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, afd) != 0)
            _exit(123);
        if (fork() == 0) {
            ssize_t n = write(afd[1], "W0x10\n0xF", 9);
            _exit(n == 9 ? 0 : 1);
        }
        close(afd[1]);
        dup2(afd[0], 0);
        close(afd[0]);
    };
    run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strLog,
              StartupLog() + kWrite + "Which Value (0x0): \nError: End of input in the middle of a command\n");

    toolCase = ToolCase();
    toolCase.bStdinPipe = true;
    toolCase.inChild = [] { fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK); };
    ToolProcess process = StartDuze(toolCase);
    EXPECT_TRUE(WaitUntil([&process] { return ReadFile(process.strOut).find("Press 'h'") != std::string::npos; }));
    // Blocked in its wait for input, or (before the fix) already ended.
    std::string strProc = "/proc/" + std::to_string(process.nPid);
    EXPECT_TRUE(WaitUntil([&strProc] {
        std::string strCall = ReadFile(strProc + "/syscall");
        bool bPolls = strCall.rfind(std::to_string(SYS_ppoll) + " ", 0) == 0 ||
                      strCall.rfind(std::to_string(SYS_poll) + " ", 0) == 0;
        return bPolls || ReadFile(strProc + "/stat").find(") Z") != std::string::npos;
    }));
    void (*pfnPipe)(int) = signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(write(process.fdStdin, "W0x10\n0xF\nq", 12), 12);
    signal(SIGPIPE, pfnPipe);
    close(process.fdStdin);
    run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, StartupLog() + kWrite + "Which Value (0x0): Wrote 0000000F to Brd Address 0x10\n");
    // While it waits there, an interrupt ends the run as one, not as a failed read.
    process = StartDuze(toolCase);
    EXPECT_TRUE(WaitUntil([&process] { return ReadFile(process.strOut).find("Press 'h'") != std::string::npos; }));
    usleep(100000);
    kill(process.nPid, SIGTERM);
    // Standard input stays open until the run has ended: its end must not be what wakes the wait.
    strProc = "/proc/" + std::to_string(process.nPid) + "/stat";
    EXPECT_TRUE(WaitUntil([&strProc] { return ReadFile(strProc).find(") Z") != std::string::npos; }));
    run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 128 + SIGTERM);
    EXPECT_EQ(run.strLog, StartupLog());
}

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
        EXPECT_EQ(run.nStatus, 0);
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
