// unit_osa_test.cpp - the console both libraries share: keys from terminal sequences, its output's
// failure, local time and upper-casing; names made printable; whether a path walked stays the
// file it opened.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "KynHwDll.h"
#include "create_file.h"
#include "osa_host.h"
#include "osa_output.h"
#include "printable.h"

namespace {

// Standard input from a pipe the test fills, for as long as the object lives.
class InputPipe {
public:
    InputPipe()
    {
        m_fdSaved = dup(0);
        int afd[2];
        EXPECT_EQ(pipe(afd), 0);
        dup2(afd[0], 0);
        close(afd[0]);
        m_fdWrite = afd[1];
    }
    ~InputPipe()
    {
        close(m_fdWrite);
        dup2(m_fdSaved, 0);
        close(m_fdSaved);
    }
    void Type(const std::string &strBytes)
    {
        EXPECT_EQ(write(m_fdWrite, strBytes.data(), strBytes.size()), (ssize_t)strBytes.size());
    }

private:
    int m_fdSaved = -1;
    int m_fdWrite = -1;
};

} // namespace

// Each key's sequence, as terminals send it, comes as the two codes the Windows console gives.
TEST(OsaKeys, TerminalSequencesBecomeTwoCodes)
{
    // Each key, as the Windows console gives it, and the sequences terminals send for it (with
    // modifiers, which leave the key as it is); a sequence nobody knows is still one key.
    const struct {
        const char *pszKey;
        int nPrefix;
        int nScan;
        std::vector<const char *> apszSequences;
    } aKeys[] = {
        {"Up", 0xE0, 0x48, {"[A", "OA"}},          {"Down", 0xE0, 0x50, {"[B", "OB"}},
        {"Right", 0xE0, 0x4D, {"[C", "OC"}},       {"Left", 0xE0, 0x4B, {"[D", "OD", "[1;5D"}},
        {"Home", 0xE0, 0x47, {"[H", "OH", "[1~", "[7~"}}, {"End", 0xE0, 0x4F, {"[F", "OF", "[4~", "[8~"}},
        {"Insert", 0xE0, 0x52, {"[2~"}},           {"Delete", 0xE0, 0x53, {"[3~"}},
        {"Page Up", 0xE0, 0x49, {"[5~", "[5;5~"}}, {"Page Down", 0xE0, 0x51, {"[6~"}},
        {"F1", 0, 0x3B, {"OP", "[11~"}},           {"F2", 0, 0x3C, {"OQ", "[12~"}},
        {"F3", 0, 0x3D, {"OR", "[13~"}},           {"F4", 0, 0x3E, {"OS", "[14~"}},
        {"F5", 0, 0x3F, {"[15~"}},                 {"F6", 0, 0x40, {"[17~"}},
        {"F7", 0, 0x41, {"[18~"}},                 {"F8", 0, 0x42, {"[19~"}},
        {"F9", 0, 0x43, {"[20~"}},                 {"F10", 0, 0x44, {"[21~"}},
        {"F11", 0xE0, 0x85, {"[23~"}},             {"F12", 0xE0, 0x86, {"[24~"}},
        {"a key nobody knows", 0xE0, 0, {"[99~", "[Z"}},
    };
    InputPipe input;
    for (const auto &key : aKeys) {
        for (const char *pszSequence : key.apszSequences) {
            SCOPED_TRACE(std::string(key.pszKey) + " " + pszSequence);
            input.Type(std::string("\x1b") + pszSequence + "k");
            EXPECT_EQ(OsaHostReadKey(), key.nPrefix);
            EXPECT_EQ(OsaHostReadKey(), key.nScan);
            EXPECT_EQ(OsaHostReadKey(), 'k');
        }
    }
    // An Escape on its own, then keys that begin no sequence, in their order.
    input.Type("\x1b");
    EXPECT_EQ(OsaHostReadKey(), 0x1B);
    input.Type("\x1bxy");
    EXPECT_EQ(OsaHostReadKey(), 0x1B);
    EXPECT_EQ(OsaHostReadKey(), 'x');
    EXPECT_EQ(OsaHostReadKey(), 'y');
}

TEST(OsaNames, ControlBytesAreEscaped)
{
    EXPECT_EQ(Printable("plain/name.log"), "plain/name.log");
    EXPECT_EQ(Printable("\x1b[2J\x07\x01\x1f\x7f\\ \xe9"), "\\e[2J\\x07\\x01\\x1F\\x7F\\ \\xE9");
    // Well-formed UTF-8 stays; a C1 control (CSI as U+009B), a lone continuation, an overlong form,
    // a surrogate and a cut-off character are escaped byte by byte.
    EXPECT_EQ(Printable("Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x94\xa7"), "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x94\xa7");
    EXPECT_EQ(Printable("\xc2\x9b" "2J \x80 \xc0\xaf \xed\xa0\x80 \xe2\x82"),
              "\\xC2\\x9B2J \\x80 \\xC0\\xAF \\xED\\xA0\\x80 \\xE2\\x82");
    EXPECT_EQ(Printable(std::string("a\0b", 3)), "a\\x00b");
    // A tab does nothing to a terminal and stays; a bidirectional override turns text around and is escaped.
    EXPECT_EQ(Printable("a\tb"), "a\tb");
#ifndef _WIN32
    EXPECT_EQ(Printable("x\xe2\x80\xaey \xe2\x81\xa6z \xd8\x9c"), "x\\u202Ey \\u2066z \\u061C");
#endif
}

// A console that cannot be written stays failed: every later text fails too, writes nothing, and
// says why with the first failure's errno. In a child, as the failure lasts for the process.
TEST(OsaOutput, AFailedConsoleStaysFailedAndSaysWhy)
{
    pid_t pid = fork();
    if (pid == 0) {
        int fdFull = open("/dev/full", O_WRONLY);
        if (fdFull < 0 || dup2(fdFull, 1) < 0)
            _exit(10);
        // Held for a file, so the text is taken; the flush finds the disk full.
        if (OsaOutputText("held", 4) != 4)
            _exit(11);
        if (OsaOutputFlush() || errno != ENOSPC)
            _exit(12);
        errno = 0;
        if (OsaOutputText("more", 4) != -1 || errno != ENOSPC)
            _exit(13);
        errno = 0;
        if (OsaOutputFlush() || errno != ENOSPC)
            _exit(14);
        _exit(0);
    }
    int nStatus = -1;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 0);
}

TEST(OsaTime, LocalTimeRefusesCountsFromTheBound)
{
    setenv("TZ", "UTC", 1);
    tzset();
    uint64_t nSeconds = 1833029933770ull;
    EXPECT_EQ(OsaStdLocalTime(&nSeconds), nullptr);
    nSeconds = UINT64_MAX;
    EXPECT_EQ(OsaStdLocalTime(&nSeconds), nullptr);
    nSeconds = 1833029933769ull;
    EXPECT_NE(OsaStdLocalTime(&nSeconds), nullptr);
    nSeconds = 0;
    const OSA_LOCAL_TIME *pTime = OsaStdLocalTime(&nSeconds);
    ASSERT_NE(pTime, nullptr);
    EXPECT_EQ(pTime->nMonth * 100 + pTime->nDayOfMonth, 1) << "TZ=UTC expected for the unit tests";
}

TEST(OsaText, StrUprChangesOnlyAsciiLetters)
{
    char szText[] = "/lmy-log_1.txt\xe4";
    EXPECT_STREQ(OsaStdStrUpr(szText), "/LMY-LOG_1.TXT\xe4");
}

// A path others cannot change may be opened again by its name: every directory on the way is the
// runner's or root's and closed to others' writes, or sticky with the next step theirs; a link or
// ".." on the way, a directory others or the group may write, and the name is not trusted again.
TEST(CreateFile, APathIsKeptOnlyWhereNobodyElseCanChangeIt)
{
    char szRoot[] = "/tmp/duze-kept-XXXXXX";
    ASSERT_NE(mkdtemp(szRoot), nullptr);
    std::string strRoot = szRoot;
    struct {
        const char *pszDir;
        mode_t nMode;
    } aDirs[] = {{"/a", 0755}, {"/w", 0777}, {"/w/x", 0755}, {"/g", 0775}, {"/g/x", 0755}, {"/s", 01777}, {"/s/x", 0755}};
    for (const auto &dir : aDirs) {
        ASSERT_EQ(mkdir((strRoot + dir.pszDir).c_str(), dir.nMode), 0);
        ASSERT_EQ(chmod((strRoot + dir.pszDir).c_str(), dir.nMode), 0);
    }
    ASSERT_EQ(symlink("a", (strRoot + "/l").c_str()), 0);
    PlantedLink planted;
    bool bKept = false;
    int fd = OpenDirectoryNoPlantedLinks(szRoot, planted, &bKept);
    ASSERT_GE(fd, 0);
    close(fd);
    if (!bKept)
        GTEST_SKIP() << strRoot << " itself may be changed by others here";
    struct {
        const char *pszPath;
        bool bKept;
    } aCases[] = {{"/a", true}, {"/w/x", false}, {"/g/x", false}, {"/s/x", true}, {"/l", false}, {"/a/../a", false}};
    for (const auto &c : aCases) {
        fd = OpenDirectoryNoPlantedLinks((strRoot + c.pszPath).c_str(), planted, &bKept);
        EXPECT_GE(fd, 0) << c.pszPath;
        EXPECT_EQ(bKept, c.bKept) << c.pszPath;
        close(fd);
    }
    // Another user's directory in a sticky one is theirs to rename.
    if (geteuid() == 0 && chown((strRoot + "/s/x").c_str(), 1, 1) == 0) {
        fd = OpenDirectoryNoPlantedLinks((strRoot + "/s/x").c_str(), planted, &bKept);
        EXPECT_FALSE(bKept);
        close(fd);
    }
    std::string strClean = "rm -rf '" + strRoot + "'";
    EXPECT_EQ(system(strClean.c_str()), 0);
}
