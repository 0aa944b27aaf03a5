// console_win32.cpp - the simulated library's host part on Windows: console, keys, lines, sleep, clock, local time.
#include <conio.h>
#include <io.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <windows.h>

#include <string>
#include <vector>

#include "sim_internal.h"

volatile sig_atomic_t g_nSimPendingSignal = 0;

namespace {

// Command string handed over by OsaConsoleInput; read before the keyboard.
const char *g_pszInput = nullptr;

// Whether standard input is the console (keys come one at a time from it) or a pipe or file.
bool g_bStdinConsole = false;
bool g_bInitDone = false;
// Set while a read waits on the console, where an interrupt must end the run at once.
volatile LONG g_nWaitingForKey = 0;

// Ctrl-C and Ctrl-Break arrive on a thread of their own. Noted, they end the run at the
// next library call; a run blocked on the keyboard is ended from here (the log stream's
// lock keeps the close from meeting a half-written line).
BOOL WINAPI OnConsoleControl(DWORD nEvent)
{
    if (nEvent != CTRL_C_EVENT && nEvent != CTRL_BREAK_EVENT && nEvent != CTRL_CLOSE_EVENT)
        return FALSE;
    g_nSimPendingSignal = SIGINT;
    g_hSimFastBoard = kSimNoFastBoard;
    if (g_nWaitingForKey != 0)
        exit(128 + SIGINT);
    return TRUE;
}

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

int ReadStreamChar()
{
    int c = getchar();
    if (c == EOF)
        SimCheckSignal();
    return c;
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

// One key from the console, without echo; extended keys come as two codes, as _getch gives them.
int ReadConsoleKey()
{
    InterlockedExchange(&g_nWaitingForKey, 1);
    int c = _getch();
    InterlockedExchange(&g_nWaitingForKey, 0);
    SimCheckSignal();
    return c;
}

// Echoed line editing on the console: Backspace removes, Enter ends, past 63 characters keys are dropped.
void ReadLineFromConsole(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        int c = ReadConsoleKey();
        if (c == '\r' || c == '\n' || c == 0x1A) {
            fputs("\n", stdout);
            break;
        }
        if (c == 0 || c == 0xE0) {
            ReadConsoleKey(); // the second code of a function or arrow key
            continue;
        }
        if (c == 0x08 || c == 0x7F) {
            if (nLength > 0) {
                --nLength;
                fputs("\b \b", stdout);
            }
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
    // Committed pages read 0 and take memory only when first touched.
    return (uint8_t *)VirtualAlloc(nullptr, nSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void SimHostDiscardWindow(uint8_t *pWindow, size_t nSize)
{
    VirtualFree(pWindow, nSize, MEM_DECOMMIT);
    VirtualAlloc(pWindow, nSize, MEM_COMMIT, PAGE_READWRITE);
}

uint64_t SimHostTime100ns()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
}

std::vector<std::pair<std::string, std::string>> SimHostEnvironment()
{
    std::vector<std::pair<std::string, std::string>> aEnv;
    for (char **ppsz = _environ; ppsz != nullptr && *ppsz != nullptr; ++ppsz) {
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
    exit(128 + g_nSimPendingSignal);
}

void SimHostFatal(const std::string &strMessage)
{
    fflush(stdout);
    fprintf(stderr, "%s\n", strMessage.c_str());
    fflush(stderr);
    _exit(2);
}

extern "C" {

void OsaConsoleInit(void)
{
    SimGetSettings();
    if (g_bInitDone)
        return;
    g_bInitDone = true;
    DWORD nMode = 0;
    g_bStdinConsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &nMode) != 0;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void OsaConsoleExit(void)
{
    fflush(stdout);
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
    if (!g_bStdinConsole) {
        c = ReadStreamChar();
        return c == EOF ? -1 : c;
    }
    return ReadConsoleKey();
}

char *OsaConsoleGetStr(char *pszBuffer)
{
    SimCheckSignal();
    if (g_pszInput != nullptr && *g_pszInput != '\0') {
        ReadLineFromInput(pszBuffer);
        return pszBuffer;
    }
    fflush(stdout);
    if (g_bStdinConsole)
        ReadLineFromConsole(pszBuffer);
    else
        ReadLineFromStream(pszBuffer);
    return pszBuffer;
}

void OsaThreadSleep(int32_t nMilliseconds)
{
    // In slices, so that Ctrl-C ends a long sleep promptly.
    while (nMilliseconds > 0) {
        DWORD nSlice = nMilliseconds > 100 ? 100 : (DWORD)nMilliseconds;
        Sleep(nSlice);
        nMilliseconds -= (int32_t)nSlice;
        SimCheckSignal();
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
    if (pnSeconds == nullptr || *pnSeconds >= 1833029933770ull || *pnSeconds > (uint64_t)INT64_MAX)
        return nullptr;
    __time64_t nTime = (__time64_t)*pnSeconds;
    struct tm local;
    if (_localtime64_s(&local, &nTime) != 0)
        return nullptr;
    s_time.nSecond = local.tm_sec;
    s_time.nMinute = local.tm_min;
    s_time.nHour = local.tm_hour;
    s_time.nDayOfMonth = local.tm_mday;
    s_time.nMonth = local.tm_mon;
    return &s_time;
}

} // extern "C"
