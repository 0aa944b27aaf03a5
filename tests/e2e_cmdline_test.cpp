// e2e_cmdline_test.cpp - switches, the usage text, board types by letter, log names, quiet mode and scripted runs.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

const std::string kUsage =
    "\nCommand line switches:\n"
    " /B<boardNo>    : Board number (Default is 0)\n"
    " /T[B|2|T|E|8|P|4|M|S|G|9|F|3|6|H|A|J|C|R|D|I|K|X|Q|V] : Board Type used for the demo, where\n"
    "                    B  = Use Vesk-1-PCI-Basic Board\n"
    "                    2  = Use Vesk-2-PCI Board\n"
    "                    9  = Use Zimbro-PCI Board\n"
    "                    T  = Use Vesk-2-PCI-Plus Board\n"
    "                    E  = Use Vesk-2-PCI-Express Board\n"
    "                    8  = Use Vesk-8-PCI Board\n"
    "                    P  = Use Vesk-8-PCI-Plus Board\n"
    "                    4  = Use Vesk-4-PCI-Plus Board\n"
    "                    M  = Use Vesk-2-PCMCIA Board\n"
    "                    S  = Use Carvanel Board\n"
    "                    G  = Use Sondo-16-PCI-Plus Board\n"
    "                    F  = Use Sondo-16-PCIe Board\n"
    "                    3  = Use Sondo-16-PCI-Basic_32 Board\n"
    "                    6  = Use Sondo-16-PCI-Basic_64 Board\n"
    "                    H  = Use Nolva-2-PC104 Board\n"
    "                    A  = Use Lisk-6-PCI-Plus Board\n"
    "                    J  = Use Lisk-6-PCI Board\n"
    "                    C  = Use Vesk-2-ExpressCard Board\n"
    "                    R  = Use Vesk-4-ExpressCard Board\n"
    "                    D  = Use Dravo-PCI-Express Board\n"
    "                    I  = Use Dravo-4-CSI Board\n"
    "                    K  = Use Dravo-4M-CSI Board\n"
    "                    X  = Use Dravo-8-CSI Board\n"
    "                    Q  = Use Dravo-8M-CSI Board\n"
    "                    V  = Use Dravo-DMP (hosted DMP)\n"
    " /L<fileName>   : Log file name\n"
    " /Z<str>        : Command string (overrides keyboard input)\n"
    " /Q             : Exit without prompting on errors\n";

// Windows limits a whole command line to 32,767 characters.
const size_t kLongArgument = ToolIsWindows() ? 30000 : 100000;

TEST(CommandLine, UnknownSwitchesPrintTheUsageText)
{
    struct {
        std::string strArgument;
        std::string strShown;
    } aCases[] = {
        {"abc", "ABC"},     {"/T", "/T"},         {"/TZ", "/TZ"},   {"/zrq", "/ZRQ"}, {"", ""},
        {"-", "-"},         {"/X", "/X"},         {"-t0", "-T0"},   {"/T5", "/T5"},   {"Lx", "LX"},
        {HostArgument("/\xe4"), "/\xe4"},
        {std::string(kLongArgument, 'x'), std::string(kLongArgument, 'X')},
    };
    for (const auto &c : aCases) {
        // A bad argument after good ones still ends the run, before any log exists.
        std::vector<std::string> aArgs = {"/B3", "-TE", c.strArgument};
        ToolRun run = RunArgs(aArgs);
        SCOPED_TRACE(c.strArgument.substr(0, 20));
        EXPECT_EQ(run.nStatus, 1);
        EXPECT_EQ(run.strConsole, kBanner + ("Error: Unknown command line switch " + c.strShown + "\n") + kUsage);
        EXPECT_FALSE(run.bLogExists);
    }
}

TEST(CommandLine, BoardNumbersReadInEveryBaseAndCase)
{
    struct {
        std::vector<std::string> aArgs;
        const char *pszShown;
    } aCases[] = {
        {{"/b3"}, "3"},        {{"-B3"}, "3"},          {{"/B0x3"}, "3"},        {{"/B"}, "0"},
        {{"/B010"}, "8"},      {{"/B08"}, "0"},         {{"/B-1"}, "-1"},        {{"/B4294967296"}, "-1"},
        {{"/B  7x"}, "7"},     {{"/B3", "/B5"}, "5"},   {{"/Bquiet"}, "0"},      {{"/B2147483648"}, "-2147483648"},
    };
    for (const auto &c : aCases) {
        ToolRun run = RunArgs(c.aArgs, "y");
        SCOPED_TRACE(c.aArgs.back());
        EXPECT_EQ(run.strLog.substr(0, run.strLog.find("Library")),
                  std::string("Log file is  DuzeDevazu.log\nBoard number ") + c.pszShown + "\n");
    }
    // The board number reaches the library: board 3 of four is opened.
    ToolRun run = RunArgs({"/b3"}, "q", {{"KYNSIM_BOARDS", "4"}});
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.strLog.find("Board Serial Number: KS-006-04714\n"), std::string::npos) << run.strLog;
}

struct BoardCase {
    char cLetter;
    unsigned nCode;
    const char *pszOpening;
    bool bBridge;
};

const BoardCase kBoards[] = {
    {'2', 6, "Opening Vesk-2-PCI board\n", true},
    {'M', 7, "Opening Vesk-2-PCMCIA board\n", true},
    {'8', 30, "Opening Vesk-8-PCI board\n", true},
    {'9', 32, "Opening Zimbro-PCI board\n", true},
    {'G', 33, "Opening Sondo-16-PCI-Plus board\n", true},
    {'B', 35, "Opening Vesk-1-PCI-Basic board\n", true},
    {'P', 39, "Opening Vesk-8-PCI-Plus board\n", true},
    {'T', 40, "Opening Vesk-2-PCI-Plus board\n", true},
    {'S', 41, "Opening Carvanel board\n", true},
    {'4', 45, "Opening Vesk-4-PCI-Plus board\n", true},
    {'1', 46, "Opening Vesk-1-PCI-Plus board\n", true},
    {'A', 47, "Opening Lisk-6x6-PCI-Plus board\n", true},
    {'J', 48, "Opening Lisk-6x6-PCI board\n", true},
    {'H', 53, "Opening Nolva-2-PC104 board\n", true},
    {'3', 54, "Opening Sondo-16-PCI-Basic-32 board\n", true},
    {'6', 55, "Opening Sondo-16-PCI-Basic-64 board\n", true},
    {'E', 57, "Opening Vesk-2-PCI-Express board\n", true},
    {'C', 60, "Opening Vesk-2-ExpressCard board\n", true},
    {'R', 61, "Opening Vesk-4-ExpressCard board\n", true},
    {'V', 67, "Opening DMP Dravo (hosted DMP)\n", false},
    {'D', 68, "Opening Dravo-PCI-Express board\n", true},
    {'I', 69, "Opening Dravo-4-CSI board\n", false},
    {'K', 70, "Opening Dravo-4M-CSI board\n", false},
    {'X', 71, "Opening Dravo-8-CSI board\n", false},
    {'Q', 72, "Opening Dravo-8M-CSI board\n", false},
    {'F', 75, "Opening Sondo-16-PCIe board\n", true},
};

void PrintTo(const BoardCase &board, std::ostream *pStream)
{
    *pStream << "code " << board.nCode;
}

class BoardTypes : public ::testing::TestWithParam<BoardCase> {};

TEST_P(BoardTypes, OpensItsBoardAndAnswersTheBridgeCommands)
{
    const BoardCase &board = GetParam();
    char cLower = (char)tolower(board.cLetter);
    ToolRun run = RunArgs({std::string("/t") + cLower}, board.bBridge ? "p\nS\n\nP" : "pSP");
    char szText[512];
    std::string strExpected = "Log file is  DuzeDevazu.log\nBoard number 0\n" + LibraryLine() +
                              "Connecting lib...\n"
                              "Driver version 4.12.0 (simulated driver)\n"
                              "Get Handle to the board device...\n";
    strExpected += board.pszOpening;
    strExpected += "Board Device Handle = 0x00000020\n";
    if (board.bBridge)
        strExpected += "Plx Device Handle = 0x00000021\n";
    snprintf(szText, sizeof szText,
             "Read Serial Number to the board device...\n"
             "Board Serial Number: KS-%03u-04711\n"
             "Board Build Number: 2.%u.1207\n",
             board.nCode, board.nCode % 10);
    strExpected += szText;
    if (board.nCode != 7) {
        snprintf(szText, sizeof szText,
                 "CPLD Build:\n  Main CPLD: rev 3.%u (2026-02-11)\n  I/O CPLD:  rev 1.8 (2025-09-30)\n",
                 board.nCode % 10);
        strExpected += szText;
    }
    strExpected += "\nPress 'h' for help\n";
    std::string strStart = strExpected;
    if (!board.bBridge) {
        strExpected += "No Plx device on this board\nNo Plx device on this board\nNo Plx device on this board\n";
        EXPECT_EQ(run.strLog, strExpected);
    } else {
        EXPECT_EQ(run.strLog.substr(0, strStart.size()), strStart);
        EXPECT_NE(run.strLog.find("Read from a 32-bit register in the PCI Bridge device.\n"
                                  "Which Address (0x0): Plx Address 0x0 = 0x91541D8E (-1856758386 decimal)\n"),
                  std::string::npos);
        EXPECT_NE(run.strLog.find("Plx Address 0x1FC = 0x00000000 (0 decimal)\n"), std::string::npos);
    }
    EXPECT_EQ(run.strConsole, kBanner + run.strLog);
    EXPECT_EQ(run.nStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, BoardTypes, ::testing::ValuesIn(kBoards),
                         [](const ::testing::TestParamInfo<BoardCase> &info) {
                             return "Code" + std::to_string(info.param.nCode);
                         });

TEST(CommandLine, OnlyTheThirdCharacterOfTNamesTheType)
{
    for (const char *pszArgument : {"/tq", "/TQX", "-tQuiet"}) {
        ToolRun run = RunArgs({pszArgument}, "q");
        EXPECT_NE(run.strLog.find("Opening Dravo-8M-CSI board\n"), std::string::npos) << pszArgument;
    }
    ToolRun run = RunArgs({"/TE", "/T2"}, "q");
    EXPECT_EQ(run.strLog, StartupLog());
}

TEST(CommandLine, LogFileNames)
{
    ToolCase toolCase;
    toolCase.aArgs = {"/Lmylog.txt"};
    toolCase.strLogName = "MYLOG.TXT";
    toolCase.strInput = "q";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, StartupLog("MYLOG.TXT"));

    toolCase.aArgs = {"/LOG.TXT"};
    toolCase.strLogName = "OG.TXT";
    EXPECT_EQ(RunDuze(toolCase).strLog, StartupLog("OG.TXT"));

    run = RunArgs({"/L"});
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strConsole, std::string(kBanner) + "Couldn't open logfile \nNo such file or directory\n");
}

TEST(CommandLine, LogFileNameLimit)
{
    // 259 characters through two directories the run makes first.
    std::string strDir1(100, 'A'), strDir2 = strDir1 + "/" + std::string(100, 'B');
    std::string strName = strDir2 + "/" + std::string(57, 'C');
    ASSERT_EQ(strName.size(), 259u);
    ToolCase toolCase;
    toolCase.aMakeDirs = {strDir1, strDir2};
    toolCase.aArgs = {"/L" + strName};
    toolCase.strLogName = strName;
    toolCase.strInput = "q";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, StartupLog(strName));

    toolCase.aArgs = {"/L" + strName + "D"};
    toolCase.strLogName = strName + "D";
    run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strConsole, std::string(kBanner) + "Error: Log file name is 260 characters long, at most 259 are allowed\n");
    EXPECT_FALSE(run.bLogExists);

    // The limit is the last /L's: a later one replaces a name that was too long.
    toolCase.aArgs = {"/L" + strName + "D", "/Lok.log"};
    toolCase.strLogName = "OK.LOG";
    run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, StartupLog("OK.LOG"));
}

TEST(CommandLine, QuietModeEndsAtTheFirstFailedCall)
{
    for (const char *pszArgument : {"/Q", "-q", "/QUIET"}) {
        ToolRun run = RunArgs({pszArgument}, "R2\nq");
        SCOPED_TRACE(pszArgument);
        EXPECT_EQ(run.nStatus, 1);
        EXPECT_EQ(run.strLog, StartupLog() + "Read from a 32-bit register in the KYN Board device.\n"
                                             "Which Address (0x0): "
                                             "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the "
                                             "access width. \n");
    }
    ToolRun run = RunArgs({"/Q"}, "", {{"KYNSIM_CONNECT", "-1"}});
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strLog.substr(run.strLog.find("Connecting")), "Connecting lib...\nERROR(0XFF [255.32767]) \n");
}

TEST(CommandLine, CommandStringsRunBeforeTheKeyboardWithTheirCaseKept)
{
    struct {
        std::vector<std::string> aArgs;
        std::string strInput;
        int nStatus;
        std::string strAfterStartup;
    } aCases[] = {
        // Case kept; the q is read as r's address line, then input ends: the run ends as by quit.
        {{"/Zrq"}, "", 0, "Read from a 8-bit register in the KYN Board device.\nWhich Address (0x0): "
                          "Brd Address 0x0 = 0x00 (0 decimal)\n"},
        {{"xZrq"}, "", 0, "Read from a 8-bit register in the KYN Board device.\nWhich Address (0x0): "
                          "Brd Address 0x0 = 0x00 (0 decimal)\n"},
        {{"/Z"}, "hq", 0, "Cmd  Synopsis\n"},
        {{"-ZR0x10;W0x10;0xFF;R;q", "/Zq"}, "", 0, ""},
        {{"-ZR0x10;W0x10;0xFF;R;q"}, "", 0,
         "Read from a 32-bit register in the KYN Board device.\n"
         "Which Address (0x0): Brd Address 0x10 = 0x00000000 (0 decimal)\n"
         "Write to a 32-bit register in the KYN board device.\n"
         "Which Address (0x0): Which Value (0x0): Wrote 000000FF to Brd Address 0x10\n"
         "Read from a 32-bit register in the KYN Board device.\n"
         "Which Address (0x10): Brd Address 0x10 = 0x000000FF (255 decimal)\n"},
        // Lines end at LF, CR, CR LF (once) and ';'; the rest comes from standard input.
        {{"-ZR4\nR\r\nR8\rR"}, "12\nq",  0,
         "Read from a 32-bit register in the KYN Board device.\n"
         "Which Address (0x0): Brd Address 0x4 = 0x00000000 (0 decimal)\n"
         "Read from a 32-bit register in the KYN Board device.\n"
         "Which Address (0x4): Brd Address 0x4 = 0x00000000 (0 decimal)\n"
         "Read from a 32-bit register in the KYN Board device.\n"
         "Which Address (0x4): Brd Address 0x8 = 0x00000000 (0 decimal)\n"
         "Read from a 32-bit register in the KYN Board device.\n"
         "Which Address (0x8): Brd Address 0xC = 0x00000000 (0 decimal)\n"},
        // The exit question takes its answer from the script like any other key.
        {{"-ZR3;nR3;y"}, "q", 1,
         "Read from a 32-bit register in the KYN Board device.\nWhich Address (0x0): "
         "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n"
         "Do you want to exit (Y/N) Brd Address 0x3 = 0x00000000 (0 decimal)\n"
         "Read from a 32-bit register in the KYN Board device.\nWhich Address (0x3): "
         "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n"
         EXPECTED_QUESTION},
    };
    for (auto &c : aCases) {
        ToolRun run = RunArgs(c.aArgs, c.strInput);
        SCOPED_TRACE(c.aArgs[0]);
        EXPECT_EQ(run.nStatus, c.nStatus);
        if (c.aArgs.size() > 1) {
            // A later Z replaces the earlier command string.
            EXPECT_EQ(run.strLog, StartupLog()) << run.strLog;
            continue;
        }
        if (c.aArgs[0] == "/Z") {
            EXPECT_EQ(run.strLog.substr(0, StartupLog().size() + 14), StartupLog() + c.strAfterStartup);
            continue;
        }
        EXPECT_EQ(run.strLog, StartupLog() + c.strAfterStartup);
        EXPECT_EQ(run.strConsole, kBanner + StartupLog() + c.strAfterStartup);
    }
}

// Runs for scripts: read values alone on standard output, failures on standard error, no log
// unless one is named, and the status a script tests.
TEST(CommandLine, OneShotRunsPrintOnlyWhatTheyRead)
{
    const std::string kNotANumber = "not one number of 32 bits (0x hexadecimal, 0 octal, else decimal)\n";
    std::string kSimBridgeDump = "0000:00:00.0 0680: 1d8e:9154 (rev 03)\n"
                                 "00: 8e 1d 54 91 07 00 90 02 03 00 80 06 08 20 00 00\n"
                                 "10: 00 f0 9f fe 01 e0 00 00 00 00 00 fc 00 00 00 00\n"
                                 "20: 00 00 00 00 00 00 00 00 00 00 00 00 8e 1d 54 90\n"
                                 "30: 00 00 00 00 40 00 00 00 00 00 00 00 0b 01 00 00\n"
                                 "40: 01 48 02 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "50: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "60: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "70: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "80: 00 00 ff 03 01 00 00 00 00 00 20 00 00 00 00 00\n"
                                 "90: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "a0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "b0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "c0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "d0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "e0: 00 00 00 00 00 00 00 00 83 04 00 0f 7e 76 0f 10\n"
                                 "f0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "100: 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "110: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "120: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "130: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "140: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "150: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "160: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "170: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "180: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "190: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "1a0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "1b0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "1c0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "1d0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "1e0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                 "1f0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n" "\n";
    struct {
        std::vector<std::string> aArgs;
        std::map<std::string, std::string> env;
        int nStatus;
        std::string strOut, strErr;
    } aCases[] = {
        {{"--write", "0x10=0xDEADBEEF", "--read", "0x10", "--read8", "0x10"}, {}, 0, "0xDEADBEEF\n0xEF\n", ""},
        {{"--write16=0x20=0xBEEF", "--read16=0x20", "/Q", "--write8", "0x21=0x5A", "--read", "040"}, {}, 0,
         "0xBEEF\n0x00005AEF\n", ""},
        {{"--bridge-write", "0x40=0x12345678", "--bridge-read", "8", "--bridge-read", "12"}, {}, 0,
         "0x06800003\n0x00002008\n", ""},
        {{"--read", "0x1O"}, {}, 2, "", "Error: --read '0x1O': the address is " + kNotANumber},
        {{"--read", ""}, {}, 2, "", "Error: --read '': the address is " + kNotANumber},
        {{"--read", "-1"}, {}, 2, "", "Error: --read '-1': the address is " + kNotANumber},
        {{"--read", "0x100000000"}, {}, 2, "", "Error: --read '0x100000000': the address is " + kNotANumber},
        {{"--write8", "0x10=0x100"}, {}, 2, "",
         "Error: --write8 '0x10=0x100': the value is not one number of 8 bits (0x hexadecimal, 0 octal, else decimal)\n"},
        {{"--write16", "0x10"}, {}, 2, "", "Error: --write16 '0x10': not ADDR=VALUE\n"},
        {{"/B3", "--read"}, {}, 2, "", "Error: --read '': needs ADDR\n"},
        {{"--list=all"}, {}, 2, "", "Error: --list 'all': takes no value\n"},
        {{"--decode", "0xFFFFFFFF"}, {}, 0, "0XFF [255.32767]: Cannot translate this result code.\n", ""},
        {{"--decode", "0x80800322"}, {}, 0, "0X22 [1.3]: No such device present.\n", ""},
        {{"--decode", "5"}, {}, 0, "0x00000005 is no failure: results of 0 and above are successes\n", ""},
        {{"--decode", "0x8080032Z"}, {}, 2, "", "Error: --decode '0x8080032Z': not a result code: one number of 32 bits "
         "(0x hexadecimal, 0 octal, else decimal), or as an error line shows it (0X22 [1.3], ERROR(0X80800322 [1.3]) ...)\n"},
        // Every form an error line shows a code in: the reported code and its fields, alone or in the line.
        {{"--decode", "0X22 [1.3]"}, {}, 0, "0X22 [1.3]: No such device present.\n", ""},
        {{"--decode", "ERROR(0X80800322 [1.3])"}, {}, 0, "0X22 [1.3]: No such device present.\n", ""},
        {{"--decode", "ERROR(0X22 [1.3]) Dev(20,6,1): No such device present. "}, {}, 0, "0X22 [1.3]: No such device present.\n", ""},
        {{"--decode", "ERROR(0X8000000B [0.18]) "}, {}, 0, "0X8000000B [0.18]: Cannot translate this result code.\n", ""},
        {{"--decode", "0X80800322 [1.4]"}, {}, 2, "", "Error: --decode '0X80800322 [1.4]': not a result code: one number of 32 bits "
         "(0x hexadecimal, 0 octal, else decimal), or as an error line shows it (0X22 [1.3], ERROR(0X80800322 [1.3]) ...)\n"},
        {{"--decode", "0X22 [256.3]"}, {}, 2, "", "Error: --decode '0X22 [256.3]': not a result code: one number of 32 bits "
         "(0x hexadecimal, 0 octal, else decimal), or as an error line shows it (0X22 [1.3], ERROR(0X80800322 [1.3]) ...)\n"},
        // Failures: the interactive error line, on standard error, and no question.
        {{"--read", "0x4000000", "--read", "0"}, {}, 1, "",
         "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n"},
        {{"--read", "4", "--read", "1"}, {}, 1, "0x00000000\n",
         "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n"},
        {{"/TI", "--bridge-read", "0"}, {}, 1, "", "No Plx device on this board\n"},
        {{"--read", "0"}, {{"KYNSIM_CONNECT", "11"}}, 1, "",
         "Error: Could not connect to the KYN library.\nPossible cause: KYN Driver not loaded\n"},
        // A board that does not open: a script is told what the code means.
        {{"/B1", "--read", "0"}, {}, 1, "", "ERROR(0X22 [1.3]) No such device present. \n"},
        {{"/B1", "--json", "--batch", "-"}, {}, 1, "{\"board_number\":1,\"board_type\":6,\"code\":\"0X22 [1.3]\",\"error\":"
         "\"No such device present.\",\"op\":\"open\",\"result\":-2139094238,\"version\":2}\n",
         "ERROR(0X22 [1.3]) No such device present. \n"},
        {{"--version"}, {}, 0, kBanner, ""},
        // A long option that is none: one line, the nearest option named; options that need an
        // operation, given without one, are refused rather than ignored by the key loop.
        {{"--jsn", "--read", "0"}, {}, 2, "", "Error: unknown option --jsn (did you mean --json?); --help lists every option\n"},
        {{"--xyzzy=1"}, {}, 2, "", "Error: unknown option --xyzzy; --help lists every option\n"},
        {{"--json"}, {}, 2, "", "Error: --json applies to operations (--read, --write, --dump, --memtest, --batch, ...) and none "
                                "is given; --help lists them\n"},
        {{"--patterns", "solid", "/Zq"}, {}, 2, "", "Error: --patterns applies to operations (--read, --write, --dump, --memtest, "
                                                    "--batch, ...) and none is given; --help lists them\n"},
        {{"--write", "0x10=7", "--sleep", "1", "--read", "0x10"}, {}, 0, "0x00000007\n", ""},
        {{"--names", "bridge"}, {}, 2, "", "Error: --names bridge needs the bridge's register map (--bridge-map or "
                                           "DUZE_BRIDGE_MAP)\n"},
        {{"--names", "x"}, {}, 2, "", "Error: --names 'x': not board or bridge\n"},
        // The simulated library says nothing of its bridge's place (slot 0), its size is its 512 bytes of registers.
        {{"--bridge-hexdump"}, {}, 0, kSimBridgeDump, ""},
        // A shipped map by its short name.
        {{"--bridge-map", "pci-config", "--bridge-read", "PCI.ID", "--fields"}, {}, 0,
         "0x91541D8E\n  PCI.ID: VENDOR_ID=0x1D8E DEVICE_ID=0x9154\n", ""},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.aArgs[0] + " " + (c.aArgs.size() > 1 ? c.aArgs[1] : ""));
        ToolRun run = RunArgs(c.aArgs, "", c.env);
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strConsole, c.strOut);
        EXPECT_EQ(run.strError, c.strErr);
        EXPECT_FALSE(run.bLogExists);
    }
}

// A named log gets the start-up and each access as the key's command prints it; --log keeps case.
TEST(CommandLine, OneShotLogAndBoardList)
{
    ToolCase toolCase;
    toolCase.aArgs = {"--log", "Mixed.Log", "--write8", "0x10=0x5A", "--read8", "0x10"};
    toolCase.strLogName = "Mixed.Log";
    ToolRun run = RunDuze(toolCase);
    std::string strStartup = StartupLog("Mixed.Log");
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strConsole, "0x5A\n");
    EXPECT_EQ(run.strLog, strStartup.substr(0, strStartup.size() - strlen("\nPress 'h' for help\n")) +
                              "Write to a 8-bit register in the KYN board device.\nWrote 5A to Brd Address 0x10\n"
                              "Read from a 8-bit register in the KYN Board device.\n"
                              "Brd Address 0x10 = 0x5A (90 decimal)\n");

    run = RunArgs({"--list"}, "", {{"KYNSIM_BOARDS", "6:2"}});
    std::vector<std::string> aLines = Lines(run.strConsole);
    EXPECT_EQ(run.nStatus, 0);
    ASSERT_EQ(aLines.size(), 27u);
    EXPECT_EQ(aLines[0], "2  6  Vesk-2-PCI board                    0  serial KS-006-04711");
    EXPECT_EQ(aLines[1], "2  6  Vesk-2-PCI board                    1  serial KS-006-04712");
    EXPECT_EQ(aLines[26], "F 75  Sondo-16-PCIe board                 0  serial KS-075-04711");
    EXPECT_FALSE(run.bLogExists);
    // A named log gets the list too, after the start-up.
    ToolCase listCase;
    listCase.aArgs = {"--list", "--log", "list.log"};
    listCase.strLogName = "list.log";
    listCase.env = {{"KYNSIM_BOARDS", "*:0,6:1"}};
    run = RunDuze(listCase);
    EXPECT_EQ(run.strConsole, "2  6  Vesk-2-PCI board                    0  serial KS-006-04711\n");
    EXPECT_EQ(run.strLog.substr(run.strLog.find("Driver version")),
              "Driver version 4.12.0 (simulated driver)\n2  6  Vesk-2-PCI board                    0  serial KS-006-04711\n");
    run = RunArgs({"--list"}, "", {{"KYNSIM_BOARDS", "*:0"}, {"KYNSIM_FAIL", "GetAttributeValueSz:0x80800405@0x20"}});
    EXPECT_EQ(run.strConsole, "");
    EXPECT_EQ(run.strError, "No board of any type opens\n");
}

TEST(CommandLine, HelpListsSwitchesLongOptionsSettingsAndStatuses)
{
    ToolRun run = RunArgs({"/B3", "--help", "/X"});
    EXPECT_EQ(run.nStatus, 0);
    std::string strHead = "Usage: duzedevazu [switches] [long options]\n" + kUsage;
    EXPECT_EQ(run.strConsole.substr(0, strHead.size()), strHead);
    for (const char *pszPart : {" --bridge-write ADDR=VALUE : write a 32-bit PCI bridge register\n",
                                "\n DUZE_MAP         the board's register map", "\nExit status:\n",
                                " 3      a memory test found errors\n"})
        EXPECT_NE(run.strConsole.find(pszPart), std::string::npos) << pszPart;
    // The simulated library's settings, where the program carries it.
    if (LibraryLine().find("libkynhwsim.a") != std::string::npos) {
        EXPECT_NE(run.strConsole.find(" KYNSIM_BOARDS    boards present"), std::string::npos);
    }
    EXPECT_EQ(run.strError, "");
    EXPECT_FALSE(run.bLogExists);
}

} // namespace
