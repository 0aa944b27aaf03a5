// e2e_startup_test.cpp - start-up, connect results, failed calls and the exit question, end of input, the log file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

const std::string kLibraryLines = "Log file is  DuzeDevazu.log\nBoard number 0\n" + LibraryLine() + "Connecting lib...\n";

TEST(Startup, DefaultBoardThenQuit)
{
    for (const char *pszKey : {"q", "Q"}) {
        ToolCase toolCase;
        toolCase.strInput = pszKey;
        ExpectRun(RunDuze(toolCase), 0, StartupLog());
    }
}

TEST(Startup, EndOfInputAtTheKeyPromptEndsLikeQuit)
{
    ExpectRun(RunDuze(ToolCase{}), 0, StartupLog());
}

TEST(Startup, ConnectCodesForMissingOrMismatchedDriverEndTheRun)
{
    struct {
        const char *pszConnect;
        const char *pszMessage;
    } aCases[] = {
        {"11", "Error: Could not connect to the KYN library.\nPossible cause: KYN Driver not loaded\n"},
        {"0x0000120B", "Error: Could not connect to the KYN library.\nPossible cause: KYN Driver not loaded\n"},
        {"17", "Error: Mismatch between KYN Driver revision and KYN Library revision.\nRevisions must match.\n"},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase;
        toolCase.env["KYNSIM_CONNECT"] = c.pszConnect;
        toolCase.strInput = "q";
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszConnect);
        ExpectRun(run, 1, kLibraryLines + c.pszMessage);
    }
}

TEST(Startup, ConnectSuccessCodesOtherThan11And17GoOn)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_CONNECT"] = "0x0000000C";
    toolCase.strInput = "q";
    ExpectRun(RunDuze(toolCase), 0, StartupLog());
}

TEST(Startup, ReportedCodeFormsOfFailedConnect)
{
    struct {
        const char *pszConnect;
        const char *pszError;
    } aCases[] = {
        {"0x8000000B", "ERROR(0X8000000B [0.0]) \n"},
        {"0x8000120B", "ERROR(0X8000000B [0.18]) \n"},
        {"0x8180C82F", "ERROR(0X2F [3.200]) \n"},
        {"-1", "ERROR(0XFF [255.32767]) \n"},
        {"0x8000001D", "ERROR(0X8000001D [0.0]) \n"},
        {"0x8000001E", "ERROR(0X1E [0.0]) \n"},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase;
        toolCase.env["KYNSIM_CONNECT"] = c.pszConnect;
        toolCase.strInput = "y";
        SCOPED_TRACE(c.pszConnect);
        ExpectRun(RunDuze(toolCase), 1, kLibraryLines + c.pszError + EXPECTED_QUESTION);
    }
}

// Without a connection every later call fails; answering no each time reaches the key loop.
TEST(Startup, FailedConnectAnsweredNoGoesOn)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_CONNECT"] = "0x8000000B";
    toolCase.strInput = "nN\r \nxnnnq";
    // Each board text asks for its type and then, with the size that left, its value: two failures.
    const std::string strNotConnected =
        "ERROR(0X8000000C [1.1]) Dev(0,999,999): The library is not connected to the KYN driver. \n"
        EXPECTED_QUESTION
        "ERROR(0X8000000C [1.1]) Dev(0,999,999): The library is not connected to the KYN driver. \n"
        EXPECTED_QUESTION;
    ExpectRun(RunDuze(toolCase), 0,
              kLibraryLines +
                  "ERROR(0X8000000B [0.0]) \nDo you want to exit (Y/N) "
                  "ERROR(0X8000000C [1.1]) \nDo you want to exit (Y/N) Driver version \n"
                  "Get Handle to the board device...\n"
                  "Opening Vesk-2-PCI board\n"
                  "ERROR(0X8000000C [1.1]) \nDo you want to exit (Y/N) "
                  "Board Device Handle = 0x00000000\n"
                  "Plx Device Handle = 0x00000000\n"
                  "Read Serial Number to the board device...\n" +
                  strNotConnected + "Board Serial Number: \n" + strNotConnected + "Board Build Number: \n" +
                  strNotConnected + "CPLD Build:\n\nPress 'h' for help\n");
}

TEST(Startup, FailedCallAnsweredYesEndsWithStatus1)
{
    // The answer is a key's low 16 bits: 0x10079 is a 'y', 0x179 (below) is none.
    for (const char *pszAnswer : {"y", "Y", "0x10079"}) {
        ToolCase toolCase;
        toolCase.env["KYNSIM_FAIL"] = "GetAttributeValueSz:0x80800223@10";
        if (pszAnswer[0] == '0')
            toolCase.env["KYNSIM_KEYS"] = pszAnswer;
        else
            toolCase.strInput = pszAnswer;
        std::string strStartup = StartupLog();
        std::string strHead = strStartup.substr(0, strStartup.find("Board Build Number"));
        ExpectRun(RunDuze(toolCase), 1,
                  strHead + "ERROR(0X23 [1.2]) Dev(20,6,0): The object has no such attribute. \n"
                            EXPECTED_QUESTION);
    }
}

TEST(Startup, FailedBoardTextAnsweredNoShowsEmptyText)
{
    for (const char *pszKeys : {"", "0x179"}) {
        ToolCase toolCase;
        toolCase.env["KYNSIM_FAIL"] = "GetAttributeValueSz:0x80800223@10";
        if (*pszKeys != '\0')
            toolCase.env["KYNSIM_KEYS"] = pszKeys;
        toolCase.strInput = *pszKeys != '\0' ? "q" : "nq";
        std::string strLog = StartupLog();
        strLog.replace(strLog.find("Board Build Number: 2.6.1207\n"), 29,
                       "ERROR(0X23 [1.2]) Dev(20,6,0): The object has no such attribute. \n"
                       "Do you want to exit (Y/N) Board Build Number: \n");
        ExpectRun(RunDuze(toolCase), 0, strLog);
    }
}

// Handles with hex letters show them in upper case, in the handle lines and the error report.
TEST(Startup, HandlesWithHexLetters)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_HANDLES"] = "0xABC0";
    toolCase.env["KYNSIM_FAIL"] = "GetAttributeValueSz:0x80800223@10";
    toolCase.strInput = "nq";
    std::string strLog = StartupLog();
    strLog.replace(strLog.find("0x00000020"), 10, "0x0000ABC0");
    strLog.replace(strLog.find("0x00000021"), 10, "0x0000ABC1");
    strLog.replace(strLog.find("Board Build Number: 2.6.1207\n"), 29,
                   "ERROR(0X23 [1.2]) Dev(ABC0,6,0): The object has no such attribute. \n"
                   "Do you want to exit (Y/N) Board Build Number: \n");
    ExpectRun(RunDuze(toolCase), 0, strLog);
}

// Every way out ends the console, and releases the library where it must, in its order;
// the identity queries hand the library their buffers' sizes.
TEST(Startup, EveryWayOutEndsTheConsoleAndReleasesInItsOrder)
{
    const std::string kReleaseThenEnd = "ReleaseLib() = 0\nConsoleExit()\n";
    struct {
        const char *pszName;
        std::vector<std::string> aArgs;
        std::map<std::string, std::string> env;
        std::string strInput;
        int nStatus;
        std::string strCalls; // after ConsoleInit() and the connect
    } aCases[] = {
        {"quit", {}, {}, "q", 0, kReleaseThenEnd},
        {"end of input", {}, {}, "", 0, kReleaseThenEnd},
        {"yes", {}, {{"KYNSIM_FAIL", "ReadReg32:-1"}}, "R\ny", 1, kReleaseThenEnd},
        {"quiet", {"/Q"}, {{"KYNSIM_FAIL", "ReadReg32:-1"}}, "R\n", 1, kReleaseThenEnd},
        {"cut-off command", {}, {}, "R", 1, kReleaseThenEnd},
        {"connect 11", {}, {{"KYNSIM_CONNECT", "11"}}, "", 1, "ConsoleExit()\nReleaseLib() = 0\n"},
        {"connect 17", {}, {{"KYNSIM_CONNECT", "17"}}, "", 1, "ConsoleExit()\nReleaseLib() = 0\n"},
        {"unknown switch", {"abc"}, {}, "", 1, "ConsoleExit()\n"},
        {"log not opened", {"/L"}, {}, "", 255, "ConsoleExit()\n"},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase;
        toolCase.aArgs = c.aArgs;
        toolCase.env = c.env;
        toolCase.env["KYNSIM_TRACE"] = "trace.txt";
        toolCase.aReadFiles = {"trace.txt"};
        toolCase.strInput = c.strInput;
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, c.nStatus);
        std::string strCalls = TraceCalls(run, {"Console", "ConnectLib", "ReleaseLib"});
        std::string strStart = "ConsoleInit()\n";
        if (strCalls.find("ConnectLib") != std::string::npos)
            strStart += strCalls.substr(strStart.size(), strCalls.find('\n', strStart.size()) + 1 - strStart.size());
        EXPECT_EQ(strCalls, strStart + c.strCalls);
    }
    ToolCase toolCase;
    toolCase.env["KYNSIM_TRACE"] = "trace.txt";
    toolCase.aReadFiles = {"trace.txt"};
    std::string strQueries = TraceCalls(RunDuze(toolCase), {"GetAttributeValueSz"});
    EXPECT_EQ(strQueries.substr(0, strQueries.find("(0x20")),
              "GetAttributeValueSz(0xfffffffe, 9, 255) = 0\nGetAttributeValueSz(0xfffffffe, 11, 64) = 0\n"
              "GetAttributeValueSz(0, 9, 255) = 0\nGetAttributeValueSz");
    // A trace to a device (the null device) is written, not emptied.
    toolCase.env["KYNSIM_TRACE"] = "/dev/null";
    toolCase.strInput = "q";
    ExpectSession(RunDuze(toolCase), 0, "");
}

TEST(Startup, DeviceWithoutTypeAndNumberAttributesShows999)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_NO_ATTR"] = "board:2,board:3,board:9";
    toolCase.strInput = "nnq";
    std::string strLog = StartupLog();
    const std::string kNoAttr = "ERROR(0X23 [1.2]) Dev(20,999,999): The object has no such attribute. \n"
                                EXPECTED_QUESTION;
    strLog.replace(strLog.find("Board Serial Number: KS-006-04711\n"), 34, kNoAttr + kNoAttr + "Board Serial Number: \n");
    ExpectRun(RunDuze(toolCase), 0, strLog);
}

TEST(Startup, ResultCodesWithoutText)
{
    struct {
        const char *pszFail;
        const char *pszNoText;
        const char *pszError;
    } aCases[] = {
        {"GetAttributeType:0x8ABCDE55@9", nullptr, "ERROR(0X55 [21.15582]) Dev(20,6,0)"},
        {"GetAttributeType:0x80800223@9", "all", "ERROR(0X23 [1.2]) Dev(20,6,0)"},
        {"GetAttributeType:0x80800223@9", "0x80800223", "ERROR(0X23 [1.2]) Dev(20,6,0)"},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase;
        toolCase.env["KYNSIM_FAIL"] = c.pszFail;
        if (c.pszNoText != nullptr)
            toolCase.env["KYNSIM_NO_TEXT"] = c.pszNoText;
        toolCase.strInput = "nnq";
        // The value query follows with size 0, which the library refuses as an invalid parameter.
        std::string strLog = StartupLog();
        strLog.replace(strLog.find("Board Serial Number: KS-006-04711\n"), 34,
                       std::string(c.pszError) +
                           ": Cannot translate this result code. \n"
                           EXPECTED_QUESTION + (c.pszNoText != nullptr && std::string(c.pszNoText) == "all" ?
                           "ERROR(0X80000006 [1.1]) Dev(20,6,0): Cannot translate this result code. \n" :
                           "ERROR(0X80000006 [1.1]) Dev(20,6,0): Invalid parameter (null pointer or zero size). \n") +
                           "Do you want to exit (Y/N) Board Serial Number: \n");
        SCOPED_TRACE(c.pszFail);
        ExpectRun(RunDuze(toolCase), 0, strLog);
    }
}

TEST(Startup, EndOfInputAtTheQuestionEndsWithStatus1)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_CONNECT"] = "0x8000000B";
    ExpectRun(RunDuze(toolCase), 1, kLibraryLines + "ERROR(0X8000000B [0.0]) \nDo you want to exit (Y/N) ");
}

TEST(Startup, LibraryIdentityFailuresShowEmptyTexts)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_NO_ATTR"] = "library:9,library:11,library:12,driver:9";
    toolCase.strInput = "nnnnq";
    const std::string strMissing = "ERROR(0X23 [1.2]) \nDo you want to exit (Y/N) ";
    std::string strLog = StartupLog();
    strLog.replace(strLog.find("Library version"), strLog.find("Get Handle") - strLog.find("Library version"),
                   strMissing + strMissing + strMissing + "Library version  (filename , dynamic linked)\n" +
                       "Connecting lib...\n" + strMissing + "Driver version \n");
    ExpectRun(RunDuze(toolCase), 0, strLog);
}

TEST(Startup, UnopenableLogFileEndsWithStatusMinus1)
{
    ToolCase toolCase;
    toolCase.aMakeDirs = {"DuzeDevazu.log"};
    toolCase.strInput = "q";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strConsole, std::string(kBanner) + "Couldn't open logfile DuzeDevazu.log\n" +
                                  (ToolIsWindows() ? "Permission denied\n" : "Is a directory\n"));
    // Out of descriptors: the system's reason too.
    if (ToolIsWindows())
        return;
    toolCase.aMakeDirs.clear();
    toolCase.inChild = [] {
        // As from a shell: the standard three open, the test runner's others not.
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        struct rlimit limit = {4, 4};
        setrlimit(RLIMIT_NOFILE, &limit);
    };
    run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_EQ(run.strConsole, std::string(kBanner) + "Couldn't open logfile DuzeDevazu.log\nToo many open files\n");
}

TEST(Startup, MalformedSimulatorSettingStopsTheRunNamingIt)
{
    struct {
        const char *pszName;
        const char *pszValue;
        const char *pszWhy;
        bool bFifo = false; // the value names a FIFO that nobody reads (POSIX only)
        const char *pszSpy = nullptr; // a setting of the preloaded host spy (POSIX only)
    } aCases[] = {
        {"KYNSIM_CONNECT", "eleven", "'eleven' is not a 32-bit result code"},
        {"KYNSIM_FAIL", "ReadReg32", "'ReadReg32' is not OPERATION:RESULT[@MATCH|#CALL]"},
        {"KYNSIM_FAIL", "ReadReg64:-1", "unknown operation 'ReadReg64'"},
        {"KYNSIM_FAIL", "ReadReg32:5", "'5' is not a negative 32-bit result code"},
        {"KYNSIM_FAIL", "ReadReg32:-1#0", "'0' is not a call number from 1"},
        {"KYNSIM_NO_ATTR", "card:2", "'card:2' is not OBJECT:ID with OBJECT library, driver, board or bridge"},
        {"KYNSIM_MEMORY", "stuck-high=0xZZ", "'stuck-high=0xZZ' is not ok, zero, address, stuck-high=MASK or stuck-low=MASK"},
        {"KYNSIM_BOARDS", "6:17", "'6:17' is not COUNT or TYPE:COUNT with COUNT from 0 to 16"},
        {"KYNSIM_TIME", "now", "'now' is not a 64-bit count of 100-ns intervals"},
        {"KYNSIM_TYPO", "1", "unknown setting"},
        {"KYNSIM_TRACE", "nodir/trace.txt", "cannot create the file"},
        {"KYNSIM_TRACE", "trace.fifo", "it is a pipe that no program reads", true},
        {"KYNSIM_TRACE", "trace.txt", "cannot empty the file: Operation not permitted", false, "FTRUNCATE_FAILS"},
    };
    for (const auto &c : aCases) {
        if ((c.bFifo || c.pszSpy != nullptr) && ToolIsWindows())
            continue;
        ToolCase toolCase;
        toolCase.env[c.pszName] = c.pszValue;
#ifdef HOST_SPY_PATH
        if (c.pszSpy != nullptr)
            toolCase.env.insert({{"LD_PRELOAD", HOST_SPY_PATH}, {c.pszSpy, "1"}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
#endif
        if (c.bFifo)
            toolCase.setUp = [&c](const std::string &strDir) {
                EXPECT_EQ(mkfifo((strDir + "/" + c.pszValue).c_str(), 0600), 0);
            };
        toolCase.strInput = "q";
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, 2);
        EXPECT_EQ(run.strConsole, "");
        EXPECT_EQ(run.strError,
                  std::string("kynsim: bad setting ") + c.pszName + "=" + c.pszValue + ": " + c.pszWhy + "\n");
        EXPECT_FALSE(run.bLogExists);
    }
}

TEST(Startup, MissingBoardFailsTheOpenAndTheLaterQueries)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_BOARDS"] = "6:0";
    toolCase.strInput = "nnnnnq";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    // The board handle stays 0, which names the driver: its attribute 9 is the driver's version.
    std::string strLog = StartupLog();
    const std::string strNoAttr = "ERROR(0X23 [1.2]) Dev(0,999,999): The object has no such attribute. \n"
                                  EXPECTED_QUESTION;
    strLog.replace(strLog.find("Board Device Handle"), std::string::npos,
                   "ERROR(0X22 [1.3]) \n"
                   "Do you want to exit (Y/N) Board Device Handle = 0x00000000\n"
                   "Plx Device Handle = 0x00000000\n"
                   "Read Serial Number to the board device...\n"
                   "Board Serial Number: 4.12.0 (simulated driver)\n" +
                       strNoAttr + strNoAttr + "Board Build Number: \n" + strNoAttr + strNoAttr +
                       "CPLD Build:\n\nPress 'h' for help\n");
    EXPECT_EQ(run.strLog, strLog);
}

} // namespace
