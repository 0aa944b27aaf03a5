// osa_host_posix.cpp - the shared console's host layer on POSIX: terminal, keys, interrupts, sleep, clock,
// local time and the environment.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "create_file.h"
#include "osa_host.h"
#include "osa_library.h"
#include "osa_output.h"
#include "printable.h"

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
// Key mode is on: the terminal has the tool's settings, not the ones found at start.
volatile sig_atomic_t g_bKeyMode = 0;
// The terminal is this process's controlling terminal, whose hang-up sends SIGHUP.
bool g_bControllingTerminal = false;
// Wakes a console write that waits, so that an interrupt that came just before it is seen:
// its signal does nothing but end the wait.
timer_t g_wakeTimer;
bool g_bWakeTimer = false;
int g_nOutputIsFile = -1;
void OnWake(int)
{
}

// Set once the run is on its way out (the console ended, or an interrupt ends it): exit
// handlers run, and an interrupt from then on ends the process at once.
volatile sig_atomic_t g_bLeaving = 0;

// tcsetattr from a background process raises SIGTTOU, which would stop a run that is ending:
// held while the settings change. Safe in a signal handler.
void SetTerminal(const struct termios &settings)
{
    sigset_t ttou, before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &before);
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

void RestoreTerminal()
{
    if (g_bTermiosSaved && g_bKeyMode) {
        SetTerminal(g_termiosSaved);
        g_bKeyMode = 0;
    }
}

// Keys one at a time without echo for the whole run: keys typed while the tool is busy
// must not show up on the screen, nor wait for Enter. Output processing is left alone, and
// the interrupt key does not discard output already queued: the screen shows what the log has.
// Only in the foreground: a run continued in the background leaves the shell's terminal alone.
// Once the run is leaving, nothing enters it again: a SIGCONT or the end of a stop after the
// final restore would leave the shell a terminal without echo.
void EnterKeyMode()
{
    if (!g_bTermiosSaved || g_bLeaving || tcgetpgrp(STDIN_FILENO) != getpgrp())
        return;
    struct termios raw = g_termiosSaved;
    raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
    raw.c_lflag |= NOFLSH;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    SetTerminal(raw);
    g_bKeyMode = 1;
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

// First interrupt: noted, acted on at the next library call. A second one while the run
// ends (a stuck write, say) ends the process at once with the terminal put back; the tool's
// own handler has written the log's pending bytes first.
void OnInterrupt(int nSignal)
{
    if (g_nOsaPendingSignal == 0) {
        g_nOsaPendingSignal = nSignal;
        if (g_pfnOnInterrupt != nullptr)
            g_pfnOnInterrupt();
        return;
    }
    int nEnding = g_nOsaPendingSignal != 0 ? (int)g_nOsaPendingSignal : nSignal;
    RestoreTerminal();
    RaiseDefault(nEnding);
    _exit(128 + nEnding);
}

// Whether SIGHUP ends the run here (it is not ignored, as under nohup).
bool g_bCatchesHangUp = false;

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
        if (nSignal == SIGRTMAX) // the console's wake-up
            continue;
        struct sigaction found;
        if (sigaction(nSignal, nullptr, &found) != 0 || (found.sa_flags & SA_SIGINFO) != 0 ||
            found.sa_handler != SIG_DFL)
            continue;
        g_aFound[nSignal] = found;
        if (nSignal == SIGHUP)
            g_bCatchesHangUp = true;
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_sigaction = OnSignal;
        action.sa_flags = SA_SIGINFO; // no SA_RESTART: a read or sleep that waits returns
        sigfillset(&action.sa_mask);
        sigaction(nSignal, &action, nullptr);
    }
}

// Registered first, so it runs after every other exit handler: the log is closed by
// then, the console gets what it holds (without waiting, when an interrupt ends the run), and
// the process ends by the signal as a shell expects of an interrupted program.
void FinishAtExit()
{
    int nSignal = g_nOsaPendingSignal;
    OsaOutputFlushAtExit(nSignal != 0);
    if (nSignal == 0)
        return;
    RestoreTerminal();
    RaiseDefault(nSignal);
}

// Ctrl-Z: the shell gets its terminal back as it was, and key mode returns when the run
// continues in the foreground. The action in place stays in place: the tool's own handler,
// which writes the log's pending bytes first, runs at every stop, not only the first.
void OnStop(int nSignal)
{
    int nErrno = errno;
    RestoreTerminal();
    struct sigaction stop, inPlace;
    memset(&stop, 0, sizeof stop);
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    sigaction(nSignal, &stop, &inPlace);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, nSignal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(nSignal);
    sigaction(nSignal, &inPlace, nullptr);
    EnterKeyMode();
    errno = nErrno;
}

// A run continued after a stop it did not see (SIGSTOP, a read from the background) takes key
// mode back when it is in the foreground, always from the saved settings: the shell that ran fg
// has put its own settings on the terminal, whatever the run believes.
void OnContinue(int)
{
    int nErrno = errno;
    EnterKeyMode();
    errno = nErrno;
}

// The terminal's last restore, at exit: from here on the run is leaving.
void LeaveKeyModeAtExit()
{
    g_bLeaving = 1;
    RestoreTerminal();
}

// A terminal in key mode reads nothing only when it is hung up; the kernel then sends SIGHUP
// to the run whose controlling terminal it is, a moment later: the run ends as a hang-up,
// not as a failed read.
void AwaitHangUp()
{
    if (!g_bKeyMode || !g_bControllingTerminal || !g_bCatchesHangUp)
        return;
    for (int i = 0; i < 100 && g_nOsaPendingSignal == 0; ++i) {
        struct timespec wait = {0, 10 * 1000 * 1000};
        nanosleep(&wait, nullptr);
    }
    OsaCheckSignal();
}

} // namespace

bool OsaHostKeyboardInput()
{
    return g_bStdinTty;
}

bool OsaHostInputCanDrop()
{
    struct stat info;
    return fstat(STDIN_FILENO, &info) == 0 && S_ISSOCK(info.st_mode);
}

bool OsaHostWaitInput()
{
    struct pollfd wait = {STDIN_FILENO, POLLIN, 0};
    return poll(&wait, 1, -1) >= 0;
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
        AwaitHangUp();
        errno = nErrno;
        return n == 0 ? OSA_KEY_END_OF_INPUT : OSA_KEY_READ_ERROR;
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

long OsaHostWriteOutput(const char *pText, size_t nLength)
{
    if (g_nOutputIsFile < 0) {
        struct stat info;
        g_nOutputIsFile = fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode) ? 1 : 0;
    }
    // A file's write never waits; any other is woken while it waits.
    if (g_nOutputIsFile == 1 || !g_bWakeTimer)
        return (long)write(STDOUT_FILENO, pText, nLength);
    struct itimerspec wake = {{0, kOsaStallMs * 1000000L}, {0, kOsaStallMs * 1000000L}}, off = {{0, 0}, {0, 0}};
    timer_settime(g_wakeTimer, 0, &wake, nullptr);
    ssize_t nWritten = write(STDOUT_FILENO, pText, nLength);
    int nErrno = errno;
    timer_settime(g_wakeTimer, 0, &off, nullptr);
    errno = nErrno;
    return (long)nWritten;
}

bool OsaHostOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

bool OsaHostWaitOutputWritable(int nMilliseconds)
{
    for (;;) {
        struct pollfd wait = {STDOUT_FILENO, POLLOUT, 0};
        int nReady = poll(&wait, 1, nMilliseconds);
        if (nReady == 1)
            return (wait.revents & POLLOUT) != 0 || (errno = EIO, false);
        if (nReady == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR || nMilliseconds >= 0)
            return false;
    }
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
    int nSignal = g_nOsaPendingSignal;
    // Exit handlers are running already: the process ends here, by the signal.
    if (g_bLeaving) {
        RestoreTerminal();
        RaiseDefault(nSignal);
        _exit(128 + nSignal);
    }
    g_bLeaving = 1;
    // Writes to a closed pipe must not interrupt the way out.
    signal(SIGPIPE, SIG_IGN);
    exit(128 + nSignal);
}

void OsaFatal(const std::string &strMessage)
{
    OsaOutputFlush();
    // Names and values from outside (paths, settings) can reach the screen only as printable text.
    fprintf(stderr, "%s\n", Printable(strMessage).c_str());
    // Through the exit handlers: the tool's log keeps what was shown, the terminal is put back.
    exit(2);
}

void OsaHostConsoleInit()
{
    if (g_bInitDone)
        return;
    g_bInitDone = true;
    atexit(FinishAtExit);
    g_bStdinTty = isatty(STDIN_FILENO) != 0;
    if (g_bStdinTty && tcgetattr(STDIN_FILENO, &g_termiosSaved) == 0) {
        g_bTermiosSaved = true;
        g_bControllingTerminal = tcgetsid(STDIN_FILENO) == getsid(0);
        atexit(LeaveKeyModeAtExit);
        CatchSignal(SIGTSTP, OnStop);
        CatchSignal(SIGCONT, OnContinue);
        EnterKeyMode();
    }
    CatchEndingSignals();
    CatchSignal(SIGRTMAX, OnWake);
    struct sigevent event;
    memset(&event, 0, sizeof event);
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGRTMAX;
    g_bWakeTimer = timer_create(CLOCK_MONOTONIC, &event, &g_wakeTimer) == 0;
}

void OsaHostConsoleExit()
{
    g_bLeaving = 1;
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

FILE *OsaHostCreateFile(const char *pszName, std::string &strWhy)
{
    PlantedLink planted;
    int fd = CreateFileNoPlantedLinks(pszName, O_WRONLY | O_CREAT | O_NOCTTY, planted);
    if (fd < 0) {
        std::string strMade = "user " + std::to_string(planted.nOwner) +
                              " made in a directory others may write: it is not followed";
        if (planted.bFound && planted.bDirectory)
            strWhy = "its directory " + planted.strLink + " is a link that " + strMade;
        else if (planted.bFound)
            strWhy = "it is a link that " + strMade;
        else
            strWhy = "cannot create the file";
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        for (int fdStd : {0, 1, 2}) {
            if (SameFile(fd, fdStd)) {
                close(fd);
                static const char *const s_apszStandard[] = {"it is the tool's standard input",
                                                             "it is the tool's standard output",
                                                             "it is the tool's standard error"};
                strWhy = s_apszStandard[fdStd];
                return nullptr;
            }
        }
        if (ftruncate(fd, 0) != 0) {
            strWhy = std::string("cannot empty the file: ") + strerror(errno);
            close(fd);
            return nullptr;
        }
    }
    FILE *pFile = fdopen(fd, "w");
    if (pFile == nullptr) {
        strWhy = "cannot create the file";
        close(fd);
    }
    return pFile;
}
