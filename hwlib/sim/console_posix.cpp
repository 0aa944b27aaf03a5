// console_posix.cpp - the simulated library's host part on POSIX: terminal, interrupts, sleep, clock,
// local time and board memory.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "sim_internal.h"

extern char **environ;

volatile sig_atomic_t g_nSimPendingSignal = 0;

namespace {

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
    if (g_nSimPendingSignal != 0) {
        RestoreTerminal();
        RaiseDefault(g_nSimPendingSignal);
        _exit(128 + g_nSimPendingSignal);
    }
    g_nSimPendingSignal = nSignal;
    g_hSimFastBoard = kSimNoFastBoard;
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
    int nSignal = g_nSimPendingSignal;
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

bool SimHostKeyboardInput()
{
    return g_bStdinTty;
}

int SimHostReadKey()
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
        SimCheckSignal();
    }
}

int SimHostReadLineKey()
{
    return SimHostReadKey();
}

bool SimHostLocalTime(int64_t nSeconds, struct tm *pTime)
{
    time_t nTime = (time_t)nSeconds;
    return (int64_t)nTime == nSeconds && localtime_r(&nTime, pTime) != nullptr;
}

uint8_t *SimHostReserveWindow(size_t nSize)
{
    // Aligned to 2 MiB and marked for huge pages: a memory test touching the whole window
    // then costs a few dozen page faults rather than tens of thousands.
    const size_t nAlign = 2u << 20;
    void *pMapped = mmap(nullptr, nSize + nAlign, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                         -1, 0);
    if (pMapped == MAP_FAILED)
        return nullptr;
    uintptr_t nStart = ((uintptr_t)pMapped + nAlign - 1) & ~(uintptr_t)(nAlign - 1);
    size_t nHead = nStart - (uintptr_t)pMapped;
    if (nHead > 0)
        munmap(pMapped, nHead);
    if (nAlign - nHead > 0)
        munmap((uint8_t *)nStart + nSize, nAlign - nHead);
#ifdef MADV_HUGEPAGE
    madvise((void *)nStart, nSize, MADV_HUGEPAGE);
#endif
    return (uint8_t *)nStart;
}

void SimHostDiscardWindow(uint8_t *pWindow, size_t nSize)
{
    madvise(pWindow, nSize, MADV_DONTNEED);
}

uint64_t SimHostTime100ns()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (uint64_t)now.tv_sec * 10000000u + (uint64_t)now.tv_nsec / 100u + 116444736000000000ull;
}

std::vector<std::pair<std::string, std::string>> SimHostEnvironment()
{
    return SimParseEnvironment(environ);
}

void SimHostEndOnSignal()
{
    // Writes to a closed pipe must not interrupt the way out.
    signal(SIGPIPE, SIG_IGN);
    exit(128 + g_nSimPendingSignal);
}

void SimHostFatal(const std::string &strMessage)
{
    fflush(stdout);
    fprintf(stderr, "%s\n", strMessage.c_str());
    // Through the exit handlers: the tool's log keeps what was shown, the terminal is put back.
    exit(2);
}

void SimHostConsoleInit()
{
    if (g_bInitDone)
        return;
    g_bInitDone = true;
    atexit(DieBySignalAtExit);
    // Output to a file or pipe goes in large blocks; a terminal keeps its line buffering.
    if (isatty(STDOUT_FILENO) == 0)
        setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    g_bStdinTty = isatty(STDIN_FILENO) != 0;
    if (g_bStdinTty && tcgetattr(STDIN_FILENO, &g_termiosSaved) == 0) {
        g_bTermiosSaved = true;
        atexit(RestoreTerminal);
        CatchSignal(SIGTSTP, OnStop);
        EnterKeyMode();
    }
    CatchEndingSignals();
}

void SimHostConsoleExit()
{
    RestoreTerminal();
}

void SimHostSleep(int32_t nMilliseconds)
{
    if (nMilliseconds <= 0)
        return;
    struct timespec wait = {(time_t)(nMilliseconds / 1000), (long)(nMilliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR)
        SimCheckSignal();
}
