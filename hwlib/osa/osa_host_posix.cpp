// osa_host_posix.cpp - the shared console's host layer on POSIX: terminal, keys, interrupts, sleep, clock,
// local time and the environment.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "osa_host.h"
#include "osa_library.h"

extern char **environ;

volatile sig_atomic_t g_nOsaPendingSignal = 0;

namespace {

// The library's hook for the first interrupt (OsaOnInterrupt), or null.
void (*volatile g_pfnOnInterrupt)() = nullptr;

// Terminal settings as found at start, put back on every way out.
bool g_bStdinTty = false;
bool g_bTermiosSaved = false;
struct termios g_termiosSaved;
bool g_bInitDone = false;

void RestoreTerminal()
{
    if (g_bTermiosSaved)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_termiosSaved);
}

// Keys one at a time without echo for the whole run: keys typed while the tool is busy
// must not show up on the screen, nor wait for Enter. Output processing is left alone.
void EnterKeyMode()
{
    if (!g_bTermiosSaved)
        return;
    struct termios raw = g_termiosSaved;
    raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

// No SA_RESTART: a read or sleep that is waiting returns, and the run ends promptly.
void CatchSignal(int nSignal, void (*pfnHandler)(int))
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = pfnHandler;
    sigemptyset(&action.sa_mask);
    sigaction(nSignal, &action, nullptr);
}

// Lets a signal that is handled here take its default course now.
void RaiseDefault(int nSignal)
{
    signal(nSignal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, nSignal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(nSignal);
}

// First interrupt: noted, acted on at the next library call. A second one while the
// run ends (a stuck write, say) ends the process at once with the terminal put back.
void OnInterrupt(int nSignal)
{
    if (g_nOsaPendingSignal != 0) {
        RestoreTerminal();
        RaiseDefault(g_nOsaPendingSignal);
        _exit(128 + g_nOsaPendingSignal);
    }
    g_nOsaPendingSignal = nSignal;
    if (g_pfnOnInterrupt != nullptr)
        g_pfnOnInterrupt();
}

// The actions found at start for the signals caught here.
struct sigaction g_aFound[NSIG];

// Signals that report a fault of the process itself when the kernel or the process sends them.
bool IsFault(int nSignal)
{
    return nSignal == SIGSEGV || nSignal == SIGBUS || nSignal == SIGILL || nSignal == SIGFPE || nSignal == SIGTRAP ||
           nSignal == SIGSYS || nSignal == SIGABRT;
}

void OnSignal(int nSignal, siginfo_t *pInfo, void *)
{
    if (IsFault(nSignal) && (pInfo->si_code > 0 || pInfo->si_pid == getpid())) {
        // A crash cannot wait for the next library call: the terminal is put back and the
        // signal takes the course it had before.
        RestoreTerminal();
        sigaction(nSignal, &g_aFound[nSignal], nullptr);
        raise(nSignal);
        return;
    }
    // The write that passed the file-size limit fails, and its writer says so.
    if (nSignal == SIGXFSZ && pInfo->si_code == SI_USER && pInfo->si_pid == getpid())
        return;
    OnInterrupt(nSignal);
}

// Every signal whose default action ends the process and that can be caught ends the run
// the same way, unless whoever started the tool ignores or handles it (nohup, a sanitizer).
void CatchEndingSignals()
{
    for (int nSignal = 1; nSignal < NSIG; ++nSignal) {
        switch (nSignal) {
        case SIGCHLD: case SIGCONT: case SIGURG: case SIGWINCH:                 // ignored by default
        case SIGSTOP: case SIGKILL: case SIGTSTP: case SIGTTIN: case SIGTTOU:   // stop, or cannot be caught
            continue;
        }
        struct sigaction found;
        if (sigaction(nSignal, nullptr, &found) != 0 || (found.sa_flags & SA_SIGINFO) != 0 ||
            found.sa_handler != SIG_DFL)
            continue;
        g_aFound[nSignal] = found;
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_sigaction = OnSignal;
        action.sa_flags = SA_SIGINFO; // no SA_RESTART: a read or sleep that waits returns
        sigfillset(&action.sa_mask);
        sigaction(nSignal, &action, nullptr);
    }
}

// Registered first, so it runs after every other exit handler: the log is closed by
// then, and the process ends by the signal as a shell expects of an interrupted program.
void DieBySignalAtExit()
{
    int nSignal = g_nOsaPendingSignal;
    if (nSignal == 0)
        return;
    fflush(stdout);
    RestoreTerminal();
    RaiseDefault(nSignal);
}

// Ctrl-Z: the shell gets its terminal back as it was, and key mode returns on continue.
void OnStop(int nSignal)
{
    int nErrno = errno;
    RestoreTerminal();
    RaiseDefault(nSignal);
    CatchSignal(nSignal, OnStop);
    EnterKeyMode();
    errno = nErrno;
}

} // namespace

bool OsaHostKeyboardInput()
{
    return g_bStdinTty;
}

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
        if (n == 0)
            return OSA_KEY_END_OF_INPUT;
        if (errno != EINTR)
            return OSA_KEY_READ_ERROR;
        OsaCheckSignal();
    }
}

// A terminal sends a key's sequence at once; a byte that is not there within this time
// belongs to the next key, and the Escape stood alone.
int ReadSequenceByte()
{
    struct pollfd wait = {STDIN_FILENO, POLLIN, 0};
    return poll(&wait, 1, 50) == 1 ? ReadTerminalByte() : -1;
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
    // Parameters (digits and ';') up to the final byte, which is a letter or '~'.
    for (int c = ReadSequenceByte(); c >= 0 && strKey.size() < 8; c = ReadSequenceByte()) {
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
        if (strKey == key.pszSequence) {
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

bool OsaHostLocalTime(int64_t nSeconds, struct tm *pTime)
{
    time_t nTime = (time_t)nSeconds;
    return (int64_t)nTime == nSeconds && localtime_r(&nTime, pTime) != nullptr;
}

uint64_t OsaTime100ns()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (uint64_t)now.tv_sec * 10000000u + (uint64_t)now.tv_nsec / 100u + 116444736000000000ull;
}

char **OsaHostEnvironmentBlock()
{
    return environ;
}

void OsaOnInterrupt(void (*pfnOnInterrupt)())
{
    g_pfnOnInterrupt = pfnOnInterrupt;
}

void OsaEndOnSignal()
{
    // Writes to a closed pipe must not interrupt the way out.
    signal(SIGPIPE, SIG_IGN);
    exit(128 + g_nOsaPendingSignal);
}

void OsaFatal(const std::string &strMessage)
{
    fflush(stdout);
    fprintf(stderr, "%s\n", strMessage.c_str());
    // Through the exit handlers: the tool's log keeps what was shown, the terminal is put back.
    exit(2);
}

void OsaHostConsoleInit()
{
    if (g_bInitDone)
        return;
    g_bInitDone = true;
    atexit(DieBySignalAtExit);
    // Output to a file or pipe goes in large blocks; a terminal gets each print at once, as a
    // console would show it, a line that is redrawn in place included.
    setvbuf(stdout, nullptr, isatty(STDOUT_FILENO) == 0 ? _IOFBF : _IONBF, isatty(STDOUT_FILENO) == 0 ? 64 * 1024 : 0);
    g_bStdinTty = isatty(STDIN_FILENO) != 0;
    if (g_bStdinTty && tcgetattr(STDIN_FILENO, &g_termiosSaved) == 0) {
        g_bTermiosSaved = true;
        atexit(RestoreTerminal);
        CatchSignal(SIGTSTP, OnStop);
        EnterKeyMode();
    }
    CatchEndingSignals();
}

void OsaHostConsoleExit()
{
    RestoreTerminal();
}

void OsaHostSleep(int32_t nMilliseconds)
{
    if (nMilliseconds <= 0)
        return;
    struct timespec wait = {(time_t)(nMilliseconds / 1000), (long)(nMilliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR)
        OsaCheckSignal();
}
