// sim_host_win32.cpp - the simulated library's host layer on Windows: console keys, Ctrl-C, sleep, clock,
// local time and board memory.
#include <conio.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <windows.h>

#include "sim_internal.h"

volatile sig_atomic_t g_nSimPendingSignal = 0;

namespace {

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

} // namespace

bool SimHostKeyboardInput()
{
    return g_bStdinConsole;
}

// One key from the console without echo; function and arrow keys come as two codes, 0 or
// 0xE0 first, as _getch gives them. A Ctrl-C typed while the tool waits arrives here as a
// key, not as the console's interrupt, and ends the run the same way.
int SimHostReadKey()
{
    InterlockedExchange(&g_nWaitingForKey, 1);
    int c = _getch();
    InterlockedExchange(&g_nWaitingForKey, 0);
    if (c == 0x03)
        g_nSimPendingSignal = SIGINT;
    SimCheckSignal();
    return c;
}

bool SimHostLocalTime(int64_t nSeconds, struct tm *pTime)
{
    __time64_t nTime = (__time64_t)nSeconds;
    return _localtime64_s(pTime, &nTime) == 0;
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
    return SimParseEnvironment(_environ);
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
    // Through the exit handlers: the tool's log keeps what was shown.
    exit(2);
}

void SimHostConsoleInit()
{
    if (g_bInitDone)
        return;
    g_bInitDone = true;
    DWORD nMode = 0;
    g_bStdinConsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &nMode) != 0;
    // Output to a file or pipe goes in large blocks.
    DWORD nOutMode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &nOutMode) == 0)
        setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void SimHostConsoleExit()
{
}

void SimHostSleep(int32_t nMilliseconds)
{
    // In slices, so that Ctrl-C ends a long sleep promptly.
    while (nMilliseconds > 0) {
        DWORD nSlice = nMilliseconds > 100 ? 100 : (DWORD)nMilliseconds;
        Sleep(nSlice);
        nMilliseconds -= (int32_t)nSlice;
        SimCheckSignal();
    }
}
