// e2e_commands_test.cpp - every command key through keys on standard input, compared with whole transcripts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

#include "e2e_harness.h"
#include "expected_text.h"

namespace {

ToolRun KeysWithTrace(const std::string &strInput, std::map<std::string, std::string> env = {})
{
    ToolCase toolCase;
    toolCase.strInput = strInput;
    toolCase.env = std::move(env);
    toolCase.env["KYNSIM_TRACE"] = "trace.txt";
    toolCase.aReadFiles = {"trace.txt"};
    return RunDuze(toolCase);
}

// The register-access lines of a trace, without the start-up's attribute and handle calls.
std::string RegisterCalls(const ToolRun &run)
{
    return TraceCalls(run, {"ReadReg", "WriteReg"});
}

const std::string kR32 = "Read from a 32-bit register in the KYN Board device.\nWhich Address (0x%X): ";

std::string Fill(const char *pszFormat, unsigned nValue)
{
    char szText[256];
    snprintf(szText, sizeof szText, pszFormat, nValue);
    return szText;
}

TEST(Commands, RegistersRememberTheirOwnAddressesAndValues)
{
    ExpectSession(Keys("R\n"
                       "W0x10\n0x11223344\n"
                       "W\n\n"
                       "R16\n"
                       "r0x10\nr020\nr0x13\n"
                       "i0x12\ni\n"
                       "R\nr\nw\n\n"
                       "q"),
                  0,
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x0 = 0x00000000 (0 decimal)\n"
                  "Write to a 32-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote 11223344 to Brd Address 0x10\n"
                  "Write to a 32-bit register in the KYN board device.\n"
                  "Which Address (0x10): Which Value (0x11223344): Wrote 11223344 to Brd Address 0x10\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x10 = 0x11223344 (287454020 decimal)\n"
                  "Read from a 8-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x10 = 0x44 (68 decimal)\n"
                  "Read from a 8-bit register in the KYN Board device.\n"
                  "Which Address (0x10): Brd Address 0x10 = 0x44 (68 decimal)\n"
                  "Read from a 8-bit register in the KYN Board device.\n"
                  "Which Address (0x10): Brd Address 0x13 = 0x11 (17 decimal)\n"
                  "Read from a 16-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x12 = 0x1122 (4386 decimal)\n"
                  "Read from a 16-bit register in the KYN Board device.\n"
                  "Which Address (0x12): Brd Address 0x12 = 0x1122 (4386 decimal)\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x10): Brd Address 0x10 = 0x11223344 (287454020 decimal)\n"
                  "Read from a 8-bit register in the KYN Board device.\n"
                  "Which Address (0x13): Brd Address 0x13 = 0x11 (17 decimal)\n"
                  "Write to a 8-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote 00 to Brd Address 0x0\n");
}

TEST(Commands, NarrowWritesPrintMaskedValuesAndPassTheWholeValue)
{
    ToolRun run = KeysWithTrace("w0\n0x1FF\n"
                                "o4\n0x12345\n"
                                "R0\nR4\n"
                                "W8\n-1\nR8\n"
                                "W0xC\n0x80\nr0xC\ni0xC\n"
                                "q");
    ExpectSession(run, 0,
                  "Write to a 8-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote FF to Brd Address 0x0\n"
                  "Write to a 16-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote 2345 to Brd Address 0x4\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x0 = 0x000000FF (255 decimal)\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x4 = 0x00002345 (9029 decimal)\n"
                  "Write to a 32-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote FFFFFFFF to Brd Address 0x8\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x4): Brd Address 0x8 = 0xFFFFFFFF (-1 decimal)\n"
                  "Write to a 32-bit register in the KYN board device.\n"
                  "Which Address (0x8): Which Value (0xFFFFFFFF): Wrote 00000080 to Brd Address 0xC\n"
                  "Read from a 8-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0xC = 0x80 (128 decimal)\n"
                  "Read from a 16-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0xC = 0x0080 (128 decimal)\n");
    EXPECT_EQ(RegisterCalls(run), "WriteReg8(0x20, 0, 0x1ff) = 0\n"
                                  "WriteReg16(0x20, 0x4, 0x12345) = 0\n"
                                  "ReadReg32(0x20, 0) = 0 -> 0xff\n"
                                  "ReadReg32(0x20, 0x4) = 0 -> 0x2345\n"
                                  "WriteReg32(0x20, 0x8, 0xffffffff) = 0\n"
                                  "ReadReg32(0x20, 0x8) = 0 -> 0xffffffff\n"
                                  "WriteReg32(0x20, 0xc, 0x80) = 0\n"
                                  "ReadReg8(0x20, 0xc) = 0 -> 0x80\n"
                                  "ReadReg16(0x20, 0xc) = 0 -> 0x80\n");
}

TEST(Commands, BridgeReadWriteAndDump)
{
    ToolRun run = Keys("p\nS0x1FC\n0xFFFFFFFF\nS0\n0xFFFFFFFF\np0x1FC\np0x8\nPp\nq");
    std::string strDump = "Complete register dump from the PCI Bridge device.\n";
    std::string strExpected = "Read from a 32-bit register in the PCI Bridge device.\n"
                              "Which Address (0x0): Plx Address 0x0 = 0x91541D8E (-1856758386 decimal)\n"
                              "Write to a 32-bit register in the PCI Bridge device.\n"
                              "Which Address (0x0): Which Value (0x0): Wrote FFFFFFFF to PCI Bridge Address 0x1FC\n"
                              "Write to a 32-bit register in the PCI Bridge device.\n"
                              "Which Address (0x1FC): Which Value (0xFFFFFFFF): "
                              "Wrote FFFFFFFF to PCI Bridge Address 0x0\n"
                              "Read from a 32-bit register in the PCI Bridge device.\n"
                              "Which Address (0x0): Plx Address 0x1FC = 0xFFFFFFFF (-1 decimal)\n"
                              "Read from a 32-bit register in the PCI Bridge device.\n"
                              "Which Address (0x1FC): Plx Address 0x8 = 0x06800003 (109051907 decimal)\n";
    ASSERT_EQ(run.strLog.substr(0, StartupLog().size() + strExpected.size()), StartupLog() + strExpected);
    std::string strRest = run.strLog.substr(StartupLog().size() + strExpected.size());
    ASSERT_EQ(strRest.rfind(strDump, 0), 0u);
    strRest = strRest.substr(strDump.size());
    int nLines = 0;
    size_t nPos = 0;
    unsigned nAddress = 0;
    for (; nLines < 128; ++nLines, nAddress += 4) {
        std::string strHead = Fill("Plx Address 0x%X = 0x", nAddress);
        ASSERT_EQ(strRest.compare(nPos, strHead.size(), strHead), 0) << strRest.substr(nPos, 60);
        nPos = strRest.find('\n', nPos) + 1;
    }
    EXPECT_NE(strRest.find("Plx Address 0x0 = 0x91541D8E (-1856758386 decimal)\n"), std::string::npos);
    EXPECT_NE(strRest.find("Plx Address 0x1FC = 0xFFFFFFFF (-1 decimal)\n"), std::string::npos);
    // The dump keeps its own address: p still offers the one it was given last.
    EXPECT_EQ(strRest.substr(nPos), "Read from a 32-bit register in the PCI Bridge device.\n"
                                    "Which Address (0x8): Plx Address 0x8 = 0x06800003 (109051907 decimal)\n");
    EXPECT_EQ(run.strConsole, kBanner + run.strLog);
    EXPECT_EQ(run.nStatus, 0);
}

TEST(Commands, BridgeCommandsWithoutBridge)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_FAIL"] = "GetDeviceHandle:0x80800322@24";
    toolCase.strInput = "pSPq";
    ToolRun run = RunDuze(toolCase);
    std::string strStartup = StartupLog();
    strStartup.replace(strStartup.find("0x00000021"), 10, "0x00000000");
    EXPECT_EQ(run.strLog, strStartup + "No Plx device on this board\n"
                                       "No Plx device on this board\n"
                                       "No Plx device on this board\n");
    EXPECT_EQ(run.nStatus, 0);
}

TEST(Commands, FailedCallsInsideCommandsFinishTheirPrinting)
{
    ToolRun run = Keys("R0x4000000\nnR2\nnw0x4000000\n0x1FF\nNi1\n\xffp0x200\nnS0x200\n5\nnd7\nnq");
    ExpectSession(run, 0,
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): "
                  "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n"
                  "Do you want to exit (Y/N) Brd Address 0x4000000 = 0x00000000 (0 decimal)\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x4000000): "
                  "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n"
                  "Do you want to exit (Y/N) Brd Address 0x2 = 0x00000000 (0 decimal)\n"
                  "Write to a 8-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): "
                  "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n"
                  "Do you want to exit (Y/N) Wrote FF to Brd Address 0x4000000\n"
                  "Read from a 16-bit register in the KYN Board device.\n"
                  "Which Address (0x0): "
                  "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n"
                  "Do you want to exit (Y/N) Brd Address 0x1 = 0x0000 (0 decimal)\n"
                  "Read from a 32-bit register in the PCI Bridge device.\n"
                  "Which Address (0x0): "
                  "ERROR(0X32 [1.4]) Dev(21,24,0): Register address is outside the device window. \n"
                  "Do you want to exit (Y/N) Plx Address 0x200 = 0x00000000 (0 decimal)\n"
                  "Write to a 32-bit register in the PCI Bridge device.\n"
                  "Which Address (0x0): Which Value (0x0): "
                  "ERROR(0X32 [1.4]) Dev(21,24,0): Register address is outside the device window. \n"
                  "Do you want to exit (Y/N) Wrote 00000005 to PCI Bridge Address 0x200\n"
                  "Driver Debug Command. Which Cmd? [0x00000000] Issuing Driver Debug Command 0x00000007\n"
                  "ERROR(0X40 [1.5]) Dev(20,6,0): Unknown debug command. \n"
                  EXPECTED_QUESTION);
}

TEST(Commands, FailedDumpReadsGoOnToTheNextRegister)
{
    ToolCase toolCase;
    toolCase.env["KYNSIM_FAIL"] = "ReadReg32:0x80800433@0x1F8";
    toolCase.strInput = "Pnq";
    ToolRun run = RunDuze(toolCase);
    EXPECT_NE(run.strLog.find("Plx Address 0x1F4 = 0x00000000 (0 decimal)\n"
                              "ERROR(0X33 [1.4]) Dev(21,24,0): The device does not support this access width. \n"
                              "Do you want to exit (Y/N) Plx Address 0x1F8 = 0x00000000 (0 decimal)\n"
                              "Plx Address 0x1FC = 0x00000000 (0 decimal)\n"),
              std::string::npos)
        << run.strLog;
}

TEST(Commands, AnsweringYesInsideACommandEndsTheRun)
{
    ExpectSession(Keys("R3\nyq"), 1,
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): "
                  "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n"
                  EXPECTED_QUESTION);
}

TEST(Commands, DebugCommandEntryIsSigned)
{
    ToolRun run = Keys("d1\nd0x80000000\nnd\nnd-0x80000001\nnd-1\nnq");
    const std::string strUnknown = "ERROR(0X40 [1.5]) Dev(20,6,0): Unknown debug command. \n"
                                   EXPECTED_QUESTION;
    std::string strLog = "Driver Debug Command. Which Cmd? [0x00000000] Issuing Driver Debug Command 0x00000001\n"
                         "Driver Debug Command. Which Cmd? [0x00000001] Issuing Driver Debug Command 0x7FFFFFFF\n" +
                         strUnknown +
                         "Driver Debug Command. Which Cmd? [0x7FFFFFFF] Issuing Driver Debug Command 0x7FFFFFFF\n" +
                         strUnknown +
                         "Driver Debug Command. Which Cmd? [0x7FFFFFFF] Issuing Driver Debug Command 0x80000000\n" +
                         strUnknown +
                         "Driver Debug Command. Which Cmd? [0x80000000] Issuing Driver Debug Command 0xFFFFFFFF\n" +
                         strUnknown;
    EXPECT_EQ(run.strLog, StartupLog() + strLog);
    // The library's own debug output reaches the console only.
    std::string strConsole = strLog;
    strConsole.insert(strConsole.find('\n') + 1, "KynSim: device 0x20: 0 of 65536 KiB of board memory in use\n");
    EXPECT_EQ(run.strConsole, kBanner + StartupLog() + strConsole);
    EXPECT_EQ(run.nStatus, 0);
}

TEST(Commands, SleepTalksToTheConsoleOnly)
{
    ToolRun run = KeysWithTrace("~\n~5\n~-3\n~abc\nq");
    // A library may take a negative count as an endless sleep: it gets none.
    EXPECT_EQ(TraceCalls(run, {"ThreadSleep"}), "ThreadSleep(5)\nThreadSleep(0)\n");
    EXPECT_EQ(run.strLog, StartupLog());
    EXPECT_EQ(run.strConsole, kBanner + StartupLog() +
                                  "Enter milliseconds to sleep :"
                                  "Enter milliseconds to sleep :Sleeping 5 milliseconds\n"
                                  "Enter milliseconds to sleep :Sleeping -3 milliseconds\n"
                                  "Enter milliseconds to sleep :Sleeping 0 milliseconds\n");
}

const std::string kHelp = kExpectedHelp;

TEST(Commands, EveryHelpKeyPrintsTheHelpText)
{
    ExpectSession(Keys("?hHQ"), 0, kHelp + kHelp + kHelp);
}

TEST(Commands, UnknownKeysSayHowToGetHelp)
{
    const std::string strUnknown = EXPECTED_UNKNOWN;
    std::string strKeys = std::string("\x7f\x80\xff>\x01 \n;AzZ0", 13) + std::string(1, '\0') + "q";
    std::string strExpected;
    for (size_t i = 0; i + 1 < strKeys.size(); ++i)
        strExpected += strUnknown;
    ExpectSession(Keys(strKeys), 0, strExpected);
}

TEST(Commands, OnlyTheLow8BitsOfAKeyCount)
{
    ToolCase toolCase;
    // Negative codes too, but for the end of input: 0xFFFFFF68 is an 'h'.
    toolCase.env["KYNSIM_KEYS"] = "0x172,0x13F,0xFFFFFF68,0x7FFFFF51";
    toolCase.strInput = "4\n";
    ExpectSession(RunDuze(toolCase), 0,
                  "Read from a 8-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x4 = 0x00 (0 decimal)\n" +
                      kHelp + kHelp);
}

TEST(Commands, PromptLinesKeepAtMost63Characters)
{
    // Past 63 characters the rest of the line is dropped: 63 zeros and more digits read as 0.
    ExpectSession(Keys("R8\nR" + std::string(63, '0') + "4444\nR" + std::string(62, '0') + "4\nq"), 0,
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x8 = 0x00000000 (0 decimal)\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x8): Brd Address 0x0 = 0x00000000 (0 decimal)\n"
                  "Read from a 32-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x4 = 0x00000000 (0 decimal)\n");
}

// Memory test ------------------------------------------------------------------------------

const std::string kMemHead = "Memory Read/Write test.\n";

TEST(MemoryTest, RangeZeroMakesNoCall)
{
    ToolRun run = KeysWithTrace("M\n\nq");
    ExpectSession(run, 0,
                  kMemHead + "Which Start Address (0x0): Which Range (in bytes) (0x0): "
                             "Memory test finished. ErrorCount=0\n");
    EXPECT_EQ(RegisterCalls(run), "");
}

TEST(MemoryTest, RangeFiveCoversTwoWords)
{
    ToolRun run = KeysWithTrace("M0x100\n5\nq");
    ExpectSession(run, 0,
                  kMemHead + "Which Start Address (0x0): Which Range (in bytes) (0x0): "
                             "Memory test finished. ErrorCount=0\n");
    EXPECT_EQ(RegisterCalls(run), "WriteReg32(0x20, 0x100, 0x100) = 0\n"
                                  "WriteReg32(0x20, 0x104, 0x104) = 0\n"
                                  "ReadReg32(0x20, 0x100) = 0 -> 0x100\n"
                                  "ReadReg32(0x20, 0x104) = 0 -> 0x104\n");
}

TEST(MemoryTest, AllWritesBeforeTheFirstReadThenRemembered)
{
    ToolRun run = KeysWithTrace("M0x100\n0x10\nM\n\nq");
    ExpectSession(run, 0,
                  kMemHead + "Which Start Address (0x0): Which Range (in bytes) (0x0): "
                             "Memory test finished. ErrorCount=0\n" +
                      kMemHead + "Which Start Address (0x100): Which Range (in bytes) (0x10): "
                                 "Memory test finished. ErrorCount=0\n");
    std::string strOnce = "WriteReg32(0x20, 0x100, 0x100) = 0\n"
                          "WriteReg32(0x20, 0x104, 0x104) = 0\n"
                          "WriteReg32(0x20, 0x108, 0x108) = 0\n"
                          "WriteReg32(0x20, 0x10c, 0x10c) = 0\n"
                          "ReadReg32(0x20, 0x100) = 0 -> 0x100\n"
                          "ReadReg32(0x20, 0x104) = 0 -> 0x104\n"
                          "ReadReg32(0x20, 0x108) = 0 -> 0x108\n"
                          "ReadReg32(0x20, 0x10c) = 0 -> 0x10c\n";
    EXPECT_EQ(RegisterCalls(run), strOnce + strOnce);
}

TEST(MemoryTest, BoardReadingBackZero)
{
    ExpectSession(Keys("M0\n0x10\nq", {{"KYNSIM_MEMORY", "zero"}}), 3,
                  kMemHead + "Which Start Address (0x0): Which Range (in bytes) (0x0): "
                             "Memory error at Address 0x4   (nReadVal(0x0) != nWriteVal(0x4))\n"
                             "Memory error at Address 0x8   (nReadVal(0x0) != nWriteVal(0x8))\n"
                             "Memory error at Address 0xC   (nReadVal(0x0) != nWriteVal(0xC))\n"
                             "Memory test finished. ErrorCount=3\n");
}

TEST(MemoryTest, StuckBitsAndFailedCalls)
{
    ExpectSession(Keys("M0x1F0\n0x10\nnnq", {{"KYNSIM_MEMORY", "stuck-low=0x8"},
                                             {"KYNSIM_FAIL", "WriteReg32:0x80800407@0x1F4,ReadReg32:-1#4"}}),
                  3,
                  kMemHead + "Which Start Address (0x0): Which Range (in bytes) (0x0): "
                             "ERROR(0X80000007 [1.4]) Dev(20,6,0): The driver is out of memory. \n"
                             EXPECTED_QUESTION
                             "Memory error at Address 0x1F4   (nReadVal(0x0) != nWriteVal(0x1F4))\n"
                             "Memory error at Address 0x1F8   (nReadVal(0x1F0) != nWriteVal(0x1F8))\n"
                             "ERROR(0XFF [255.32767]) Dev(20,6,0): Cannot translate this result code. \n"
                             EXPECTED_QUESTION
                             "Memory error at Address 0x1FC   (nReadVal(0x1F0) != nWriteVal(0x1FC))\n"
                             "Memory test finished. ErrorCount=3\n");
}

// Across the top of the address space: the words at 0xFFFFFFF8, 0xFFFFFFFC, 0 and 4. The last
// word's read fails and is gone on from, so it is compared with what the word before read.
// (How many words a range above 0xFFFFFFFC has is a unit test's, MemoryTestWords.)
TEST(MemoryTest, ARangeAcrossTheTopWrapsAndComparesItsLastWord)
{
    ToolRun run = KeysWithTrace("M0xFFFFFFF8\n0x10\nnq", {{"KYNSIM_MEMORY", "address"}, {"KYNSIM_FAIL", "ReadReg32:-1@4"}});
    ExpectSession(run, 3,
                  kMemHead + "Which Start Address (0x0): Which Range (in bytes) (0x0): "
                             "ERROR(0XFF [255.32767]) Dev(20,6,0): Cannot translate this result code. \n"
                             EXPECTED_QUESTION
                             "Memory error at Address 0x4   (nReadVal(0x0) != nWriteVal(0x4))\n"
                             "Memory test finished. ErrorCount=1\n");
    EXPECT_EQ(RegisterCalls(run), "WriteReg32(0x20, 0xfffffff8, 0xfffffff8) = 0\n"
                                  "WriteReg32(0x20, 0xfffffffc, 0xfffffffc) = 0\n"
                                  "WriteReg32(0x20, 0, 0) = 0\n"
                                  "WriteReg32(0x20, 0x4, 0x4) = 0\n"
                                  "ReadReg32(0x20, 0xfffffff8) = 0 -> 0xfffffff8\n"
                                  "ReadReg32(0x20, 0xfffffffc) = 0 -> 0xfffffffc\n"
                                  "ReadReg32(0x20, 0) = 0 -> 0\n"
                                  "ReadReg32(0x20, 0x4) = 0xffffffff -> 0\n");
}

TEST(MemoryTest, RangesPastTheWindowEndReportEachWord)
{
    ExpectSession(Keys("M0x3FFFFF8\n0x10\nnnnnq"), 3,
                  kMemHead + "Which Start Address (0x0): Which Range (in bytes) (0x0): "
                             "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n"
                             EXPECTED_QUESTION
                             "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n"
                             EXPECTED_QUESTION
                             "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n"
                             EXPECTED_QUESTION
                             "Memory error at Address 0x4000000   (nReadVal(0x3FFFFFC) != nWriteVal(0x4000000))\n"
                             "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n"
                             EXPECTED_QUESTION
                             "Memory error at Address 0x4000004   (nReadVal(0x3FFFFFC) != nWriteVal(0x4000004))\n"
                             "Memory test finished. ErrorCount=2\n");
}

// Timestamps -------------------------------------------------------------------------------

TEST(Timestamps, CurrentTimeInUtcAndAnotherZone)
{
    // 1 day, 13:05:07.234 after the 1970 epoch.
    ExpectSession(Keys("tq", {{"KYNSIM_TIME", "116446071072340000"}}), 0, "01-02 13:05:07.234 \n");
    ExpectSession(Keys("tq", {{"KYNSIM_TIME", "116446071072340000"}, {"TZ", "EST5"}}), 0, "01-02 08:05:07.234 \n");
    ExpectSession(Keys("tq", {{"KYNSIM_TIME", "116446071072349999"}, {"TZ", "IST-5:30"}}), 0,
                  "01-02 18:35:07.234 \n");
}

TEST(Timestamps, FailedTimeQueryShowsNoMadeUpTime)
{
    ExpectSession(Keys("tq", {{"KYNSIM_FAIL", "GetCurrentTime:-1"}}), 0,
                  "Error: Invalid timestamp (before Jan 1, 1970)\n\n");
}

TEST(Timestamps, EnteredTimestampsShowAsLocalTime)
{
    ExpectSession(Keys("T0x019DB1DE\n0xD53E8000\nT\n\nT0\n0\nT0x019DB1DE\n0xD53E7FFF\nT0x019DB315\n\nq"), 0,
                  "Enter High 32-bit value of timestamp (0x00000000): "
                  "Enter Low 32-bit value of timestamp (0x00000000): 01-01 00:00:00.000 \n"
                  "Enter High 32-bit value of timestamp (0x019DB1DE): "
                  "Enter Low 32-bit value of timestamp (0xD53E8000): 01-01 00:00:00.000 \n"
                  "Enter High 32-bit value of timestamp (0x019DB1DE): "
                  "Enter Low 32-bit value of timestamp (0xD53E8000): "
                  "Error: Invalid timestamp (before Jan 1, 1970)\n\n"
                  "Enter High 32-bit value of timestamp (0x00000000): "
                  "Enter Low 32-bit value of timestamp (0x00000000): "
                  "Error: Invalid timestamp (before Jan 1, 1970)\n\n"
                  // High half 0x019DB315 with the remembered low half: 1 day 13:06:13.482 after the epoch.
                  "Enter High 32-bit value of timestamp (0x019DB1DE): "
                  "Enter Low 32-bit value of timestamp (0xD53E7FFF): 01-02 13:06:13.482 \n");
}

TEST(Timestamps, EpochInAnotherZone)
{
    ExpectSession(Keys("T0x019DB1DE\n0xD53E8000\nq", {{"TZ", "EST5"}}), 0,
                  "Enter High 32-bit value of timestamp (0x00000000): "
                  "Enter Low 32-bit value of timestamp (0x00000000): 12-31 19:00:00.000 \n");
}

} // namespace

// Register maps --------------------------------------------------------------------------------

namespace {

// A run with the tests' map (tests/maps/board.svd) in its directory as board.svd.
ToolRun MapRun(std::vector<std::string> aArgs, const std::string &strKeys, std::map<std::string, std::string> env = {},
               const std::string &strMap = "")
{
    ToolCase toolCase;
    toolCase.aArgs = std::move(aArgs);
    toolCase.strInput = strKeys;
    toolCase.env = std::move(env);
    toolCase.setUp = [strMap](const std::string &strDir) {
        WriteFile(strDir + "/board.svd",
                  strMap.empty() ? ReadFile(std::string(DUZE_SOURCE_DIR) + "/tests/maps/board.svd") : strMap);
    };
    return RunDuze(toolCase);
}

} // namespace

// Writes of some bits: NAME.FIELD=VALUE and setpci's VALUE:MASK read the register, replace those bits
// and write it back, a write-one-to-clear field beside them written as 0; --fields shows each
// value's line of the map; a script's warnings go to standard error.
TEST(RegisterMaps, FieldWritesMasksAndFieldsForScripts)
{
    struct {
        std::vector<std::string> aArgs;
        int nStatus;
        std::string strOut, strErr;
    } aCases[] = {
        {{"--write", "UART.CTRL=0x1A07", "--write", "UART.CTRL.MODE=2", "--read", "UART.CTRL", "--fields"}, 0,
         "  UART.CTRL: EN=1 MODE=0x3 BAUD=0x1A\n  UART.CTRL: EN=1 MODE=0x2 (IRDA) BAUD=0x1A\n0x00001A05\n"
         "  UART.CTRL: EN=1 MODE=0x2 (IRDA) BAUD=0x1A\n", ""},
        {{"--write", "0x10=0xFFFFFFFF", "--write", "0x10=0x12:0xFF", "--read", "0x10"}, 0, "0xFFFFFF12\n", ""},
        // A read of UART.STATUS clears RXNE: a write of some of its bits, which reads it first, is refused.
        {{"--write", "4=3", "--write", "uart.status.rxne=1", "--read", "4"}, 2, "",
         "Error: Register UART.STATUS: a read has an effect (clear), and a write of some of its bits would read it first: "
         "write the whole register\n"},
        {{"--write", "4=1:1"}, 2, "", "Error: Register UART.STATUS: a read has an effect (clear), and a write of some of its "
                                      "bits would read it first: write the whole register\n"},
        {{"--write", "UART.CTRL.MODE=4"}, 2, "", "Error: Value 0x4 is wider than field UART.CTRL.MODE's 2 bits\n"},
        {{"--write", "UART.CTRL.NOPE=1"}, 2, "", "Error: Register UART.CTRL has no field NOPE\n"},
        {{"--write8", "0x10=1:0x100"}, 2, "", "Error: --write8 '0x10=1:0x100': the value is not one number of 8 bits (0x "
                                              "hexadecimal, 0 octal, else decimal), nor is its mask\n"},
        {{"--bridge-dump"}, 2, "", "Error: --bridge-dump needs the bridge's register map (--bridge-map or DUZE_BRIDGE_MAP)\n"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.aArgs.back());
        std::vector<std::string> aArgs = {"--map", "board.svd"};
        aArgs.insert(aArgs.end(), c.aArgs.begin(), c.aArgs.end());
        ToolRun run = MapRun(aArgs, "");
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strConsole, c.strOut);
        EXPECT_EQ(run.strError, c.strErr);
    }
    // DONE, beside EN, is write-one-to-clear: the 1 it reads is written as 0.
    const std::string kIrq = "<device><peripherals><peripheral><name>P</name><baseAddress>0</baseAddress><registers><register>"
                             "<name>IRQ</name><addressOffset>0</addressOffset><fields><field><name>EN</name><bitOffset>0"
                             "</bitOffset></field><field><name>DONE</name><bitOffset>1</bitOffset><modifiedWriteValues>"
                             "oneToClear</modifiedWriteValues></field></fields></register></registers></peripheral>"
                             "</peripherals></device>\n";
    ToolRun irq = MapRun({"--map", "board.svd", "--write", "0=3", "--write", "P.IRQ.EN=0", "--read", "0"}, "", {}, kIrq);
    EXPECT_EQ(irq.nStatus, 0);
    EXPECT_EQ(irq.strConsole, "0x00000000\n");
    // A 64-bit register, written and read by its name as two 32-bit words, the low one first.
    const std::string kWide = "<device><peripherals><peripheral><name>P</name><baseAddress>0</baseAddress><registers><register>"
                              "<name>W</name><addressOffset>0x20</addressOffset><size>64</size></register><register><name>N"
                              "</name><addressOffset>0x30</addressOffset></register></registers></peripheral></peripherals>"
                              "</device>\n";
    ToolRun wide = MapRun({"--map", "board.svd", "--write", "P.W=0x1122334455667788", "--read", "P.W", "--read", "0x24"}, "", {}, kWide);
    EXPECT_EQ(wide.nStatus, 0);
    EXPECT_EQ(wide.strConsole, "0x1122334455667788\n0x11223344\n");
    wide = MapRun({"--map", "board.svd", "--write", "P.N=0x100000000"}, "", {}, kWide);
    EXPECT_EQ(wide.nStatus, 2);
    EXPECT_EQ(wide.strError, "Error: Value 0x100000000 is wider than register P.N's 32 bits\n");
    // The bridge's map dumped as the board's is.
    ToolRun run = MapRun({"--bridge-map", "board.svd", "--bridge-dump"}, "");
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strConsole.substr(0, run.strConsole.find('\n') + 1),
              "Plx Address 0x0 = 0x91541D8E (reset 0x00000000)  UART.CTRL: EN=0 MODE=0x3* BAUD=0x1D*\n");
    EXPECT_NE(run.strConsole.find("SVD address 0x40001000 not on the board  PWM.CHANNEL[0].TOPCMP: it lies past the "
                                  "board's 0x200 bytes of registers\n"), std::string::npos) << run.strConsole;
}

// The memory test as a job: every pattern over the range, a mismatch record for each word that reads
// back wrong, the summary naming stuck data bits, status 3 on errors, a JUnit report for CI servers.
TEST(MemtestJob, PatternsRecordsSummaryAndJunit)
{
    const std::string kAll = "address,walking-ones,walking-zeros,checkerboard,solid,random";
    std::string kAllBits = "0";
    for (int i = 1; i < 32; ++i)
        kAllBits += "," + std::to_string(i);
    struct {
        std::map<std::string, std::string> env;
        std::vector<std::string> aArgs;
        int nStatus;
        std::string strOut;
    } aCases[] = {
        {{}, {"--memtest", "0x100:0x40", "--patterns", kAll, "--passes", "2", "--seed", "7"}, 0,
         "memtest: 0x40 bytes from 0x100, patterns " + kAll + ", 2 passes: 0 mismatches; stuck high: bits none; stuck low: "
         "bits none; aliased address bits: none\n"},
        // Bit 8 of every word reads 0: the all-ones half of solid finds it in each of the 4 words.
        {{{"KYNSIM_MEMORY", "stuck-low=0x100"}}, {"--memtest", "0:0x10", "--patterns", "solid"}, 3,
         "mismatch: solid pass 1 address 0x0 expected 0xFFFFFFFF read 0xFFFFFEFF xor 0x00000100 bits 8\n"
         "mismatch: solid pass 1 address 0x4 expected 0xFFFFFFFF read 0xFFFFFEFF xor 0x00000100 bits 8\n"
         "mismatch: solid pass 1 address 0x8 expected 0xFFFFFFFF read 0xFFFFFEFF xor 0x00000100 bits 8\n"
         "mismatch: solid pass 1 address 0xC expected 0xFFFFFFFF read 0xFFFFFEFF xor 0x00000100 bits 8\n"
         "memtest: 0x10 bytes from 0x0, patterns solid, 1 pass: 4 mismatches; stuck high: bits none; stuck low: bits 8; "
         "aliased address bits: none\n"},
        {{{"KYNSIM_MEMORY", "stuck-high=0x1"}}, {"--memtest", "0:8", "--patterns", "walking-zeros", "--json"}, 3,
         "{\"address\":0,\"bits\":[0],\"expected\":4294967294,\"op\":\"mismatch\",\"pass\":1,\"pattern\":\"walking-zeros\","
         "\"read\":4294967295,\"version\":2,\"xor\":1}\n"
         "{\"aliased_address_bits\":[],\"length\":8,\"mismatches\":1,\"op\":\"memtest\",\"passes\":1,\"patterns\":"
         "[\"walking-zeros\"],\"start\":0,\"stuck_high\":[0],\"stuck_low\":[],\"version\":2}\n"},
        // A memory that keeps nothing and answers each address with itself fails the default's inverse.
        {{{"KYNSIM_MEMORY", "address"}}, {"--memtest", "0:8"}, 3,
         "mismatch: address-inverse pass 1 address 0x0 expected 0xFFFFFFFF read 0x00000000 xor 0xFFFFFFFF bits " + kAllBits + "\n"
         "mismatch: address-inverse pass 1 address 0x4 expected 0xFFFFFFFB read 0x00000004 xor 0xFFFFFFFF bits " + kAllBits + "\n"
         "memtest: 0x8 bytes from 0x0, patterns address,address-inverse, 1 pass: 2 mismatches; stuck high: bits none; stuck low: "
         "bits 0,1," + kAllBits.substr(6) + "; aliased address bits: none\n"},
        // Bit 8 stuck low under the address pattern is a stuck data bit, said once, not also an aliased address bit.
        {{{"KYNSIM_MEMORY", "stuck-low=0x100"}}, {"--memtest", "0x100:4", "--patterns", "address"}, 3,
         "mismatch: address pass 1 address 0x100 expected 0x00000100 read 0x00000000 xor 0x00000100 bits 8\n"
         "memtest: 0x4 bytes from 0x100, patterns address, 1 pass: 1 mismatch; stuck high: bits none; stuck low: bits 8; "
         "aliased address bits: none\n"},
        {{}, {"--memtest", "0:8", "--patterns", "address,fly"}, 2, ""},
        {{}, {"--memtest", "0:8", "--passes", "0"}, 2, ""},
        // An access that fails ends the run as any one-shot access does: its record first.
        {{{"KYNSIM_FAIL", "ReadReg32:0x80800322@0x4"}}, {"--memtest", "0:8", "--json", "--seed", "1"}, 1,
         "{\"address\":4,\"board_number\":0,\"board_type\":6,\"code\":\"0X22 [1.3]\",\"device\":\"board\",\"error\":"
         "\"No such device present.\",\"op\":\"read\",\"result\":-2139094238,\"version\":2,\"width\":32}\n"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.aArgs.back());
        ToolCase toolCase;
        toolCase.aArgs = c.aArgs;
        toolCase.env = c.env;
        toolCase.aArgs.insert(toolCase.aArgs.end(), {"--junit", "report.xml"});
        toolCase.aReadFiles = {"report.xml"};
        ToolRun run = RunDuze(toolCase);
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strConsole, c.strOut);
        if (c.nStatus == 3) {
            EXPECT_NE(run.files["report.xml"].find("failures=\"1\""), std::string::npos) << run.files["report.xml"];
            EXPECT_NE(run.files["report.xml"].find("words read back wrong\">address 0x"), std::string::npos);
        }
        if (c.nStatus == 0) {
            EXPECT_NE(run.files["report.xml"].find("tests=\"12\" failures=\"0\""), std::string::npos) << run.files["report.xml"];
        }
    }
    // The report never empties a file the run reads or writes: here its own log. (On Windows the
    // log's own sharing rules decide.)
    if (ToolIsWindows())
        return;
    ToolCase toolCase;
    toolCase.aArgs = {"--memtest", "0:8", "--log", "run.log", "--junit", "run.log"};
    toolCase.strLogName = "run.log";
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_NE(run.strLog.find("Memory test finished. ErrorCount=0\n"), std::string::npos) << run.strLog;
    EXPECT_EQ(run.strLog.find("<testsuite"), std::string::npos);
    EXPECT_NE(run.strError.find("Error: the JUnit report run.log cannot be written: it is a file the run reads or writes"),
              std::string::npos) << run.strError;
    // Nor the batch's own file, read after the memory test.
    toolCase.aArgs = {"--memtest", "0:8", "--batch", "cmds.txt", "--junit", "cmds.txt"};
    toolCase.strLogName = "";
    toolCase.setUp = [](const std::string &strDir) { WriteFile(strDir + "/cmds.txt", "read 0\n"); };
    toolCase.aReadFiles = {"cmds.txt"};
    run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.files["cmds.txt"], "read 0\n");
}

// A batch: each line answered at once, in text, a failed access answered and the batch going on, a
// line that is no command naming its number; the status the worst of the run; --stop-on-error ends it.
TEST(Batch, EachLineAnsweredAndTheWorstStatus)
{
    struct {
        std::vector<std::string> aArgs;
        std::string strInput;
        int nStatus;
        std::string strOut;
        std::map<std::string, std::string> env = {};
    } aCases[] = {
        {{}, "write 0x10=0x11223344\n  read 0x10\n# a comment\n\nread8 0x11\nsleep 0\nbridge-read 8\n", 0,
         "ok\n0x11223344\n0x33\nok\n0x06800003\n"},
        {{}, "read 0x4000000\nread 4\n", 1, "error: line 1: Register address is outside the device window.\n0x00000000\n"},
        {{}, "read 1x\nread\nsleep -1\nfly 3\nwrite 0x10=1:2\nlist x\n", 2,
         "error: line 1: '1x': the address is not one number of 32 bits (0x hexadecimal, 0 octal, else decimal)\n"
         "error: line 2: '': the address is not one number of 32 bits (0x hexadecimal, 0 octal, else decimal)\n"
         "error: line 3: '-1': not a number of milliseconds (at most a day)\n"
         "error: line 4: 'fly' is none of read, read16, read8, write, write16, write8, bridge-read, bridge-write, sleep, dump, "
         "bridge-dump, hexdump, bridge-hexdump, memtest, decode, list, names\n"
         "ok\nerror: line 6: 'x': takes no value\n"},
        {{"--stop-on-error"}, "read 0x4000000\nread 4\n", 1, "error: line 1: Register address is outside the device window.\n"},
        {{"--patterns", "solid"}, "memtest 0:0x10\nmemtest 0:3\nread 0\n", 2,
         "memtest: 0x10 bytes from 0x0, patterns solid, 1 pass: 0 mismatches; stuck high: bits none; stuck low: bits none; "
         "aliased address bits: none\nerror: line 2: '0:3': START and LENGTH must be multiples of 4 (32-bit registers), LENGTH not 0\n"
         "0x00000000\n"},
        {{"--map", "board.svd"}, "write UART.CTRL=5\nread UART.CTRL\nread CTRL\n", 2,
         "ok\n0x00000005\nerror: line 3: CTRL is ambiguous: UART.CTRL, UART2.CTRL\n"},
        // A batch that cannot be read (here a directory) is no empty batch that succeeded.
        {{"--batch", "."}, "", 2, ""},
        // A device never ends a line; a NUL would hide the rest of its line from the parser.
        {{"--batch", "/dev/zero"}, "", 2, ToolIsWindows() ? "error: line 1: the line is longer than 4096 bytes, and has no end "
                                                            "within 1 MiB: the batch ends there\n" : ""},
        {{}, std::string("read 0x10\0\nwrite 0x20=0x1234\n", 29) + "read 0x20\n", 2,
         "error: line 1: the line holds a NUL byte\nok\n0x00001234\n"},
        {{}, "read 0x10" + std::string(4090, ' ') + "\nread 0\n", 2, "error: line 1: the line is longer than 4096 bytes\n0x00000000\n"},
        {{"--batch", "nothere"}, "", 2, ""},
        // A memory test whose access fails answers as a failed access, and the batch goes on.
        {{}, "memtest 0:0x40\nread 0\n", 1, "error: line 1: No such device present.\n0x00000000\n",
         {{"KYNSIM_FAIL", "ReadReg32:0x80800322@0x10"}}},
        {{"--json", "--map", "board.svd"}, "memtest 0:0x40\nread UART.CTRL\n", 1,
         "{\"address\":16,\"board_number\":0,\"board_type\":6,\"code\":\"0X22 [1.3]\",\"device\":\"board\",\"error\":"
         "\"No such device present.\",\"line\":1,\"op\":\"write\",\"result\":-2139094238,\"version\":2,\"width\":32,\"end\":true}\n"
         "{\"address\":0,\"board_number\":0,\"board_type\":6,\"code\":\"0X22 [1.3]\",\"device\":\"board\",\"error\":"
         "\"No such device present.\",\"line\":2,\"name\":\"UART.CTRL\",\"op\":\"read\",\"result\":-2139094238,\"version\":2,"
         "\"width\":32,\"end\":true}\n",
         {{"KYNSIM_FAIL", "WriteReg32:0x80800322@0x10,ReadReg32:0x80800322@0x0"}}},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.strInput);
        std::vector<std::string> aArgs = {"--batch", "-"};
        aArgs.insert(aArgs.end(), c.aArgs.begin(), c.aArgs.end());
        ToolRun run = MapRun(aArgs, c.strInput, c.env);
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strConsole, c.strOut);
    }
    // Over a pipe that stays open: each answer is there before the next line is sent.
    ToolCase toolCase;
    toolCase.aArgs = {"--batch", "-", "--json"};
    toolCase.bStdinPipe = true;
    ToolProcess process = StartDuze(toolCase);
    const std::string aLines[] = {"write 0x20=7\n", "read 0x20\n", "# no command\n", "sleep 1\n"};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(write(process.fdStdin, aLines[i].data(), aLines[i].size()), (ssize_t)aLines[i].size());
        EXPECT_TRUE(WaitUntil([&] {
            std::string strShown = ReadFile(process.strOut);
            return std::count(strShown.begin(), strShown.end(), '\n') == (long)i + 1;
        })) << ReadFile(process.strOut);
    }
    ToolRun run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 0);
    // Every line is answered, a comment too, its last record marked as its end.
    const std::string kBoard = "{\"address\":32,\"board_number\":0,\"board_type\":6,\"device\":\"board\",\"line\":";
    EXPECT_EQ(run.strConsole, kBoard + "1,\"op\":\"write\",\"result\":0,\"value\":7,\"version\":2,\"width\":32,\"end\":true}\n" +
                                  kBoard + "2,\"op\":\"read\",\"result\":0,\"value\":7,\"version\":2,\"width\":32,\"end\":true}\n"
                                  "{\"line\":3,\"op\":\"none\",\"version\":2,\"end\":true}\n"
                                  "{\"line\":4,\"milliseconds\":1,\"op\":\"sleep\",\"version\":2,\"end\":true}\n");
}

// One grammar: each operation as an option and as a batch line shows the same value, or is refused
// with the same words (an option's quoted after its name, a line's after its number); in JSON both
// give the same record but for the line's number and end mark.
TEST(Operations, AnOptionAndABatchLineAgree)
{
    struct {
        std::string strVerb, strArgument;
        int nStatus;
        std::string strShown;  // a success's output, the refusal's reason otherwise
        bool bQuoted = false;  // a refusal of the argument's form: the argument is quoted before it
    } aCases[] = {
        {"write", "UART.CTRL.MODE=2", 0, ""},
        {"read", "UART.CTRL", 0, "0x00000000\n"},
        {"write", "0x10=0x12:0xFF", 0, ""},
        {"read8", "PINB", 0, "0x00\n"},
        {"sleep", "1", 0, ""},
        {"decode", "0x80800322", 0, "0X22 [1.3]: No such device present.\n"},
        {"hexdump", "0:8", 0, "0000:00:00.0 board registers 0x0 to 0x7\n00: 00 00 00 00 -- -- -- --\n\n"},
        {"write", "UART.CTRL.NOPE=1", 2, "Register UART.CTRL has no field NOPE"},
        {"write", "UART.CTRL.MODE=4", 2, "Value 0x4 is wider than field UART.CTRL.MODE's 2 bits"},
        {"read", "CTRL", 2, "CTRL is ambiguous: UART.CTRL, UART2.CTRL"},
        {"read", "NOPE", 2, "No register NOPE in the map board.svd"},
        {"write8", "0x10=1:0x100", 2, "the value is not one number of 8 bits (0x hexadecimal, 0 octal, else decimal), nor is its mask",
         true},
        {"memtest", "0:3", 2, "START and LENGTH must be multiples of 4 (32-bit registers), LENGTH not 0", true},
        {"sleep", "x", 2, "not a number of milliseconds (at most a day)", true},
        {"bridge-read", "0x1000", 1, "Bridge register 0x1000 is past the end of the bridge's 512 bytes of registers (its "
                                     "configuration space)"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.strVerb + " " + c.strArgument);
        ToolRun option = MapRun({"--map", "board.svd", "--" + c.strVerb, c.strArgument}, "");
        ToolRun line = MapRun({"--map", "board.svd", "--batch", "-"}, c.strVerb + " " + c.strArgument + "\n");
        EXPECT_EQ(option.nStatus, c.nStatus);
        EXPECT_EQ(line.nStatus, c.nStatus);
        if (c.nStatus != 0) {
            EXPECT_EQ(option.strError, "Error: " + (c.bQuoted ? "--" + c.strVerb + " '" + c.strArgument + "': " : "") + c.strShown + "\n");
            EXPECT_EQ(line.strConsole, "error: line 1: " + (c.bQuoted ? "'" + c.strArgument + "': " : "") + c.strShown + "\n");
            continue;
        }
        EXPECT_EQ(option.strConsole, c.strShown);
        EXPECT_EQ(line.strConsole, c.strShown.empty() ? "ok\n" : c.strShown);
        ToolRun optionJson = MapRun({"--map", "board.svd", "--json", "--" + c.strVerb, c.strArgument}, "");
        ToolRun lineJson = MapRun({"--map", "board.svd", "--json", "--batch", "-"}, c.strVerb + " " + c.strArgument + "\n");
        std::string strLine = lineJson.strConsole;
        for (const std::string &strMark : {std::string(",\"line\":1"), std::string(",\"end\":true"), std::string("\"line\":1,")})
            for (size_t nAt; (nAt = strLine.find(strMark)) != std::string::npos;)
                strLine.erase(nAt, strMark.size());
        // A sleep's record is a batch's alone: an option's sleep shows nothing.
        EXPECT_EQ(optionJson.strConsole, c.strVerb == "sleep" ? "" : strLine);
    }
}

// Each register line with its name and fields, names at the address prompt, the warnings.
TEST(RegisterMaps, NamesAndFieldsBesideEveryRegisterLine)
{
    const std::string kW = "Write to a 32-bit register in the KYN board device.\n";
    const std::string kR = "Read from a 32-bit register in the KYN Board device.\n";
    std::string strAfter =
        kW + "Which Address (0x0): Which Value (0x0): Wrote 00001A03 to Brd Address 0x0\n"
             "  UART.CTRL: EN=1 MODE=0x1 (LOOPBACK) BAUD=0x1A\n" +
        kR + "Which Address (0x0): Brd Address 0x100 = 0x00000000 (0 decimal)\n"
             "  UART2.CTRL: EN=0 MODE=0x0 (NORMAL) BAUD=0x0\n" +
        kR + "Which Address (0x100): No register nope in the map\n"
             "Read from a 8-bit register in the KYN Board device.\n"
             "Which Address (0x0): Brd Address 0x2004 = 0x00 (0 decimal)\n  GPIO.PINB: LEVEL=0\n" +
        kW + "Which Address (0x0): Which Value (0x1A03): Wrote 00000003 to Brd Address 0x104\n"
             "  UART2.STATUS: RXNE=1 OVERRUN=1 [oneToClear] (warning: a read-only register)\n" +
        kW + "Which Address (0x104): Which Value (0x3): Wrote 000001FF to Brd Address 0x2000\n"
             "  GPIO.PINA: LEVEL=1 (warning: the value is wider than its 8 bits)\n" +
        kR + "Which Address (0x100): Brd Address 0x3000 = 0x00000000 (0 decimal)\n"
             "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): "
             "Memory test finished. ErrorCount=0 (warning: the range held 2 registers of the map, "
             "PWM.CHANNEL[0].TOPCMP first)\n";
    ExpectSession(MapRun({"--map", "board.svd"}, "W0\n0x1A03\nRuart2.ctrl\nRnope\nrPINB\nWUART2.STATUS\n3\n"
                                                 "WGPIO.pina\n0x1FF\nR0x3000\nM0xFF0\n0x20\nq"),
                  0, strAfter);
    // The same from the environment, and a bridge map beside it.
    ExpectSession(MapRun({}, "Ruart2.ctrl\np0\nq", {{"DUZE_MAP", "board.svd"}, {"DUZE_BRIDGE_MAP", "board.svd"}}), 0,
                  kR + "Which Address (0x0): Brd Address 0x100 = 0x00000000 (0 decimal)\n"
                       "  UART2.CTRL: EN=0 MODE=0x0 (NORMAL) BAUD=0x0\n"
                       "Read from a 32-bit register in the PCI Bridge device.\n"
                       "Which Address (0x0): Plx Address 0x0 = 0x91541D8E (-1856758386 decimal)\n"
                       "  UART.CTRL: EN=0 MODE=0x3 BAUD=0x1D\n");
}

// One-shot accesses by name, the dump, and each refusal before the library is touched.
TEST(RegisterMaps, ScriptsNameRegistersAndDumpTheMap)
{
    ToolRun run = MapRun({"--map", "board.svd", "--write", "UART.CTRL=0x1A03", "--read", "uart.ctrl", "--read8", "PINB"}, "");
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strConsole, "0x00001A03\n0x00\n");
    // The dump comes after the accesses of the same run: each width read as its register's size.
    run = MapRun({"--map", "board.svd", "--write8", "PINB=1", "--write16", "PWM.CHANNEL[1].TOPCMP=0x1234", "--dump"}, "",
                 {{"KYNSIM_FAIL", "ReadReg32:-1@0x4"}});
    EXPECT_EQ(run.nStatus, 0);
    std::vector<std::string> aLines = Lines(run.strConsole);
    ASSERT_EQ(aLines.size(), 19u);
    EXPECT_EQ(aLines[0], "Brd Address 0x0 = 0x00000000 (reset 0x00000000)  UART.CTRL: EN=0 MODE=0x0 (NORMAL) BAUD=0x0");
    EXPECT_EQ(aLines[1], "Brd Address 0x4 not read  UART.STATUS: a read has an effect (clear)");
    EXPECT_EQ(aLines[2], "Brd Address 0x8 not read  UART.TXDATA: write-only");
    EXPECT_EQ(aLines[3], "Brd Address 0xC = 0x00000000 (reset 0x00000000)  UART.CTRL2: EN=0 MODE=0x0 (NORMAL) BAUD=0x0");
    EXPECT_EQ(aLines[8], "Brd Address 0x1000 = 0x0000 (reset 0x0000)  PWM.CHANNEL[0].TOPCMP: VALUE=0x0");
    EXPECT_EQ(aLines[10], "Brd Address 0x1010 = 0x1234 (reset 0x0000)  PWM.CHANNEL[1].TOPCMP: VALUE=0x1234*");
    EXPECT_EQ(aLines[17], "Brd Address 0x2004 = 0x01 (reset 0x00)  GPIO.PINB: LEVEL=1*");
    EXPECT_EQ(aLines[18], "Brd Address 0x2008 = 0x00 (reset 0x00)  GPIO.PINC: LEVEL=0");
    struct {
        std::vector<std::string> aArgs;
        std::string strMap;
        std::string strError;
    } aCases[] = {
        {{"--read", "CTRL"}, "", "Error: 'CTRL' is no number, and the board's accesses take names from the board's "
                                 "register map, which none names (--map or DUZE_MAP)\n"},
        {{"--map", "board.svd", "--read", "CTRL"}, "", "Error: CTRL is ambiguous: UART.CTRL, UART2.CTRL\n"},
        {{"--map", "board.svd", "--read", "NOPE"}, "", "Error: No register NOPE in the map board.svd\n"},
        {{"--map", "board.svd", "--bridge-read", "PINA"}, "",
         "Error: 'PINA' is no number, and the bridge's accesses take names from the bridge's register map, which none "
         "names (--bridge-map or DUZE_BRIDGE_MAP)\n"},
        {{"/ZW0x10;7;q", "--read", "0x10"}, "", "Error: a command string (/Z) and one-shot options (--read, --list, ...) do "
                                                "not go together: give the accesses as keys in /Z, or as options\n"},
        {{"--dump"}, "", "Error: --dump needs the board's register map (--map or DUZE_MAP)\n"},
        {{"--map", "missing.svd", "/Zq"}, "", "Error: register map missing.svd: No such file or directory\n"},
        {{"--map", "board.svd", "/Zq"}, "<device>\n<peripherals>\n</device>\n",
         "Error: register map board.svd line 3: not well-formed XML: invalid closing tag name\n"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.strError);
        run = MapRun(c.aArgs, "", {}, c.strMap);
        EXPECT_EQ(run.nStatus, 2);
        EXPECT_EQ(run.strConsole, "");
        EXPECT_EQ(run.strError, c.strError);
        EXPECT_FALSE(run.bLogExists);
    }    // Names from a map reach screen and log escaped: no window title set, no screen cleared, no broken UTF-8.
    const std::string kHostile = "<device><name>X</name><peripherals><peripheral><name>P\x1b[2J</name><baseAddress>0</baseAddress>"
                                 "<registers><register><name>R\x1b]0;owned\x07</name><addressOffset>0</addressOffset><fields>"
                                 "<field><name>F\xff</name><bitRange>[1:0]</bitRange><enumeratedValues><enumeratedValue>"
                                 "<name>V\xc2\x9b" "1m</name><value>0</value></enumeratedValue></enumeratedValues></field>"
                                 "</fields></register></registers></peripheral></peripherals></device>\n";
    // A Windows console shows its code page, where 0xFF and 0xC2 0x9B are characters, not broken UTF-8.
    const std::string kEscaped = ToolIsWindows() ? "  P\\e[2J.R\\e]0;owned\\x07: F\xff=0x0 (V\xc2\x9b" "1m)\n"
                                                 : "  P\\e[2J.R\\e]0;owned\\x07: F\\xFF=0x0 (V\\xC2\\x9B1m)\n";
    run = MapRun({"--map", "board.svd", "--dump"}, "", {}, kHostile);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strConsole, "Brd Address 0x0 = 0x00000000" + kEscaped);
    run = MapRun({"--map", "board.svd", "/ZR0;W0;0;q"}, "", {}, kHostile);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.strLog.find("Brd Address 0x0 = 0x00000000 (0 decimal)\n" + kEscaped), std::string::npos) << run.strLog;
    EXPECT_NE(run.strLog.find("Wrote 00000000 to Brd Address 0x0\n" + kEscaped), std::string::npos) << run.strLog;
    EXPECT_EQ(run.strLog.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.strConsole.find('\x1b'), std::string::npos);
    // A name two registers answer to runs no command at the prompt: it lists them. In a command
    // string what follows was meant as data: the run ends there with status 2.
    run = MapRun({"--map", "board.svd"}, "Rctrl\nq");
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.strLog.find("Which Address (0x0): ctrl is ambiguous: UART.CTRL, UART2.CTRL\n"), std::string::npos) << run.strLog;
    EXPECT_EQ(run.strLog.find("Brd Address"), std::string::npos);
    run = MapRun({"--map", "board.svd", "/ZRnope;0x10;q"}, "");
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_NE(run.strLog.find("Which Address (0x0): \nError: No register nope in the map: what follows it in the script was meant "
                              "as data, not keys\n"), std::string::npos) << run.strLog;
    EXPECT_EQ(run.strLog.find("Brd Address"), std::string::npos);
    // Registers that share an address: the one named is the one decoded and warned about; an address
    // typed as a number shows each of them. One below the map's base is not on the board.
    const std::string kShared = "<device><peripherals><peripheral><name>LOW</name><baseAddress>0x100</baseAddress><registers>"
        "<register><name>R</name><addressOffset>0</addressOffset></register></registers></peripheral>"
        "<peripheral><name>P</name><baseAddress>0x1000</baseAddress><registers><register><name>STATUS</name><addressOffset>0"
        "</addressOffset><access>read-only</access><fields><field><name>BUSY</name><bitOffset>0</bitOffset></field></fields>"
        "</register><register><name>CLEAR</name><addressOffset>0</addressOffset><access>write-only</access><fields><field>"
        "<name>DONE</name><bitOffset>1</bitOffset></field></fields></register></registers></peripheral></peripherals></device>\n";
    run = MapRun({"--map", "board.svd", "--map-base", "P"}, "RSTATUS\nWCLEAR\n2\nR0\nRLOW.R\nq", {}, kShared);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.strLog.find("Which Address (0x0): Brd Address 0x0 = 0x00000000 (0 decimal)\n  P.STATUS: BUSY=0\nWrite"),
              std::string::npos) << run.strLog;
    EXPECT_NE(run.strLog.find("Wrote 00000002 to Brd Address 0x0\n  P.CLEAR: DONE=1\nRead"), std::string::npos) << run.strLog;
    EXPECT_NE(run.strLog.find("Brd Address 0x0 = 0x00000002 (2 decimal)\n  P.STATUS: BUSY=0\n  P.CLEAR: DONE=1\n"),
              std::string::npos) << run.strLog;
    EXPECT_NE(run.strLog.find("Register LOW.R is not on the board: it lies below the map's base 0x1000\n"), std::string::npos)
        << run.strLog;
    run = MapRun({"--map", "board.svd", "--map-base", "P", "--dump"}, "", {}, kShared);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strConsole, "SVD address 0x100 not on the board  LOW.R: it lies below the map's base 0x1000\n"
                              "Brd Address 0x0 = 0x00000000  P.STATUS: BUSY=0\n"
                              "Brd Address 0x0 not read  P.CLEAR: write-only\n");
    // A hex dump leaves out what the map says a read changes or cannot give (STATUS, TXDATA): -- and no read.
    run = MapRun({"--map", "board.svd", "--write", "0=0x11223344", "--hexdump", "0:16"}, "");
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strConsole, "0000:00:00.0 board registers 0x0 to 0xF\n00: 44 33 22 11 -- -- -- -- -- -- -- -- 00 00 00 00\n\n");

}
