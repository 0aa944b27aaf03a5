// pty_test.cpp - the tool at a real terminal: keys without echo, line editing, long lines, interrupts, settings restored.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "e2e_harness.h"
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
    ASSERT_TRUE(WaitForScreen(m_session, " M   Memory Read/Write Test.\r\n", 10000, nMark)) << m_session.strScreen;
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
    TypeKeys(m_session, "Q");
    EXPECT_EQ(WaitForEnd(m_session), 0);
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
    ASSERT_TRUE(WaitForScreen(m_session, "Do you want to exit (Y/N) "));
    DrainScreen(m_session, 50);
    // The question waits: the log holds everything shown but the typed answer's echo.
    std::string strShown = m_session.strScreen;
    strShown.replace(strShown.find("Which Address (0x0): 3\r\n"), 24, "Which Address (0x0): ");
    EXPECT_EQ(Crlf(kBanner + Log()), strShown);
    TypeKeys(m_session, "y");
    EXPECT_EQ(WaitForEnd(m_session), 1);
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
    const std::string kUnknown = "Unknown command. Press '?' for help, 'q' to quit\n";
    StartAndWaitForKeys();
    // Page Down, Down, Right, Up, F1, Ctrl-Left, F12; then a lone Escape.
    TypeKeys(m_session, "\x1b[6~\x1b[B\x1b[C\x1b[A\x1bOP\x1b[1;5D\x1b[24~");
    ASSERT_TRUE(WaitUntilReading(m_session));
    TypeKeys(m_session, "\x1b");
    usleep(100000);
    TypeKeys(m_session, "R\x1b[D4\rR3\r\x1b[B");
    ASSERT_TRUE(WaitForScreen(m_session, "Brd Address 0x3 = 0x00000000 (0 decimal)\r\n")) << m_session.strScreen;
    std::string strUnknowns;
    for (int i = 0; i < 8; ++i)
        strUnknowns += kUnknown;
    EXPECT_EQ(Log(), StartupLog() + strUnknowns +
                         "Read from a 32-bit register in the KYN Board device.\n"
                         "Which Address (0x0): Brd Address 0x4 = 0x00000000 (0 decimal)\n"
                         "Read from a 32-bit register in the KYN Board device.\n"
                         "Which Address (0x4): ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to "
                         "the access width. \nDo you want to exit (Y/N) Brd Address 0x3 = 0x00000000 (0 decimal)\n");
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 0);
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

class Interrupt : public Terminal, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(Interrupt, EndsPromptlyWithTheTerminalRestoredAndTheLogComplete)
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
    EXPECT_EQ(WaitForEnd(m_session, 5000), 128 + c.nSignal);
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
    Waits, Interrupt,
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
    EXPECT_EQ(WaitForEnd(m_session, 5000), 128 + SIGINT);
    EXPECT_TRUE(TerminalRestored(m_session));
    std::string strLogShown = Crlf(kBanner + ReadFile(m_session.strDir + "/DuzeDevazu.log"));
    EXPECT_EQ(strLogShown.substr(0, m_session.strScreen.size()), m_session.strScreen);
}

// A mismatch early in a long read pass is on the screen and in the log as soon as it is
// found, and stays there when the run is interrupted before the pass ends.
TEST_F(Terminal, AMismatchShowsAsSoonAsItsWordIsCompared)
{
    Start({"-ZM0;0x10000000;n"}, {{"KYNSIM_MEMORY", "address"}, {"KYNSIM_FAIL", "ReadReg32:-1@0x8"}});
    const std::string kLine = "Memory error at Address 0x8   (nReadVal(0x4) != nWriteVal(0x8))\n";
    ASSERT_TRUE(WaitForScreen(m_session, Crlf(kLine))) << m_session.strScreen;
    kill(m_session.nPid, SIGINT);
    EXPECT_EQ(WaitForEnd(m_session, 5000), 128 + SIGINT);
    std::string strLog = ReadFile(m_session.strDir + "/DuzeDevazu.log");
    EXPECT_EQ(strLog.substr(strLog.size() - kLine.size()), kLine);
    EXPECT_EQ(m_session.strScreen.find("Memory test finished"), std::string::npos);
}

TEST_F(Terminal, ALogPastTheFileSizeLimitSaysSoAndTheRunGoesOn)
{
    m_session = StartInPty({}, {}, 800); // the start-up lines fit, the help text does not
    ASSERT_TRUE(WaitForScreen(m_session, kPrompt));
    TypeKeys(m_session, "hR\r");
    ASSERT_TRUE(WaitForScreen(m_session, "Brd Address 0x0 = 0x00000000 (0 decimal)\r\n")) << m_session.strScreen;
    EXPECT_NE(m_session.strScreen.find(" M   Memory Read/Write Test.\r\n"
                                       "Error: Writing log file DuzeDevazu.log failed: File too large\r\n"
                                       "Read from a 32-bit register"),
              std::string::npos)
        << m_session.strScreen;
    TypeKeys(m_session, "q");
    EXPECT_EQ(WaitForEnd(m_session), 255);
    EXPECT_TRUE(TerminalRestored(m_session));
    EXPECT_EQ(ReadFile(m_session.strDir + "/DuzeDevazu.log").size(), 800u);
}

} // namespace
