// osa_signals_posix.cpp - the shared console's signals on POSIX: an interrupt noted and acted on at the
// next library call, faults passed on, Ctrl-Z and fg with the terminal put back and taken again.
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "osa_host.h"
#include "osa_library.h"
#include "osa_output.h"
#include "osa_posix.h"

volatile sig_atomic_t g_nOsaPendingSignal = 0;

namespace {

void OnWake(int)
{
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
        if (g_pfnOsaOnInterrupt != nullptr)
            g_pfnOsaOnInterrupt();
        return;
    }
    int nEnding = g_nOsaPendingSignal != 0 ? (int)g_nOsaPendingSignal : nSignal;
    OsaRestoreTerminal();
    RaiseDefault(nEnding);
    _exit(128 + nEnding);
}

// Whether SIGHUP ends the run here (it is not ignored, as under nohup).
bool g_bCatchesHangUp = false;

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
        // signal takes the course it had before, the default (any other was left in place).
        OsaRestoreTerminal();
        signal(nSignal, SIG_DFL);
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
// One call sets each and gives the action it replaces, which is put back where it was not the
// default: half the calls of asking first, which a one-shot read's start-up felt. Only default
// actions are replaced, so none needs keeping: a fault puts the default back. Every signal
// waits meanwhile, so none meets an action that is about to be put back.
void CatchEndingSignals()
{
    sigset_t all, before;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &before);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO; // no SA_RESTART: a read or sleep that waits returns
    sigfillset(&action.sa_mask);
    for (int nSignal = 1; nSignal < NSIG; ++nSignal) {
        switch (nSignal) {
        case SIGCHLD: case SIGCONT: case SIGURG: case SIGWINCH:                 // ignored by default
        case SIGSTOP: case SIGKILL: case SIGTSTP: case SIGTTIN: case SIGTTOU:   // stop, or cannot be caught
            continue;
        }
        if (nSignal == kOsaWakeSignal)
            continue;
        struct sigaction found;
        if (sigaction(nSignal, &action, &found) != 0)
            continue;
        if ((found.sa_flags & SA_SIGINFO) != 0 || found.sa_handler != SIG_DFL) {
            sigaction(nSignal, &found, nullptr);
            continue;
        }
        if (nSignal == SIGHUP)
            g_bCatchesHangUp = true;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
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
    OsaRestoreTerminal();
    RaiseDefault(nSignal);
}

// Ctrl-Z: the shell gets its terminal back as it was, and key mode returns when the run
// continues in the foreground. The action in place stays in place: the tool's own handler,
// which writes the log's pending bytes first, runs at every stop, not only the first.
void OnStop(int nSignal)
{
    int nErrno = errno;
    OsaRestoreTerminal();
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
    OsaEnterKeyMode();
    errno = nErrno;
}

// A run continued after a stop it did not see (SIGSTOP, a read from the background) takes key
// mode back when it is in the foreground, always from the saved settings: the shell that ran fg
// has put its own settings on the terminal, whatever the run believes.
void OnContinue(int)
{
    int nErrno = errno;
    OsaEnterKeyMode();
    errno = nErrno;
}

// The terminal's last restore, at exit: from here on the run is leaving.
void LeaveKeyModeAtExit()
{
    g_bOsaLeaving = 1;
    OsaRestoreTerminal();
}

} // namespace

// A terminal in key mode reads nothing only when it is hung up; the kernel then sends SIGHUP
// to the run whose controlling terminal it is, a moment later: the run ends as a hang-up,
// not as a failed read.
void OsaAwaitHangUp()
{
    if (!g_bOsaKeyMode || !g_bOsaControllingTerminal || !g_bCatchesHangUp)
        return;
    for (int i = 0; i < kOsaHangUpWaitMs / 10 && g_nOsaPendingSignal == 0; ++i) {
        struct timespec wait = {0, 10 * 1000 * 1000};
        nanosleep(&wait, nullptr);
    }
    OsaCheckSignal();
}


void OsaCatchSignals(bool bTerminal)
{
    atexit(FinishAtExit);
    if (bTerminal) {
        atexit(LeaveKeyModeAtExit);
        CatchSignal(SIGTSTP, OnStop);
        CatchSignal(SIGCONT, OnContinue);
    }
    CatchEndingSignals();
    CatchSignal(kOsaWakeSignal, OnWake);
}

void OsaEndOnSignal()
{
    int nSignal = g_nOsaPendingSignal;
    // Exit handlers are running already: the process ends here, by the signal.
    if (g_bOsaLeaving) {
        OsaRestoreTerminal();
        RaiseDefault(nSignal);
        _exit(128 + nSignal);
    }
    g_bOsaLeaving = 1;
    // Writes to a closed pipe must not interrupt the way out.
    signal(SIGPIPE, SIG_IGN);
    exit(128 + nSignal);
}

