// unit_osa_test.cpp - the console both libraries share: keys from terminal sequences, names made printable.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "osa_host.h"
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
    void Type(const std::string &strBytes) { EXPECT_EQ(write(m_fdWrite, strBytes.data(), strBytes.size()), (ssize_t)strBytes.size()); }

private:
    int m_fdSaved = -1;
    int m_fdWrite = -1;
};

} // namespace

// Each key's sequence, as terminals send it, comes as the two codes the Windows console gives.
TEST(OsaKeys, TerminalSequencesBecomeTwoCodes)
{
    const struct {
        const char *pszSequence;
        int nPrefix;
        int nScan;
    } aKeys[] = {
        {"[A", 0xE0, 0x48},   {"OA", 0xE0, 0x48},   {"[B", 0xE0, 0x50},   {"OB", 0xE0, 0x50},   {"[C", 0xE0, 0x4D},
        {"OC", 0xE0, 0x4D},   {"[D", 0xE0, 0x4B},   {"OD", 0xE0, 0x4B},   {"[H", 0xE0, 0x47},   {"OH", 0xE0, 0x47},
        {"[1~", 0xE0, 0x47},  {"[7~", 0xE0, 0x47},  {"[F", 0xE0, 0x4F},   {"OF", 0xE0, 0x4F},   {"[4~", 0xE0, 0x4F},
        {"[8~", 0xE0, 0x4F},  {"[2~", 0xE0, 0x52},  {"[3~", 0xE0, 0x53},  {"[5~", 0xE0, 0x49},  {"[6~", 0xE0, 0x51},
        {"OP", 0, 0x3B},      {"OQ", 0, 0x3C},      {"OR", 0, 0x3D},      {"OS", 0, 0x3E},      {"[11~", 0, 0x3B},
        {"[12~", 0, 0x3C},    {"[13~", 0, 0x3D},    {"[14~", 0, 0x3E},    {"[15~", 0, 0x3F},    {"[17~", 0, 0x40},
        {"[18~", 0, 0x41},    {"[19~", 0, 0x42},    {"[20~", 0, 0x43},    {"[21~", 0, 0x44},    {"[23~", 0xE0, 0x85},
        {"[24~", 0xE0, 0x86},
        // Modifiers leave the key as it is; a sequence nobody knows is still one key.
        {"[1;5D", 0xE0, 0x4B}, {"[5;5~", 0xE0, 0x49}, {"[99~", 0xE0, 0}, {"[Z", 0xE0, 0},
    };
    InputPipe input;
    for (const auto &key : aKeys) {
        SCOPED_TRACE(key.pszSequence);
        input.Type(std::string("\x1b") + key.pszSequence + "k");
        EXPECT_EQ(OsaHostReadKey(), key.nPrefix);
        EXPECT_EQ(OsaHostReadKey(), key.nScan);
        EXPECT_EQ(OsaHostReadKey(), 'k');
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
    EXPECT_EQ(Printable("\x1b[2J\x07\x01\x1f\x7f\\ \xe9"), "\\e[2J\\x07\\x01\\x1F\\x7F\\ \xe9");
    EXPECT_EQ(Printable(std::string("a\0b", 3)), "a\\x00b");
}
