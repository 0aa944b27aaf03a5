// fuzz_exit.h - lets a fuzz target survive the tool's exit(): the link redirects the tool's calls here.
#ifndef DUZE_FUZZ_EXIT_H
#define DUZE_FUZZ_EXIT_H

#include <setjmp.h>

// Where __wrap_exit returns to; set by the target around each run of tool code.
extern jmp_buf g_jmpToolExit;
extern int g_nToolExitStatus;
// Set while tool code runs: libFuzzer's own exits, which the link redirects too, go to the real exit.
extern bool g_bInToolCode;

// OsaConsoleInit for a fuzz target: the library's signal handlers are taken back out, so
// that libFuzzer's own, installed after its initialisation, catch crashes and timeouts.
void StartConsoleForFuzzing();

#endif
