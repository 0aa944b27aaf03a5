// osa_host_win32.cpp - the shared console's host layer on Windows: console keys, Ctrl-C, sleep, clock,
// local time and the environment.
#include <conio.h>
#include <io.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <windows.h>

#include "osa_host.h"
#include "osa_library.h"
#include "osa_output.h"

volatile sig_atomic_t g_nOsaPendingSignal = 0;

namespace {

// Whether standard input is the console (keys come one at a time from it) or a pipe or file.
bool g_bStdinConsole = false;
bool g_bInitDone = false;
// Set while a read waits on the console, where an interrupt must end the run at once.
volatile LONG g_nWaitingForKey = 0;
// The console's input mode at start: a run that Ctrl-C ends while _getch has the console in
// raw mode puts it back, so that Ctrl-C stays Ctrl-C for whatever runs next.
DWORD g_nInputModeAtStart = 0;

void RestoreInputMode()
{
    if (g_bStdinConsole)
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), g_nInputModeAtStart);
}

// Ctrl-C and Ctrl-Break arrive on a thread of their own. Noted, they end the run at the
// next library call; a run blocked on the keyboard is ended from here.
BOOL WINAPI OnConsoleControl(DWORD nEvent)
{
    if (nEvent != CTRL_C_EVENT && nEvent != CTRL_BREAK_EVENT && nEvent != CTRL_CLOSE_EVENT)
        return FALSE;
    g_nOsaPendingSignal = SIGINT;
    // Noted before the main thread's look at it below, or seen waiting here: never neither.
    MemoryBarrier();
    if (g_pfnOsaOnInterrupt != nullptr)
        g_pfnOsaOnInterrupt();
    if (g_nWaitingForKey != 0) {
        RestoreInputMode();
        exit(128 + SIGINT);
    }
    return TRUE;
}

// The console gets what it holds at every exit; Ctrl-C ends the run through exit while the
// main thread waits for a key, when nothing is being written.
void FlushAtExit()
{
    OsaOutputFlushAtExit(g_nOsaPendingSignal != 0);
}

} // namespace

bool OsaHostInputCanDrop()
{
    return false;
}

bool OsaHostWaitInput()
{
    return true;
}

bool OsaHostKeyboardInput()
{
    return g_bStdinConsole;
}

// One key from the console without echo; function and arrow keys come as two codes, 0 or
// 0xE0 first, as _getch gives them. A Ctrl-C typed while the tool waits arrives here as a
// key, not as the console's interrupt, and ends the run the same way.
int OsaHostReadKey()
{
    InterlockedExchange(&g_nWaitingForKey, 1);
    // A Ctrl-C that came after the last library call but before the wait would otherwise wait
    // for the next key.
    if (g_nOsaPendingSignal != 0) {
        InterlockedExchange(&g_nWaitingForKey, 0);
        OsaCheckSignal();
    }
    int c = _getch();
    InterlockedExchange(&g_nWaitingForKey, 0);
    if (c == 0x03)
        g_nOsaPendingSignal = SIGINT;
    OsaCheckSignal();
    return c;
}

bool OsaHostLocalTime(int64_t nSeconds, struct tm *pTime)
{
    __time64_t nTime = (__time64_t)nSeconds;
    return _localtime64_s(pTime, &nTime) == 0;
}

uint64_t OsaTime100ns()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
}

long OsaHostWriteOutput(const char *pText, size_t nLength)
{
    // Through the standard output stream, in text mode: the C runtime writes each line end as
    // CR LF, and a missing standard output was reopened on NUL as that stream.
    size_t nWritten = fwrite(pText, 1, nLength, stdout);
    if (fflush(stdout) != 0 || nWritten < nLength) {
        clearerr(stdout);
        return nWritten > 0 ? (long)nWritten : -1;
    }
    return (long)nWritten;
}

bool OsaHostOutputIsTerminal()
{
    DWORD nMode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &nMode) != 0;
}

// Pipes and the console never refuse a write; they take it or fail.
FILE *OsaHostCreateFile(const char *pszName, std::string &)
{
    return fopen(pszName, "w");
}

bool OsaHostWaitOutputWritable(int)
{
    errno = EIO;
    return false;
}

char **OsaHostEnvironmentBlock()
{
    return _environ;
}

void OsaEndOnSignal()
{
    exit(128 + g_nOsaPendingSignal);
}

void OsaHostConsoleInit()
{
    if (g_bInitDone)
        return;
    g_bInitDone = true;
    DWORD nMode = 0;
    g_bStdinConsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &nMode) != 0;
    g_nInputModeAtStart = nMode;
    atexit(RestoreInputMode);
    atexit(FlushAtExit);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void OsaHostConsoleExit()
{
}

void OsaHostSleep(int32_t nMilliseconds)
{
    // In slices, so that Ctrl-C ends a long sleep promptly.
    while (nMilliseconds > 0) {
        DWORD nSlice = nMilliseconds > 100 ? 100 : (DWORD)nMilliseconds;
        Sleep(nSlice);
        nMilliseconds -= (int32_t)nSlice;
        OsaCheckSignal();
    }
}
