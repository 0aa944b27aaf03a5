// e2e_hostile_input_test.cpp - hostile input at every prompt, argument and read: one clear outcome each.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

const std::string kWait = EXPECTED_QUESTION;
// Windows limits a whole command line to 32,767 characters.
const size_t kLongArgument = ToolIsWindows() ? 30000 : 100000;

// Hostile input at every prompt: each has one clear outcome, never a crash or a hang.
struct HostileCase {
    const char *pszName;
    std::string strKeys;
    std::string strLogAfterStartup;
    int nStatus = 0; // 3 after a memory test that found errors
};
void PrintTo(const HostileCase &c, std::ostream *pOut)
{
    *pOut << c.pszName;
}

const std::string kR32 = kExpectedRead32Prompt;
const std::string kMisaligned = kExpectedMisaligned;
const std::string kOutside = kExpectedOutside;
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
         "Memory test finished. ErrorCount=1\n",
     3},
    {"TimestampAllOnes", "T-1\n-1\n",
     "Enter High 32-bit value of timestamp (0x00000000): Enter Low 32-bit value of timestamp (0x00000000): "
     "Error: Invalid timestamp (before Jan 1, 1970)\n\n"},
    // Year 30828: Windows' local-time conversion stops at the year 3000.
    {"TimestampFarFuture", "T0x7FFFFFFF\n0\n",
     "Enter High 32-bit value of timestamp (0x00000000): Enter Low 32-bit value of timestamp (0x00000000): " +
         std::string(ToolIsWindows() ? "Error: Invalid timestamp (before Jan 1, 1970)\n\n" : "09-14 02:40:55.980 \n")},
};

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, EachPromptHasAClearOutcome)
{
    ToolCase toolCase;
    toolCase.strInput = GetParam().strKeys + "q";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, GetParam().nStatus);
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

TEST(HostileInput, HostileArgumentsEndAsTheySay)
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
        {"MissingDirectory", {"/Lnodir/x.log"}, 255, "Couldn't open logfile NODIR/X.LOG\nNo such file or directory\n"},
        // Latin-1 is text in a Windows code page; on a UTF-8 terminal it is no character, and is escaped.
        {"HighBytesInLogName", {HostArgument("/L\xe4\xf6.log")}, 0,
         ToolIsWindows() ? "Log file is  \xe4\xf6.LOG\n" : "Log file is  \\xE4\\xF6.LOG\n"},
        // A tab does nothing to a terminal: the log begins with its own name, tab and all.
        {"TabInLogName", {"/La\tb.log", "/Zq"}, ToolIsWindows() ? 255 : 0,
         std::string(ToolIsWindows() ? "Couldn't open logfile " : "Log file is  ") + "A\tB.LOG\n"},
        // Windows allows no control character in a file name: the refusal names it escaped too.
        {"EscapesInLogName", {"--log", "\x1b]0;owned\x07.log", "/Zq"}, ToolIsWindows() ? 255 : 0,
         std::string(ToolIsWindows() ? "Couldn't open logfile " : "Log file is  ") + "\\e]0;owned\\x07.log\n"},
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
    EXPECT_EQ(run.strConsole, std::string(kBanner) + "Couldn't open logfile RO.LOG\n" +
                                  (geteuid() == 0 && !ToolIsWindows() ? "Operation not permitted\n" : "Permission denied\n"));
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

// An SVD text of one peripheral P at BASE whose <registers> hold INNER.
std::string Svd(const std::string &strInner, const std::string &strBase = "0")
{
    return "<device><peripherals><peripheral><name>P</name><baseAddress>" + strBase + "</baseAddress><registers>" +
           strInner + "</registers></peripheral></peripherals></device>\n";
}

std::string Repeated(const std::string &strText, size_t nTimes)
{
    std::string strOut;
    for (size_t i = 0; i < nTimes; ++i)
        strOut += strText;
    return strOut;
}

// Register maps made to crash, hang or mislead: each is refused at start with status 2, the file,
// the line and why, or read with a warning, within a deadline a busy machine meets (the readings
// they stand for took minutes, gigabytes or the stack).
TEST(HostileInput, RegisterMapsThatWouldCrashHangOrMislead)
{
    std::string strChain = "<register><name>R0</name><addressOffset>0</addressOffset><size>16</size></register>";
    for (int i = 1; i < 30000; ++i)
        strChain += "<register derivedFrom=\"R" + std::to_string(i - 1) + "\"><name>R" + std::to_string(i) +
                    "</name><addressOffset>" + std::to_string(4 * i) + "</addressOffset></register>";
    std::string strNested;
    for (int i = 0; i < 16; ++i)
        strNested += "<cluster><name>C" + std::to_string(i) + "%s</name><dim>4</dim><dimIncrement>0</dimIncrement>"
                     "<addressOffset>0</addressOffset>";
    struct {
        const char *pszName;
        std::string strMap;
        int nStatus;
        std::string strOut, strErr;
    } aCases[] = {
        {"60,000 nested elements", "<device><peripherals>" + Repeated("<a>", 60000) + Repeated("</a>", 60000) +
         "</peripherals></device>", 2, "", "Error: register map board.svd line 1: elements nested more than 64 deep: "
         "no register map nests so deep\n"},
        {"a cluster of 65,536 holding 256 registers", Svd("<cluster><name>C%s</name><dim>65536</dim><dimIncrement>0x400"
         "</dimIncrement><addressOffset>0</addressOffset><register><name>R%s</name><dim>256</dim><dimIncrement>4"
         "</dimIncrement><addressOffset>0</addressOffset></register></cluster>"), 2, "",
         "Error: register map board.svd line 1: the map expands to more than 100000 registers and clusters (its dims "
         "multiply): no board has that many\n"},
        {"sixteen nested clusters of 4", Svd(strNested + "<register><name>R</name><addressOffset>0</addressOffset>"
         "</register>" + Repeated("</cluster>", 16)), 2, "", "Error: register map board.svd line 1: the map expands to "
         "more than 100000 registers and clusters (its dims multiply): no board has that many\n"},
        {"fields of 2,000 registers times 1,000", Svd("<register><name>R%s</name><dim>2000</dim><dimIncrement>4"
         "</dimIncrement><addressOffset>0</addressOffset><fields>" + Repeated("<field><name>F</name><bitOffset>0"
         "</bitOffset></field>", 1000) + "</fields></register>"), 2, "", "Error: register map board.svd line 1: the map "
         "expands to more than 1000000 fields and enumerated values (its dims multiply)\n"},
        // 30,000 registers each derived from the one before: read in linear time, each the first's size.
        {"a derivedFrom chain of 30,000", Svd(strChain), 0, "0x0000\n", ""},
        {"an address past 64 bits", Svd("<register><name>R</name><addressOffset>0</addressOffset></register><register>"
         "<name>S</name><addressOffset>1</addressOffset></register>", "0xFFFFFFFFFFFFFFFF"), 0,
         "Brd Address 0x0 = 0x00000000  P.R\n", "Warning: register map board.svd line 1: the address of register P.S "
         "passes 64 bits: it is left out\n"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        ToolCase toolCase;
        // The chain's last register, which takes its 16 bits from the first; else every register.
        toolCase.aArgs = {"--map", "board.svd", "--dump"};
        if (c.strMap == Svd(strChain))
            toolCase.aArgs = {"--map", "board.svd", "--read16", "P.R29999"};
        toolCase.setUp = [&c](const std::string &strDir) { WriteFile(strDir + "/board.svd", c.strMap); };
        ToolRun run = RunDuze(toolCase);
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strError, c.strErr);
        EXPECT_EQ(run.strConsole, c.strOut);
    }
}

} // namespace
