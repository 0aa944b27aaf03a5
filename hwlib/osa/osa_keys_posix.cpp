// osa_keys_posix.cpp - the shared console's keys on POSIX: bytes from the terminal, and the escape
// sequences of arrow, editing and function keys turned into the two codes the Windows console gives.
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "osa_host.h"
#include "osa_library.h"
#include "osa_posix.h"

namespace {

// Codes of a key already read and not yet handed over: the second code of a function or
// arrow key, or bytes read after an Escape that began no key's sequence.
int g_anKeysAhead[8];
int g_nKeysAhead = 0;

int ReadTerminalByte()
{
    unsigned char c = 0;
    for (;;) {
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1)
            return c;
        if (n < 0 && errno == EINTR) {
            OsaCheckSignal();
            continue;
        }
        // A terminal another program left non-blocking: wait for the key.
        if (n < 0 && errno == EAGAIN && (OsaHostWaitInput() || errno == EINTR)) {
            OsaCheckSignal();
            continue;
        }
        int nErrno = errno;
        OsaAwaitHangUp();
        errno = nErrno;
        return n == 0 ? OSA_KEY_END_OF_INPUT : OSA_KEY_READ_ERROR;
    }
}

// A terminal sends a key's sequence at once; a byte that is not there within kOsaKeySequenceMs
// belongs to the next key, and the Escape stood alone.
int ReadSequenceByte()
{
    struct pollfd wait = {STDIN_FILENO, POLLIN, 0};
    return poll(&wait, 1, kOsaKeySequenceMs) == 1 ? ReadTerminalByte() : -1;
}

// The two codes the Windows console gives for a key, from the sequence a terminal sends
// after its Escape: 0xE0 (0 for F1 to F10) and the key's scan code.
struct KeySequence {
    const char *pszSequence;
    int nPrefix;
    int nScan;
};
const KeySequence g_aKeySequences[] = {
    {"[A", 0xE0, 0x48},  {"OA", 0xE0, 0x48},  {"[B", 0xE0, 0x50},  {"OB", 0xE0, 0x50},  {"[C", 0xE0, 0x4D},
    {"OC", 0xE0, 0x4D},  {"[D", 0xE0, 0x4B},  {"OD", 0xE0, 0x4B},  {"[H", 0xE0, 0x47},  {"OH", 0xE0, 0x47},
    {"[1~", 0xE0, 0x47}, {"[7~", 0xE0, 0x47}, {"[F", 0xE0, 0x4F},  {"OF", 0xE0, 0x4F},  {"[4~", 0xE0, 0x4F},
    {"[8~", 0xE0, 0x4F}, {"[2~", 0xE0, 0x52}, {"[3~", 0xE0, 0x53}, {"[5~", 0xE0, 0x49}, {"[6~", 0xE0, 0x51},
    {"OP", 0, 0x3B},     {"OQ", 0, 0x3C},     {"OR", 0, 0x3D},     {"OS", 0, 0x3E},     {"[11~", 0, 0x3B},
    {"[12~", 0, 0x3C},   {"[13~", 0, 0x3D},   {"[14~", 0, 0x3E},   {"[15~", 0, 0x3F},   {"[17~", 0, 0x40},
    {"[18~", 0, 0x41},   {"[19~", 0, 0x42},   {"[20~", 0, 0x43},   {"[21~", 0, 0x44},   {"[23~", 0xE0, 0x85},
    {"[24~", 0xE0, 0x86},
};

// After an Escape: the key whose sequence follows, as its two codes; a sequence this table
// does not know is still one key (0xE0, 0). An Escape followed by no sequence is itself.
int ReadEscapeKey()
{
    int cIntro = ReadSequenceByte();
    if (cIntro != '[' && cIntro != 'O') {
        if (cIntro >= 0)
            g_anKeysAhead[g_nKeysAhead++] = cIntro;
        return 0x1B;
    }
    std::string strKey(1, (char)cIntro);
    // Parameters (digits and ';') up to the final byte, which is a letter or '~'. A longer sequence
    // than any key of the table (xterm's ESC [ 27 ; 5 ; 106 ~ for Ctrl-J) is still read to its end,
    // so that no byte of it is taken for a key ('~' sleeps), and is one unknown key.
    bool bLonger = false;
    for (int c = ReadSequenceByte(); c >= 0; c = ReadSequenceByte()) {
        bLonger = bLonger || strKey.size() == 8;
        if (!bLonger)
            strKey += (char)c;
        if (cIntro == 'O' || c < '0' || c > ';')
            break;
    }
    // Modifiers (ESC [ 1 ; 5 A for Ctrl-Up, ESC [ 5 ; 5 ~ for Ctrl-Page Up) leave the key as it is.
    size_t nSemicolon = strKey.find(';');
    if (nSemicolon != std::string::npos)
        strKey.erase(nSemicolon, strKey.size() - 1 - nSemicolon);
    if (strKey.size() == 3 && strKey[1] == '1' && strKey[2] != '~')
        strKey.erase(1, 1);
    for (const KeySequence &key : g_aKeySequences) {
        if (!bLonger && strKey == key.pszSequence) {
            g_anKeysAhead[g_nKeysAhead++] = key.nScan;
            return key.nPrefix;
        }
    }
    g_anKeysAhead[g_nKeysAhead++] = 0;
    return 0xE0;
}

} // namespace

int OsaHostReadKey()
{
    if (g_nKeysAhead > 0) {
        int c = g_anKeysAhead[0];
        --g_nKeysAhead;
        memmove(g_anKeysAhead, g_anKeysAhead + 1, (size_t)g_nKeysAhead * sizeof g_anKeysAhead[0]);
        return c;
    }
    int c = ReadTerminalByte();
    return c == 0x1B ? ReadEscapeKey() : c;
}
