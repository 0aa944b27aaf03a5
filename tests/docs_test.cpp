// docs_test.cpp - the README and the manual page against the tool: every example runs as written,
// the board table is the tool's own, every library setting is described, man has nothing to warn about.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "board_table.h"
#include "e2e_harness.h"
#include "fake_sysfs.h"

namespace {

std::string SourceText(const std::string &strName)
{
    return ReadFile(std::string(DUZE_SOURCE_DIR) + "/" + strName);
}

// The text between a line holding strBegin and the next line holding strEnd (or the end of the
// text), those lines left out.
std::string Between(const std::string &strText, const std::string &strBegin, const std::string &strEnd)
{
    size_t nBegin = strText.find(strBegin);
    if (nBegin == std::string::npos)
        return "(no " + strBegin + ")";
    nBegin = strText.find('\n', nBegin) + 1;
    size_t nEnd = strText.find(strEnd, nBegin);
    if (nEnd == std::string::npos)
        return strText.substr(nBegin);
    return strText.substr(nBegin, strText.rfind('\n', nEnd) + 1 - nBegin);
}

// A command line of an example: settings, then the tool, or a pipe into it. A synopsis, with
// <placeholders>, is none.
bool IsExample(const std::string &strLine)
{
    if (strLine.find('<') != std::string::npos)
        return false;
    if (strLine.compare(0, 7, "printf ") == 0) {
        size_t nPipe = strLine.find('|');
        return nPipe != std::string::npos &&
               strLine.find_first_not_of(' ', nPipe + 1) == strLine.find("duzedevazu", nPipe);
    }
    size_t nAt = 0;
    // Settings first: NAME=value words, the name upper case.
    while (nAt < strLine.size() && isupper(static_cast<unsigned char>(strLine[nAt]))) {
        size_t nEnd = strLine.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_", nAt);
        size_t nSpace = strLine.find(' ', nAt);
        if (nEnd == std::string::npos || strLine[nEnd] != '=' || nSpace == std::string::npos)
            return false;
        nAt = nSpace + 1;
    }
    for (const char *pszTool : {"duzedevazu ", "duzedevazu-pci "})
        if (strLine.compare(nAt, strlen(pszTool), pszTool) == 0)
            return true;
    return false;
}

// The README's examples are the command lines of its indented blocks; the manual page's the
// lines of EXAMPLES between .nf and .fi, unescaped.
std::vector<std::string> Examples()
{
    std::vector<std::string> aExamples;
    for (const std::string &strLine : Lines(SourceText("README.md")))
        if (strLine.compare(0, 4, "    ") == 0 && IsExample(strLine.substr(4)))
            aExamples.push_back(strLine.substr(4));
    bool bIn = false;
    for (std::string strLine : Lines(Between(SourceText("docs/duzedevazu.1"), ".SH EXAMPLES", ".SH "))) {
        if (strLine == ".nf" || strLine == ".fi") {
            bIn = strLine == ".nf";
            continue;
        }
        if (!bIn || strLine.empty() || strLine[0] == '.')
            continue;
        for (const auto &escape : {std::make_pair("\\e", "\\"), std::make_pair("\\-", "-"),
                                   std::make_pair("\\(aq", "'"), std::make_pair("\\(dq", "\"")})
            for (size_t nAt; (nAt = strLine.find(escape.first)) != std::string::npos;)
                strLine.replace(nAt, strlen(escape.first), escape.second);
        if (IsExample(strLine))
            aExamples.push_back(strLine);
    }
    return aExamples;
}

// A board for the PCI examples, 10b5:9054 at 0000:03:00.0 with a 1 MiB memory BAR0, memory decoding on.
void MakeExampleTree(const std::string &strDir)
{
    std::string strResource = "0x00000000fe000000 0x00000000fe0fffff 0x0000000000040200\n";
    for (int i = 0; i < 6; ++i)
        strResource += kNoBars;
    MakeTree(strDir, {{"0000:03:00.0", "0x10b5", "0x9054", ConfigBytes({{0x000, "b510549002"}}, 256), strResource,
                       {{0, 1u << 20}}, ""}});
}

// Each example in a directory of its own, by sh, with the built programs first on the PATH, the
// PCI examples on a fake sysfs tree, and nothing on standard input.
TEST(Docs, EveryExampleRunsAsWritten)
{
    std::vector<std::string> aExamples = Examples();
    EXPECT_GE(aExamples.size(), 7u);
    for (const std::string &strExample : aExamples) {
        SCOPED_TRACE(strExample);
        if (strExample.find("duzedevazu-pci") != std::string::npos && !DUZE_PCI_BUILT)
            continue;
        char szDir[] = "/tmp/duze-docs-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        std::string strDir = szDir;
        MakeExampleTree(strDir);
        // The shipped maps, where the package installs them, are the source tree's here.
        std::string strScript = strExample;
        const std::string kInstalled = "/usr/share/duzedevazu/maps/";
        for (size_t nAt; (nAt = strScript.find(kInstalled)) != std::string::npos;)
            strScript.replace(nAt, kInstalled.size(), std::string(DUZE_SOURCE_DIR) + "/maps/");
        WriteFile(strDir + "/example.sh", strScript + "\n");
        std::string strCommand = "cd " + strDir + " && PATH=" DUZE_BIN_DIR ":$PATH KYNPCI_SYSFS=" + strDir +
                                 "/sys KYNPCI_CONF=/dev/null TZ=UTC sh example.sh </dev/null >output.txt 2>&1";
        int nStatus = system(strCommand.c_str());
        std::string strOutput = ReadFile(strDir + "/output.txt");
        EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << strOutput;
        for (const char *pszFailure : {"ERROR(", "Error:", "bad setting", "not found", "Unknown command"}) {
            EXPECT_EQ(strOutput.find(pszFailure), std::string::npos) << strOutput;
        }
        if (strExample.find("&& echo passed") != std::string::npos) {
            EXPECT_NE(strOutput.find("\npassed\n"), std::string::npos) << strOutput;
        }
        EXPECT_EQ(system(("rm -rf " + strDir).c_str()), 0);
    }
}

// A command's standard output.
std::string OutputOf(const std::string &strCommand)
{
    std::string strText;
    if (FILE *pPipe = popen(strCommand.c_str(), "r")) {
        char acBuffer[4096];
        for (size_t n; (n = fread(acBuffer, 1, sizeof acBuffer, pPipe)) > 0;)
            strText.append(acBuffer, n);
        pclose(pPipe);
    }
    return strText;
}

// roff text: a hyphen as the ASCII one, so that names read and paste as the tool prints them.
std::string Roff(const std::string &strText)
{
    std::string strOut;
    for (char c : strText)
        strOut += c == '-' ? std::string("\\-") : std::string(1, c);
    return strOut;
}

std::string Opening(const BoardType &type)
{
    std::string strOpening = type.pszOpening;
    return strOpening.substr(0, strOpening.size() - 1);
}

// The board table as both documents show it, made from the tool's own: usage text order, then the
// letter the usage leaves out.
std::vector<const BoardType *> BoardsInUsageOrder()
{
    std::vector<const BoardType *> apTypes;
    for (int nPlace = 0; BoardAtUsageLine(nPlace) != nullptr; ++nPlace)
        apTypes.push_back(BoardAtUsageLine(nPlace));
    for (int i = 0; i < g_nBoardTypeCount; ++i)
        if (g_aBoardTypeTable[i].pszUsageName == nullptr)
            apTypes.push_back(&g_aBoardTypeTable[i]);
    return apTypes;
}

TEST(Docs, BoardTablesAreTheTools)
{
    std::string strMarkdown = "| `/T` | code | in the usage text | at start-up | PCI bridge | CPLD text |\n"
                              "|---|---|---|---|---|---|\n";
    std::string strRoff;
    for (const BoardType *pType : BoardsInUsageOrder()) {
        std::string strUsage = pType->pszUsageName != nullptr ? pType->pszUsageName : "";
        strMarkdown += std::string("| `") + pType->cLetter + "` | " + std::to_string(pType->nCode) + " | " +
                       (strUsage.empty() ? "(not shown)" : std::string("`") + pType->cLetter + "  = Use " + strUsage + "`") +
                       " | `" + Opening(*pType) + "` | " + (pType->bBridge ? "yes" : "no") + " | " +
                       (pType->bCpld ? "yes" : "no") + " |\n";
        strRoff += std::string(".TP\n.B ") + pType->cLetter + "\ncode " + std::to_string(pType->nCode) + ", " +
                   (strUsage.empty() ? "not in the usage text" : "\\(lqUse " + Roff(strUsage) + "\\(rq in the usage text") +
                   ", \\(lq" + Roff(Opening(*pType)) + "\\(rq at start\\-up" + (pType->bBridge ? "" : ", no PCI bridge") +
                   (pType->bCpld ? "" : ", no CPLD build text") + ".\n";
    }
    EXPECT_EQ(Between(SourceText("README.md"), "<!-- board table", "<!-- end of the board table"), strMarkdown)
        << "The README's board table should read:\n" << strMarkdown;
    EXPECT_EQ(Between(SourceText("docs/duzedevazu.1"), ".\\\" board table", ".\\\" end of the board table"), strRoff)
        << "The manual page's board table should read:\n" << strRoff;
}

// Every setting of the two libraries' tables, in the README's tables and as an entry of the manual
// page's ENVIRONMENT.
TEST(Docs, EverySettingIsDescribedInBoth)
{
    std::string strReadme = SourceText("README.md");
    std::string strEnvironment = Between(SourceText("docs/duzedevazu.1"), ".SH ENVIRONMENT", ".SH ");
    std::vector<std::string> aNames;
    for (const char *pszSource : {"hwlib/sim/sim_settings.cpp", "hwlib/pci/pci_settings.cpp"}) {
        std::string strSource = SourceText(pszSource);
        // The table rows read {"KYNSIM_NAME", Parse...
        for (size_t nAt = strSource.find("{\"KYN"); nAt != std::string::npos;
             nAt = strSource.find("{\"KYN", nAt + 1)) {
            size_t nEnd = strSource.find('"', nAt + 2);
            if (nEnd != std::string::npos && strSource.compare(nEnd, 8, "\", Parse") == 0)
                aNames.push_back(strSource.substr(nAt + 2, nEnd - nAt - 2));
        }
    }
    EXPECT_EQ(aNames.size(), 22u);
    // And in --help of the program whose library reads it.
    std::string strHelp = OutputOf(DUZE_BIN_DIR "/duzedevazu --help");
    if (DUZE_PCI_BUILT)
        strHelp += OutputOf(DUZE_BIN_DIR "/duzedevazu-pci --help");
    for (const std::string &strName : aNames) {
        if (DUZE_PCI_BUILT || strName.compare(0, 7, "KYNSIM_") == 0) {
            EXPECT_NE(strHelp.find("\n " + strName + " "), std::string::npos) << strName;
        }
        EXPECT_NE(strReadme.find("| `" + strName + "` |"), std::string::npos) << strName;
        EXPECT_NE(strEnvironment.find(".BI " + strName + "="), std::string::npos) << strName;
    }
}

TEST(Docs, ManPageHasNothingToWarnAbout)
{
    if (system("man --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no man";
    char szOut[] = "/tmp/duze-man-XXXXXX";
    int fd = mkstemp(szOut);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string strCommand = "MANWIDTH=80 man --warnings -l " DUZE_SOURCE_DIR "/docs/duzedevazu.1 2>" +
                             std::string(szOut) + " >/dev/null";
    EXPECT_EQ(system(strCommand.c_str()), 0);
    EXPECT_EQ(ReadFile(szOut), "");
    unlink(szOut);
}

} // namespace
