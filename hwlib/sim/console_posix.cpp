// console_posix.cpp - the simulated library's host part on POSIX: console, keys, lines, sleep, clock, local time.
#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_internal.h"

extern char **environ;

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

void OnFatalSignal(int nSignal)
{
    RestoreTerminal();
    signal(nSignal, SIG_DFL);
    raise(nSignal);
}

// Keys one at a time without echo, for as long as one read lasts.
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

// One byte from the terminal; -1 at its end.
int ReadTerminalByte()
{
    unsigned char c = 0;
    for (;;) {
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1)
            return c;
        if (n < 0 && errno == EINTR)
            continue;
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

void ReadLineFromStream(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        int c = getchar();
        if (c == EOF || c == '\n')
            break;
        if (c == '\r') {
            int cNext = getchar();
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
    bool bKeyMode = EnterKeyMode();
    for (;;) {
        int c = ReadTerminalByte();
        if (c < 0 || c == '\n' || c == '\r') {
            if (bKeyMode)
                fputs("\n", stdout);
            break;
        }
        if (!bKeyMode) {
            if (nLength < 63)
                pszBuffer[nLength++] = (char)c;
            continue;
        }
        if (c == 0x7F || c == 0x08) {
            if (nLength > 0) {
                --nLength;
                fputs("\b \b", stdout);
                fflush(stdout);
            }
        } else if (c == 0x04 && nLength == 0) {
            fputs("\n", stdout);
            break;
        } else if (c >= 0x20 && nLength < 63) {
            pszBuffer[nLength++] = (char)c;
            fputc(c, stdout);
            fflush(stdout);
        }
    }
    RestoreTerminal();
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
    g_bStdinTty = isatty(STDIN_FILENO) != 0;
    if (g_bStdinTty && tcgetattr(STDIN_FILENO, &g_termiosSaved) == 0) {
        g_bTermiosSaved = true;
        atexit(RestoreTerminal);
        const int anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
        for (int nSignal : anSignals) {
            struct sigaction action;
            memset(&action, 0, sizeof action);
            action.sa_handler = OnFatalSignal;
            sigemptyset(&action.sa_mask);
            sigaction(nSignal, &action, nullptr);
        }
    }
}

void OsaConsoleExit(void)
{
    fflush(stdout);
    RestoreTerminal();
}

int32_t OsaConsolePrintF(const char *pszFormat, va_list args)
{
    return vfprintf(stdout, pszFormat, args);
}

void OsaConsoleInput(const char *pszText)
{
    g_pszInput = pszText;
}

int32_t OsaConsoleGetCh(void)
{
    static size_t s_nKeysUsed = 0; // of the KYNSIM_KEYS codes
    const std::vector<int32_t> &anKeys = SimGetSettings().anKeys;
    if (s_nKeysUsed < anKeys.size())
        return anKeys[s_nKeysUsed++];
    int c = NextInputChar();
    if (c >= 0)
        return c;
    fflush(stdout);
    if (!g_bStdinTty) {
        c = getchar();
        return c == EOF ? -1 : c;
    }
    bool bKeyMode = EnterKeyMode();
    c = ReadTerminalByte();
    if (bKeyMode)
        RestoreTerminal();
    return c;
}

char *OsaConsoleGetStr(char *pszBuffer)
{
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
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
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
