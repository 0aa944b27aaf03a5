// console_posix.cpp - the simulated library's host part on POSIX: console, keys, lines, sleep, clock, local time.
#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_internal.h"

extern char **environ;

volatile sig_atomic_t g_nSimPendingSignal = 0;

namespace {

// Command string handed over by OsaConsoleInput; read before the keyboard.
const char *g_pszInput = nullptr;

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

// First interrupt: noted, acted on at the next library call. A second one while the
// run ends (a stuck write, say) ends the process at once with the terminal put back.
void OnInterrupt(int nSignal)
{
    if (g_nSimPendingSignal != 0) {
        RestoreTerminal();
        _exit(128 + g_nSimPendingSignal);
    }
    g_nSimPendingSignal = nSignal;
    g_hSimFastBoard = kSimNoFastBoard;
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
    signal(nSignal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, nSignal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(nSignal);
}

// Keys one at a time without echo for the whole run: keys typed while the tool is busy
// must not show up on the screen, nor wait for Enter. Output processing is left alone.
bool EnterKeyMode()
{
    if (!g_bTermiosSaved)
        return false;
    struct termios raw = g_termiosSaved;
    raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    return tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

// Ctrl-Z: the shell gets its terminal back as it was, and key mode returns on continue.
void OnStop(int nSignal)
{
    int nErrno = errno;
    RestoreTerminal();
    signal(nSignal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, nSignal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(nSignal);
    // Continued.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    sigaction(nSignal, &action, nullptr);
    EnterKeyMode();
    errno = nErrno;
}

// One byte from the terminal; -1 at its end.
int ReadTerminalByte()
{
    unsigned char c = 0;
    for (;;) {
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1)
            return c;
        if (n < 0 && errno == EINTR) {
            SimCheckSignal();
            continue;
        }
        return -1;
    }
}

// Next command-string character, or -1 when the string is used up.
inline int NextInputChar()
{
    if (g_pszInput == nullptr || *g_pszInput == '\0')
        return -1;
    return (unsigned char)*g_pszInput++;
}

void ReadLineFromInput(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        char c = *g_pszInput;
        if (c == '\0')
            break;
        ++g_pszInput;
        if (c == '\n' || c == ';')
            break;
        if (c == '\r') {
            if (*g_pszInput == '\n')
                ++g_pszInput;
            break;
        }
        if (nLength < 63)
            pszBuffer[nLength++] = c;
    }
    pszBuffer[nLength] = '\0';
}

// getchar, but an interrupt ends the run instead of looking like the end of input.
int ReadStreamChar()
{
    for (;;) {
        int c = getchar();
        if (c != EOF)
            return c;
        SimCheckSignal();
        if (!ferror(stdin) || errno != EINTR)
            return EOF;
        clearerr(stdin);
    }
}

void ReadLineFromStream(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        int c = ReadStreamChar();
        if (c == EOF || c == '\n')
            break;
        if (c == '\r') {
            int cNext = ReadStreamChar();
            if (cNext != '\n' && cNext != EOF)
                ungetc(cNext, stdin);
            break;
        }
        if (nLength < 63)
            pszBuffer[nLength++] = (char)c;
    }
    pszBuffer[nLength] = '\0';
}

// Echoed line editing on the terminal: Backspace removes, Enter ends, past 63 characters keys are dropped.
void ReadLineFromTerminal(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        int c = ReadTerminalByte();
        if (c < 0 || c == '\n' || c == '\r') {
            fputs("\n", stdout);
            break;
        }
        if (c == 0x7F || c == 0x08) {
            if (nLength > 0) {
                --nLength;
                fputs("\b \b", stdout);
            }
        } else if (c == 0x04 && nLength == 0) {
            fputs("\n", stdout);
            break;
        } else if (c >= 0x20 && nLength < 63) {
            pszBuffer[nLength++] = (char)c;
            fputc(c, stdout);
        }
        fflush(stdout);
    }
    pszBuffer[nLength] = '\0';
}

} // namespace

void SimConsolePrint(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vfprintf(stdout, pszFormat, args);
    va_end(args);
}

uint8_t *SimHostReserveWindow(size_t nSize)
{
    // Aligned to 2 MiB and marked for huge pages: a memory test touching the whole window
    // then costs a few hundred page faults rather than tens of thousands.
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
    std::vector<std::pair<std::string, std::string>> aEnv;
    for (char **ppsz = environ; ppsz != nullptr && *ppsz != nullptr; ++ppsz) {
        if (strncmp(*ppsz, "KYNSIM_", 7) != 0)
            continue;
        const char *pszEq = strchr(*ppsz, '=');
        if (pszEq == nullptr)
            continue;
        aEnv.emplace_back(std::string(*ppsz, (size_t)(pszEq - *ppsz)), std::string(pszEq + 1));
    }
    return aEnv;
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
    RestoreTerminal();
    _exit(2);
}

extern "C" {

void OsaConsoleInit(void)
{
    SimGetSettings();
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
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnStop;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTSTP, &action, nullptr);
        EnterKeyMode();
    }
    // No SA_RESTART: a read or sleep that is waiting returns, and the run ends promptly.
    const int anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    for (int nSignal : anSignals) {
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnInterrupt;
        sigfillset(&action.sa_mask);
        sigaction(nSignal, &action, nullptr);
    }
}

void OsaConsoleExit(void)
{
    fflush(stdout);
    RestoreTerminal();
}

int32_t OsaConsolePrintF(const char *pszFormat, va_list args)
{
    SimCheckSignal();
    return vfprintf(stdout, pszFormat, args);
}

void OsaConsoleInput(const char *pszText)
{
    g_pszInput = pszText;
}

int32_t OsaConsoleGetCh(void)
{
    SimCheckSignal();
    static size_t s_nKeysUsed = 0; // of the KYNSIM_KEYS codes
    const std::vector<int32_t> &anKeys = SimGetSettings().anKeys;
    if (s_nKeysUsed < anKeys.size())
        return anKeys[s_nKeysUsed++];
    int c = NextInputChar();
    if (c >= 0)
        return c;
    fflush(stdout);
    if (!g_bStdinTty) {
        c = ReadStreamChar();
        return c == EOF ? -1 : c;
    }
    return ReadTerminalByte();
}

char *OsaConsoleGetStr(char *pszBuffer)
{
    SimCheckSignal();
    if (g_pszInput != nullptr && *g_pszInput != '\0') {
        ReadLineFromInput(pszBuffer);
        return pszBuffer;
    }
    fflush(stdout);
    if (g_bStdinTty)
        ReadLineFromTerminal(pszBuffer);
    else
        ReadLineFromStream(pszBuffer);
    return pszBuffer;
}

void OsaThreadSleep(int32_t nMilliseconds)
{
    if (nMilliseconds <= 0)
        return;
    struct timespec wait = {(time_t)(nMilliseconds / 1000), (long)(nMilliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR)
        SimCheckSignal();
}

char *OsaStdStrUpr(char *pszText)
{
    for (char *p = pszText; p != nullptr && *p != '\0'; ++p)
        if (*p >= 'a' && *p <= 'z')
            *p = (char)(*p - 'a' + 'A');
    return pszText;
}

const OSA_LOCAL_TIME *OsaStdLocalTime(const uint64_t *pnSeconds)
{
    static OSA_LOCAL_TIME s_time; // as the C library's localtime, one record reused
    if (pnSeconds == nullptr || *pnSeconds >= 1833029933770ull)
        return nullptr;
    time_t nTime = (time_t)*pnSeconds;
    if ((uint64_t)nTime != *pnSeconds)
        return nullptr;
    struct tm local;
    if (localtime_r(&nTime, &local) == nullptr)
        return nullptr;
    s_time.nSecond = local.tm_sec;
    s_time.nMinute = local.tm_min;
    s_time.nHour = local.tm_hour;
    s_time.nDayOfMonth = local.tm_mday;
    s_time.nMonth = local.tm_mon;
    return &s_time;
}

} // extern "C"
