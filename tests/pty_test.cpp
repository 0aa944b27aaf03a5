// pty_test.cpp - the tool at a real terminal: keys without echo, line editing, long lines, interrupts, settings restored.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "e2e_harness.h"
#include "expected_text.h"
#include "pty_harness.h"

namespace {

// What the terminal shows for text the tool prints: line ends become CR LF.
std::string Crlf(const std::string &strText)
{
    std::string strShown;
    for (char c : strText) {
        if (c == '\n')
            strShown += '\r';
        strShown += c;
    }
    return strShown;
}

const std::string kPrompt = "Press 'h' for help\r\n";

class Terminal : public ::testing::Test {
protected:
    void TearDown() override { ClosePty(m_session); }
    void Start(const std::vector<std::string> &aArgs = {}, const std::map<std::string, std::string> &env = {})
    {
        m_session = StartInPty(aArgs, env);
        ASSERT_GT(m_session.nPid, 0);
    }
    void StartAndWaitForKeys(const std::map<std::string, std::string> &env = {})
    {
        Start({}, env);
        ASSERT_TRUE(WaitForScreen(m_session, kPrompt)) << m_session.strScreen;
    }
    // The log as the tool left it while waiting for the keyboard (or after it ended).
    std::string Log()
    {
        EXPECT_TRUE(WaitUntilReading(m_session));
        return ReadFile(m_session.strDir + "/DuzeDevazu.log");
    }
    PtySession m_session;
};

TEST_F(Terminal, KeysActWithoutEnterAndAreNotEchoedAndTheLogIsOnDiskWhileWaiting)
{
    StartAndWaitForKeys();
    EXPECT_EQ(m_session.strScreen, Crlf(kBanner + StartupLog()));
    EXPECT_EQ(Log(), StartupLog());
    size_t nMark = m_session.strScreen.size();
    TypeKeys(m_session, "h");
    ASSERT_TRUE(WaitForScreen(m_session, " M   Memory Read/Write Test.\r\n", 60000, nMark)) << m_session.strScreen;
    EXPECT_EQ(m_session.strScreen.substr(nMark, 15), "Cmd  Synopsis\r\n");
    // The tool waits for the next key: the log already holds every line shown.
    EXPECT_EQ(Crlf(kBanner + Log()), m_session.strScreen);
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 0);
    EXPECT_TRUE(TerminalRestored(m_session));
}

TEST_F(Terminal, DigitsAreEchoedAndBackspaceEditsThem)
{
    StartAndWaitForKeys();
    TypeKeys(m_session, "i");
    ASSERT_TRUE(WaitForScreen(m_session, "Which Address (0x0): "));
    TypeKeys(m_session, "12");
    ASSERT_TRUE(WaitForScreen(m_session, "Which Address (0x0): 12"));
    TypeKeys(m_session, "\x7f");
    ASSERT_TRUE(WaitForScreen(m_session, "Which Address (0x0): 12\b \b"));
    TypeKeys(m_session, "6\x08\x08" "2\r");
    ASSERT_TRUE(WaitForScreen(m_session, "Brd Address 0x2 = 0x0000 (0 decimal)\r\n")) << m_session.strScreen;
    EXPECT_NE(m_session.strScreen.find("Which Address (0x0): 12\b \b6\b \b\b \b2\r\nBrd Address 0x2 = "),
              std::string::npos)
        << m_session.strScreen;
    // The log has the prompt and the answer line, not what was typed.
    EXPECT_EQ(Log(), StartupLog() + "Read from a 16-bit register in the KYN Board device.\n"
                                    "Which Address (0x0): Brd Address 0x2 = 0x0000 (0 decimal)\n");
    // A line of blanks, a lone Tab too, is no empty line: it reads as 0, and 0 is remembered.
    TypeKeys(m_session, "i8\ri\t\ri\r");
    ASSERT_TRUE(WaitForScreen(m_session, "Which Address (0x0): \r\nBrd Address 0x0 = 0x0000 (0 decimal)\r\n"))
        << m_session.strScreen;
    EXPECT_NE(m_session.strScreen.find("Which Address (0x8): \t\r\nBrd Address 0x0 = "), std::string::npos);
    // Ctrl-D is no part of a number; on an empty line it is the input's end (the terminal turns
    // Ctrl-Z into a stop before it could be a key).
    TypeKeys(m_session, "i4\x04\r");
    ASSERT_TRUE(WaitForScreen(m_session, "Which Address (0x0): 4\r\nBrd Address 0x4 = ")) << m_session.strScreen;
    TypeKeys(m_session, "i\x04");
    EXPECT_EQ(WaitForEnd(m_session), 1);
    EXPECT_NE(m_session.strScreen.find("Which Address (0x4): \r\n\r\nError: End of input in the middle of a command"),
              std::string::npos)
        << m_session.strScreen;
    EXPECT_TRUE(TerminalRestored(m_session));
}

TEST_F(Terminal, ALongLineKeepsItsFirst63CharactersAndTheNextKeyFollowsIt)
{
    StartAndWaitForKeys();
    TypeKeys(m_session, "R" + std::string(63, '0') + std::string(937, '4') + "\r");
    ASSERT_TRUE(WaitForScreen(m_session, "Brd Address 0x0 = 0x00000000 (0 decimal)\r\n")) << m_session.strScreen;
    EXPECT_NE(m_session.strScreen.find("Which Address (0x0): " + std::string(63, '0') + "\r\nBrd Address 0x0"),
              std::string::npos);
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 0);
    EXPECT_EQ(m_session.strScreen.find("Unknown command"), std::string::npos);
    EXPECT_TRUE(TerminalRestored(m_session));
}

TEST_F(Terminal, RestoredAfterAYesAtTheExitQuestion)
{
    StartAndWaitForKeys();
    TypeKeys(m_session, "R3\r");
    ASSERT_TRUE(WaitForScreen(m_session, EXPECTED_QUESTION));
    DrainScreen(m_session, 50);
    // The question waits: the log holds everything shown but the typed answer's echo.
    std::string strShown = m_session.strScreen;
    strShown.replace(strShown.find("Which Address (0x0): 3\r\n"), 24, "Which Address (0x0): ");
    EXPECT_EQ(Crlf(kBanner + Log()), strShown);
    TypeKeys(m_session, "y");
    EXPECT_EQ(WaitForEnd(m_session), 1);
    EXPECT_TRUE(TerminalRestored(m_session));
}

// Stopped by SIGSTOP from elsewhere and continued after the shell put its own settings back: keys
// act without Enter again. A SIGCONT that comes after the final restore leaves the terminal alone.
TEST_F(Terminal, KeyModeComesBackAfterAStopItDidNotSeeAndNeverAfterTheEnd)
{
    Start({}, {{"LD_PRELOAD", HOST_SPY_PATH}, {"SIGCONT_AT_END", "1"}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
    ASSERT_TRUE(WaitForScreen(m_session, kPrompt));
    ASSERT_TRUE(WaitUntilReading(m_session));
    kill(m_session.nPid, SIGSTOP);
    tcsetattr(m_session.fdMaster, TCSANOW, &m_session.before);
    kill(m_session.nPid, SIGCONT);
    EXPECT_TRUE(WaitUntil([this] {
        struct termios now;
        return tcgetattr(m_session.fdMaster, &now) == 0 && (now.c_lflag & (ICANON | ECHO)) == 0;
    }));
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 0);
    EXPECT_TRUE(TerminalRestored(m_session));
}

TEST_F(Terminal, RestoredAfterEachFatalStartUpError)
{
    struct {
        std::vector<std::string> aArgs;
        std::map<std::string, std::string> env;
        int nStatus;
    } aCases[] = {
        {{"abc"}, {}, 1},
        {{"/L"}, {}, 255},
        {{}, {{"KYNSIM_CONNECT", "11"}}, 1},
        {{}, {{"KYNSIM_CONNECT", "17"}}, 1},
        {{}, {{"KYNSIM_FAIL", "junk"}}, 2},
        {{"/Q"}, {{"KYNSIM_CONNECT", "-1"}}, 1},
    };
    for (const auto &c : aCases) {
        PtySession session = StartInPty(c.aArgs, c.env);
        EXPECT_EQ(WaitForEnd(session), c.nStatus);
        EXPECT_TRUE(TerminalRestored(session));
        ClosePty(session);
    }
}

// Arrow, function and editing keys run no command, as on the Windows console: each is one
// unknown key, a number line drops it, and at the exit question it is no yes.
TEST_F(Terminal, KeysThatAreNoLettersRunNoCommand)
{
    const std::string kUnknown = EXPECTED_UNKNOWN;
    StartAndWaitForKeys();
    // Page Down, Down, Right, Up, F1, Ctrl-Left, F12, Ctrl-J as xterm sends it where it modifies
    // other keys (longer than any key of the table: none of its bytes is a key of its own, its '~' no
    // sleep); then a lone Escape.
    TypeKeys(m_session, "\x1b[6~\x1b[B\x1b[C\x1b[A\x1bOP\x1b[1;5D\x1b[24~\x1b[27;5;106~");
    ASSERT_TRUE(WaitUntilReading(m_session));
    TypeKeys(m_session, "\x1b");
    usleep(100000);
    TypeKeys(m_session, "R\x1b[D4\rR3\r\x1b[B");
    ASSERT_TRUE(WaitForScreen(m_session, "Brd Address 0x3 = 0x00000000 (0 decimal)\r\n")) << m_session.strScreen;
    std::string strUnknowns;
    for (int i = 0; i < 9; ++i)
        strUnknowns += kUnknown;
    EXPECT_EQ(Log(), StartupLog() + strUnknowns +
                         "Read from a 32-bit register in the KYN Board device.\n"
                         "Which Address (0x0): Brd Address 0x4 = 0x00000000 (0 decimal)\n"
                         "Read from a 32-bit register in the KYN Board device.\n"
                         "Which Address (0x4): ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to "
                         "the access width. \nDo you want to exit (Y/N) Brd Address 0x3 = 0x00000000 (0 decimal)\n");
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 0);
    ClosePty(m_session);
    // From the command string a 0xE0 is one key: the next one still runs.
    Start({"/Z\xe0hq"});
    EXPECT_EQ(WaitForEnd(m_session), 0);
    EXPECT_NE(m_session.strScreen.find(Crlf(kUnknown) + "Cmd  Synopsis"), std::string::npos) << m_session.strScreen;
}

// A long memory test at a terminal shows its progress, and the screen then reads exactly as
// without it: with typed and scripted answers, a failed call and a mismatch in the middle, in
// narrow terminals where the prompts wrap, and with a console that ends and echoes its lines
// otherwise than by default. Each case runs twice with the tool built for tests, the progress
// line drawn at every chance and never, and the two screens must render alike.
struct ProgressCase {
    const char *pszName;
    std::vector<std::string> aArgs;
    std::map<std::string, std::string> env;
    std::string strTyped;
    int nColumns;
};

std::string ScreenOfAProgressRun(const ProgressCase &c, bool bProgress, bool *pbDrawn)
{
    PtyStart start;
    start.strTool = PROGRESS_TOOL_PATH;
    start.nColumns = c.nColumns;
    std::map<std::string, std::string> env = c.env;
    env["DUZE_PROGRESS_FIRST_MS"] = bProgress ? "0" : "100000000";
    env["DUZE_PROGRESS_REDRAW_MS"] = "0";
    PtySession session = StartInPty(c.aArgs, env, start);
    EXPECT_TRUE(WaitForScreen(session, kPrompt, 60000));
    TypeKeys(session, c.strTyped);
    EXPECT_TRUE(WaitForScreen(session, "Memory test finished", 60000)) << session.strScreen.substr(0, 2000);
    EXPECT_TRUE(WaitUntilReading(session, 60000));
    DrainScreen(session, 50);
    *pbDrawn = session.strScreen.find("Writing: ") != std::string::npos &&
               session.strScreen.find("Reading back: ") != std::string::npos;
    std::string strScreen = Render(session.strScreen, (size_t)c.nColumns);
    ClosePty(session);
    return strScreen;
}

TEST(TerminalProgress, TheScreenReadsAsWithoutTheProgressLine)
{
    const std::map<std::string, std::string> kWholeSpace = {{"KYNSIM_MEMORY", "address"}};
    const std::map<std::string, std::string> kFailures = {
        {"KYNSIM_MEMORY", "address"}, {"KYNSIM_FAIL", "ReadReg32:-1@0x100000"}};
    const std::map<std::string, std::string> kOtherRules = {{"KYNSIM_MEMORY", "address"},
                                                            {"KYNSIM_CONSOLE", "semicolon-lines,bare-echo"}};
    const ProgressCase aCases[] = {
        {"typed answers", {}, kWholeSpace, "M0\r0x400000\r", 80},
        {"script with a failed call and a mismatch", {"-ZM0;0x400000;n"}, kFailures, "", 80},
        {"60 columns", {}, kWholeSpace, "M0\r0x400000\r", 60},
        {"50 columns, wrapped prompts", {"-ZM0;0x400000;n"}, kFailures, "", 50},
        {"console's own rules, typed", {}, kOtherRules, "M0\r0x400000\r", 80},
        {"console's own rules, script", {"-ZM0\n;0x400000;"}, kOtherRules, "", 80},
    };
    for (const ProgressCase &c : aCases) {
        SCOPED_TRACE(c.pszName);
        bool bDrawn = false, bDrawnWithout = true;
        std::string strWith = ScreenOfAProgressRun(c, true, &bDrawn);
        std::string strWithout = ScreenOfAProgressRun(c, false, &bDrawnWithout);
        EXPECT_TRUE(bDrawn) << "no progress line was drawn";
        EXPECT_FALSE(bDrawnWithout);
        EXPECT_EQ(strWith, strWithout);
    }
}

// The memory test as a job (--memtest) shows the same progress line at a terminal, and its summary
// then reads as without it.
TEST(TerminalProgress, TheMemtestJobShowsItsProgressToo)
{
    std::string aScreens[2];
    for (int i = 0; i < 2; ++i) {
        PtyStart start;
        start.strTool = PROGRESS_TOOL_PATH;
        PtySession session = StartInPty({"--memtest", "0:0x400000", "--patterns", "solid,walking-ones"},
                                        {{"DUZE_PROGRESS_FIRST_MS", i == 0 ? "0" : "100000000"}, {"DUZE_PROGRESS_REDRAW_MS", "0"}},
                                        start);
        EXPECT_TRUE(WaitForScreen(session, "aliased address bits: none", 60000)) << session.strScreen.substr(0, 2000);
        DrainScreen(session, 50);
        bool bDrawn = session.strScreen.find("Writing: ") != std::string::npos;
        EXPECT_EQ(bDrawn, i == 0);
        aScreens[i] = Render(session.strScreen, 80);
        ClosePty(session);
    }
    EXPECT_EQ(aScreens[0], aScreens[1]);
    EXPECT_EQ(aScreens[1].substr(0, 46), "memtest: 0x400000 bytes from 0x0, patterns sol") << aScreens[1];
}

// A terminal narrowed during the run may wrap the last progress line onto the rows below: the next
// draw erases everything below the cursor's row, not only the row it draws on.
TEST(TerminalProgress, ANarrowedTerminalKeepsNoFragments)
{
    PtyStart start;
    start.strTool = PROGRESS_TOOL_PATH;
    start.nColumns = 200;
    PtySession session = StartInPty({"-ZM0;0x4000000;q"}, {{"KYNSIM_MEMORY", "address"}, {"DUZE_PROGRESS_FIRST_MS", "0"},
                                                           {"DUZE_PROGRESS_REDRAW_MS", "0"}}, start);
    ASSERT_TRUE(WaitForScreen(session, "Writing: ", 60000));
    struct winsize size = {24, 40, 0, 0};
    ioctl(session.fdMaster, TIOCSWINSZ, &size);
    size_t nMark = session.strScreen.size();
    ASSERT_TRUE(WaitForScreen(session, "\0338", 60000, nMark));
    size_t nDraw = session.strScreen.find("\0337\033D\r", nMark);
    ASSERT_NE(nDraw, std::string::npos);
    EXPECT_EQ(session.strScreen.substr(nDraw + 5, 3), "\033[J");
    kill(session.nPid, SIGINT);
    WaitForEnd(session, 60000);
    ClosePty(session);
}

// Ctrl-C in the middle of the test: the run ends and takes its progress line with it, also when
// the interrupt comes while the line's own write is still under way.
TEST(TerminalProgress, CtrlCTakesTheProgressLineAway)
{
    for (bool bInsideTheDraw : {false, true}) {
        SCOPED_TRACE(bInsideTheDraw ? "interrupt right after the first draw's write" : "Ctrl-C typed");
        PtyStart start;
        start.strTool = PROGRESS_TOOL_PATH;
        std::map<std::string, std::string> env = {
            {"KYNSIM_MEMORY", "address"}, {"DUZE_PROGRESS_FIRST_MS", "0"}, {"DUZE_PROGRESS_REDRAW_MS", "0"}};
        if (bInsideTheDraw)
            env.insert({{"LD_PRELOAD", HOST_SPY_PATH},
                        {"SIGINT_AFTER_WRITE", "Writing: "},
                        {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
        PtySession session = StartInPty({"-ZM0;0xFFFFFFFF;q"}, env, start);
        ASSERT_TRUE(WaitForScreen(session, "Writing: ", 60000));
        if (!bInsideTheDraw)
            TypeKeys(session, "\x03");
        EXPECT_EQ(WaitForEnd(session, 60000), 128 + SIGINT);
        std::string strScreen = Render(session.strScreen);
        EXPECT_EQ(strScreen.find("Writing: "), std::string::npos) << strScreen;
        const std::string kPrompts = "\nWhich Start Address (0x0): Which Range (in bytes) (0x0):\n";
        EXPECT_EQ(strScreen.substr(strScreen.size() - kPrompts.size()), kPrompts);
        ClosePty(session);
    }
}

// Before a read the log goes to disk (fsync) only where a person waits at a terminal:
// scripted and piped runs only hand it to the system.
TEST_F(Terminal, TheLogIsCommittedOnlyWhereAPersonWaits)
{
    const std::map<std::string, std::string> env = {
        {"LD_PRELOAD", HOST_SPY_PATH}, {"FSYNC_SPY_FILE", "fsyncs"}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    StartAndWaitForKeys(env);
    TypeKeys(m_session, "h");
    ASSERT_TRUE(WaitForScreen(m_session, " M   Memory Read/Write Test.\r\n"));
    ASSERT_TRUE(WaitUntilReading(m_session));
    EXPECT_EQ(ReadFile(m_session.strDir + "/fsyncs"), "fsync\nfsync\n");
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 0);

    ToolCase toolCase;
    toolCase.env = env;
    toolCase.strInput = "hq";
    toolCase.aReadFiles = {"fsyncs"};
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.files["fsyncs"], "");
}

struct InterruptCase {
    const char *pszName;
    std::string strKeys;      // typed before the interrupt
    std::string strWaitFor;   // shown when the tool waits
    int nSignal;
    bool bCtrlC;              // typed Ctrl-C rather than a signal sent to the process
    std::string strNotLogged; // what the screen shows but the log does not have: echoes, sleep lines
};
void PrintTo(const InterruptCase &c, std::ostream *pOut)
{
    *pOut << c.pszName;
}

class TerminalInterrupt : public Terminal, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(TerminalInterrupt, EndsPromptlyWithTheTerminalRestoredAndTheLogComplete)
{
    const InterruptCase &c = GetParam();
    StartAndWaitForKeys();
    if (!c.strKeys.empty()) {
        TypeKeys(m_session, c.strKeys);
        ASSERT_TRUE(WaitForScreen(m_session, c.strWaitFor)) << m_session.strScreen;
    }
    DrainScreen(m_session, 100);
    if (c.bCtrlC)
        TypeKeys(m_session, "\x03");
    else
        kill(m_session.nPid, c.nSignal);
    EXPECT_EQ(WaitForEnd(m_session), 128 + c.nSignal);
    EXPECT_TRUE(TerminalRestored(m_session));
    std::string strScreen = m_session.strScreen;
    if (!c.strNotLogged.empty()) {
        size_t nAt = strScreen.rfind(c.strNotLogged);
        ASSERT_NE(nAt, std::string::npos) << strScreen;
        strScreen.erase(nAt, c.strNotLogged.size());
    }
    EXPECT_EQ(Crlf(kBanner + Log()), strScreen);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, TerminalInterrupt,
    ::testing::Values(InterruptCase{"CtrlCAtKey", "", "", SIGINT, true, ""},
                      InterruptCase{"CtrlCAtLine", "W12", "Which Address (0x0): 12", SIGINT, true, "12"},
                      InterruptCase{"CtrlCAtQuestion", "R1\r", "(Y/N) ", SIGINT, true, "1\r\n"},
                      InterruptCase{"SigtermAtKey", "h", "Memory Read/Write Test.\r\n", SIGTERM, false, ""},
                      InterruptCase{"SigtermAtLine", "M", "Which Start Address (0x0): ", SIGTERM, false, ""},
                      InterruptCase{"SighupAtSleep", "~100000\r", "Sleeping 100000 milliseconds\r\n", SIGHUP, false,
                                    "Enter milliseconds to sleep :100000\r\nSleeping 100000 milliseconds\r\n"},
                      // Every other signal whose default ends the process ends the run the same way.
                      InterruptCase{"Sigusr1AtKey", "", "", SIGUSR1, false, ""},
                      InterruptCase{"Sigusr2AtKey", "", "", SIGUSR2, false, ""},
                      InterruptCase{"SigalrmAtKey", "", "", SIGALRM, false, ""},
                      InterruptCase{"SigvtalrmAtKey", "", "", SIGVTALRM, false, ""},
                      InterruptCase{"SigprofAtKey", "", "", SIGPROF, false, ""},
                      InterruptCase{"SigxcpuAtKey", "", "", SIGXCPU, false, ""},
                      InterruptCase{"SigxfszAtLine", "M", "Which Start Address (0x0): ", SIGXFSZ, false, ""}),
    [](const ::testing::TestParamInfo<InterruptCase> &info) { return std::string(info.param.pszName); });

// Two interrupts microseconds apart in a failing memory test: the second ends the process
// at once, and every line the screen showed is in the log all the same.
TEST_F(Terminal, TwoQuickInterruptsLoseNoLineTheScreenShowed)
{
    Start({"-ZM0;0x4000000;q"}, {{"KYNSIM_MEMORY", "zero"}});
    ASSERT_TRUE(WaitForScreen(m_session, "Memory error at Address 0x1000 ")) << m_session.strScreen;
    // Unread, the terminal fills and the tool waits in the middle of showing its lines.
    usleep(300000);
    kill(m_session.nPid, SIGINT);
    usleep(10000);
    kill(m_session.nPid, SIGINT);
    EXPECT_EQ(WaitForEnd(m_session), 128 + SIGINT);
    EXPECT_TRUE(TerminalRestored(m_session));
    // What the screen shows, less a progress line the interrupt may have left standing.
    std::string strShown = Render(m_session.strScreen);
    while (strShown.size() >= 2 && strShown.compare(strShown.size() - 2, 2, "\n\n") == 0)
        strShown.pop_back();
    size_t nLastLine = strShown.rfind('\n', strShown.size() - 2) + 1;
    if (strShown.compare(nLastLine, 9, "Writing: ") == 0 || strShown.compare(nLastLine, 14, "Reading back: ") == 0)
        strShown.erase(nLastLine);
    std::string strLogShown = Render(Crlf(kBanner + ReadFile(m_session.strDir + "/DuzeDevazu.log")));
    EXPECT_EQ(strLogShown.substr(0, strShown.size()), strShown);
}

// A mismatch early in a long read pass is on the screen and in the log as soon as it is
// found, and stays there when the run is interrupted before the pass ends.
TEST_F(Terminal, AMismatchShowsAsSoonAsItsWordIsCompared)
{
    Start({"-ZM0;0x10000000;n"}, {{"KYNSIM_MEMORY", "address"}, {"KYNSIM_FAIL", "ReadReg32:-1@0x8"}});
    const std::string kLine = "Memory error at Address 0x8   (nReadVal(0x4) != nWriteVal(0x8))\n";
    ASSERT_TRUE(WaitForScreen(m_session, Crlf(kLine))) << m_session.strScreen;
    kill(m_session.nPid, SIGINT);
    EXPECT_EQ(WaitForEnd(m_session), 128 + SIGINT);
    std::string strLog = ReadFile(m_session.strDir + "/DuzeDevazu.log");
    EXPECT_EQ(strLog.substr(strLog.size() - kLine.size()), kLine);
    EXPECT_EQ(m_session.strScreen.find("Memory test finished"), std::string::npos);
}

TEST_F(Terminal, ALogPastTheFileSizeLimitSaysSoAndTheRunGoesOn)
{
    PtyStart start;
    start.nFileSizeLimit = 800; // the start-up lines fit, the help text does not
    m_session = StartInPty({}, {}, start);
    ASSERT_TRUE(WaitForScreen(m_session, kPrompt));
    TypeKeys(m_session, "hR\r");
    ASSERT_TRUE(WaitForScreen(m_session, "Brd Address 0x0 = 0x00000000 (0 decimal)\r\n")) << m_session.strScreen;
    // At a terminal the log is written before each text is shown: the failure shows at the line
    // that passed the limit, and the screen's text goes on.
    EXPECT_NE(m_session.strScreen.find(" p   KynDrvRead32 from Pci bridge device\r\n"
                                       "Error: Writing log file DuzeDevazu.log failed: File too large\r\n"
                                       " d   Issue Debug Command"),
              std::string::npos)
        << m_session.strScreen;
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 255);
    EXPECT_TRUE(TerminalRestored(m_session));
    EXPECT_EQ(ReadFile(m_session.strDir + "/DuzeDevazu.log").size(), 800u);
}

} // namespace

namespace {

// The run's end, without reading the terminal meanwhile: a run whose output nobody reads.
int WaitForEndUnread(PtySession &session, int nMilliseconds)
{
    for (int nWaited = 0; nWaited < nMilliseconds; nWaited += 5) {
        int nWait = 0;
        if (waitpid(session.nPid, &nWait, WNOHANG) == session.nPid) {
            session.nPid = -1;
            return WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait);
        }
        usleep(5000);
    }
    return -1;
}

const std::string kMemoryTestOnZeros = "-ZM0;0x4000000;q";

// Every line the screen shows is in the log, in its order; the last may be cut short by the stop
// or the end. Only the first difference is reported.
void ExpectShownLinesInTheLog(const std::string &strScreen, const std::string &strLog)
{
    std::vector<std::string> aShown = Lines(Render(strScreen)), aLogged = Lines(Render(Crlf(kBanner + strLog)));
    ASSERT_LE(aShown.size(), aLogged.size()) << "the screen shows more lines than the log has";
    for (size_t i = 0; i < aShown.size(); ++i) {
        bool bSame = i + 1 < aShown.size() ? aShown[i] == aLogged[i] : aLogged[i].compare(0, aShown[i].size(), aShown[i]) == 0;
        ASSERT_TRUE(bSame) << "line " << i + 1 << " of " << aShown.size() << " shown: '" << aShown[i] << "', logged: '"
                           << aLogged[i] << "'";
    }
}

// Completion in a real interactive bash at a terminal, with bash-completion's helpers and without
// them: a file name that holds ; > ` or a space is inserted as one word, so Enter runs no command
// of it (no PWNED file), and the tool gets the name whole.
TEST(TerminalCompletion, FileNamesAreInsertedQuotedAndRunNothing)
{
    std::string strTool = ToolCommand().back();
    std::string strPath = strTool.substr(0, strTool.rfind('/')) + ":/usr/bin:/bin";
    for (bool bHelpers : {false, true}) {
        for (const char *pszName : {"xb;id>PWNED", "y`touch PWNED`", "my log"}) {
            SCOPED_TRACE(std::string(pszName) + (bHelpers ? ", with bash-completion" : ""));
            PtyStart start;
            start.strTool = "/bin/bash";
            PtySession session = StartInPty({"--norc", "--noprofile", "-i"}, {{"PATH", strPath}, {"PS1", "$ "},
                                                                               {"INPUTRC", "/dev/null"}}, start);
            ASSERT_GT(session.nPid, 0);
            WriteFile(session.strDir + "/" + pszName, "");
            std::string strSource = bHelpers ? ". /usr/share/bash-completion/bash_completion; " : "";
            TypeKeys(session, strSource + ". " DUZE_SOURCE_DIR "/packaging/duzedevazu.bash-completion; echo sourced\r");
            ASSERT_TRUE(WaitForScreen(session, "sourced\r\n")) << session.strScreen;
            // The first letter, Tab, then the rest of the command line: a log the tool opens is the file.
            TypeKeys(session, std::string("duzedevazu --log ") + pszName[0] + "\t");
            DrainScreen(session, 300);
            TypeKeys(session, " --read 0 >/dev/null; echo \"status $?\"\r");
            EXPECT_TRUE(WaitForScreen(session, "status 0\r\n")) << session.strScreen;
            TypeKeys(session, "exit\r");
            WaitForEnd(session, 10000);
            bool bExists = false;
            ReadFile(session.strDir + "/PWNED", &bExists);
            EXPECT_FALSE(bExists) << session.strScreen;
            EXPECT_NE(ReadFile(session.strDir + "/" + pszName).find("Log file is"), std::string::npos) << session.strScreen;
            ClosePty(session);
        }
    }
}

} // namespace

// A terminal that goes away: with SIGHUP ignored (nohup) a number line it cut short is no line,
// the command does not run, and the run says why; with SIGHUP at its default the run ends as a
// hang-up, with no line about a failed read.
TEST(TerminalLost, ALineCutShortIsNoLineAndAHangUpEndsTheRunAsOne)
{
    const std::string kWrite = "Write to a 32-bit register in the KYN board device.\nWhich Address (0x0): Which Value (0x0): ";
    struct {
        const char *pszName;
        std::vector<int> aIgnored;
        std::string strTyped;
        int nStatus;
        std::string strLogAfterStartup;
    } aCases[] = {
        {"cut short, SIGHUP ignored", {SIGHUP}, "W0x10\r0xF", 255,
         kWrite + "\nError: Reading input failed\nError: Writing the console failed: Input/output error\n"},
        {"hang-up at a key", {}, "", 128 + SIGHUP, ""},
        {"hang-up in a line", {}, "W0x10\r0xF", 128 + SIGHUP, kWrite},
    };
    for (const auto &c : aCases) {
        PtyStart start;
        start.aIgnoredSignals = c.aIgnored;
        PtySession session = StartInPty({}, {{"KYNSIM_TRACE", "trace.txt"}}, start);
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(WaitForScreen(session, kPrompt));
        TypeKeys(session, c.strTyped);
        ASSERT_TRUE(WaitForScreen(session, c.strTyped.empty() ? kPrompt : "0xF"));
        ASSERT_TRUE(WaitUntilReading(session));
        close(session.fdMaster);
        session.fdMaster = -1;
        EXPECT_EQ(WaitForEnd(session, 60000), c.nStatus);
        EXPECT_EQ(ReadFile(session.strDir + "/DuzeDevazu.log"), StartupLog() + c.strLogAfterStartup);
        EXPECT_EQ(ReadFile(session.strDir + "/trace.txt").find("WriteReg32"), std::string::npos);
        ClosePty(session);
    }
}

// A terminal whose output is stopped (Ctrl-S) or not read: an interrupt sent with kill ends the
// run at once, with the terminal's settings back and the log holding every line shown.
TEST(TerminalStalled, AnInterruptEndsARunWaitingForItsTerminal)
{
    for (bool bCtrlS : {true, false}) {
        int nSignal = bCtrlS ? SIGTERM : SIGHUP;
        PtySession session = StartInPty({kMemoryTestOnZeros}, {{"KYNSIM_MEMORY", "zero"}});
        SCOPED_TRACE(bCtrlS ? "Ctrl-S" : "not read");
        ASSERT_TRUE(WaitForScreen(session, "Memory error at Address 0x1000 ", 60000));
        if (bCtrlS)
            TypeKeys(session, "\x13");
        usleep(300000);
        kill(session.nPid, nSignal);
        EXPECT_EQ(WaitForEndUnread(session, 60000), 128 + nSignal);
        EXPECT_TRUE(TerminalRestored(session));
        DrainScreen(session, 100);
        ExpectShownLinesInTheLog(session.strScreen, ReadFile(session.strDir + "/DuzeDevazu.log"));
        ClosePty(session);
    }
}

// A typed Ctrl-C does not discard output the terminal has queued: the screen shows what the log has.
TEST_F(Terminal, ATypedCtrlCKeepsQueuedOutput)
{
    Start({kMemoryTestOnZeros}, {{"KYNSIM_MEMORY", "zero"}});
    ASSERT_TRUE(WaitForScreen(m_session, "Memory error at Address 0x10000 ", 60000)) << m_session.strScreen;
    TypeKeys(m_session, "\x03");
    EXPECT_EQ(WaitForEnd(m_session, 60000), 128 + SIGINT);
    std::string strLog = ReadFile(m_session.strDir + "/DuzeDevazu.log");
    ExpectShownLinesInTheLog(m_session.strScreen, strLog);
    // At most the line the interrupt came in is in the log alone.
    EXPECT_LE(Lines(Render(Crlf(kBanner + strLog))).size(), Lines(Render(m_session.strScreen)).size() + 1);
}

// A run stopped with Ctrl-Z: every stop writes the log's pending lines, and a stopped run that
// is killed in the background (kill %1, kill -HUP %1) ends without stopping itself again.
TEST(TerminalJobs, EveryStopWritesTheLogAndAKilledJobEnds)
{
    PtyStart start;
    start.bAsJob = true;
    PtySession session = StartInPty({kMemoryTestOnZeros}, {{"KYNSIM_MEMORY", "zero"}}, start);
    ASSERT_TRUE(WaitForScreen(session, "Memory error at Address 0x1000 ", 60000)) << session.strScreen;
    for (int nStop = 0; nStop < 4; ++nStop) {
        size_t nMark = session.strScreen.size();
        TypeKeys(session, "\x1a");
        ASSERT_TRUE(WaitForScreen(session, "[stopped]", 60000, nMark)) << nStop;
        // The screen up to this stop, without the shell's lines.
        std::string strShown = session.strScreen.substr(0, session.strScreen.rfind("\r\n[stopped]\r\n"));
        strShown = strShown.substr(strShown.find("\r\n") + 2);
        for (size_t nAt; (nAt = strShown.find("\r\n[stopped]\r\n")) != std::string::npos;)
            strShown.erase(nAt, 13);
        SCOPED_TRACE(nStop);
        ExpectShownLinesInTheLog(strShown, ReadFile(session.strDir + "/DuzeDevazu.log"));
        kill(session.nPid, nStop < 3 ? SIGUSR1 : SIGUSR2);
        usleep(200000);
    }
    EXPECT_EQ(WaitForEnd(session, 60000), 128 + SIGTERM);
    EXPECT_TRUE(TerminalRestored(session));
    ClosePty(session);

    // At a key wait, killed with SIGHUP in the background.
    session = StartInPty({}, {}, start);
    ASSERT_TRUE(WaitForScreen(session, kPrompt, 60000));
    TypeKeys(session, "\x1a");
    ASSERT_TRUE(WaitForScreen(session, "[stopped]", 60000));
    kill(session.nPid, SIGALRM);
    EXPECT_EQ(WaitForEnd(session, 60000), 128 + SIGHUP);
    EXPECT_TRUE(TerminalRestored(session));
    ClosePty(session);
}

// Killed outright at a terminal: every line the screen showed is in the log all the same.
TEST(TerminalKilled, NoLineTheScreenShowedIsLost)
{
    PtySession session = StartInPty({kMemoryTestOnZeros}, {{"KYNSIM_MEMORY", "zero"}});
    ASSERT_TRUE(WaitForScreen(session, "Memory error at Address 0x1000 ", 60000)) << session.strScreen;
    kill(session.nPid, SIGKILL);
    EXPECT_EQ(WaitForEnd(session, 60000), 128 + SIGKILL);
    DrainScreen(session, 100);
    ExpectShownLinesInTheLog(session.strScreen, ReadFile(session.strDir + "/DuzeDevazu.log"));
    ClosePty(session);
}
