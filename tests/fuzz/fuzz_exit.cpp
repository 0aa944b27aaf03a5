// fuzz_exit.cpp - exit() and sleeping as fuzz targets need them: an exit ends one input, a sleep takes no time.
#include "fuzz_exit.h"

#include <signal.h>
#include <stdint.h>

#include "KynHwDll.h"

jmp_buf g_jmpToolExit;
int g_nToolExitStatus = 0;
bool g_bInToolCode = false;

extern "C" [[noreturn]] void __real_exit(int nStatus);

// A process exit is a normal outcome of the tool: the run of this input ends there.
extern "C" [[noreturn]] void __wrap_exit(int nStatus)
{
    if (!g_bInToolCode)
        __real_exit(nStatus);
    g_bInToolCode = false;
    g_nToolExitStatus = nStatus;
    longjmp(g_jmpToolExit, 1);
}

extern "C" void __wrap_OsaThreadSleep(int32_t)
{
}

void StartConsoleForFuzzing()
{
    static struct sigaction s_aBefore[NSIG];
    for (int nSignal = 1; nSignal < NSIG; ++nSignal)
        sigaction(nSignal, nullptr, &s_aBefore[nSignal]);
    OsaConsoleInit();
    for (int nSignal = 1; nSignal < NSIG; ++nSignal)
        sigaction(nSignal, &s_aBefore[nSignal], nullptr);
}
