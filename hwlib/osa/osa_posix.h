// osa_posix.h - what the shared console's POSIX host files share: the terminal's key mode, and the
// signals that end, stop and continue the run.
#ifndef KYN_OSA_POSIX_H
#define KYN_OSA_POSIX_H

#include <signal.h>

// The terminal (osa_terminal_posix.cpp) --------------------------------------------------------

// Standard input is a terminal; it is this process's controlling terminal, whose hang-up sends SIGHUP.
extern bool g_bOsaStdinTty;
extern bool g_bOsaControllingTerminal;
// Key mode is on: the terminal has the console's settings, not the ones found at start.
extern volatile sig_atomic_t g_bOsaKeyMode;
// Set once the run is on its way out (the console ended, or an interrupt ends it): exit
// handlers run, and an interrupt from then on ends the process at once.
extern volatile sig_atomic_t g_bOsaLeaving;
// Saves the terminal's settings and enters key mode, where standard input is a terminal; false
// where it is not. Both calls below are safe in a signal handler.
bool OsaTerminalStart();
void OsaEnterKeyMode();
void OsaRestoreTerminal();

// Signals (osa_signals_posix.cpp) ---------------------------------------------------------------

// Catches the signals that end, stop (at a terminal) and continue the run, and the console's wake-up.
void OsaCatchSignals(bool bTerminal);
// The signal that wakes a console write that waits; it does nothing else.
const int kOsaWakeSignal = SIGRTMAX;
// A terminal in key mode reads nothing only when it is hung up; the kernel then sends SIGHUP
// to the run whose controlling terminal it is, a moment later: the run ends as a hang-up,
// not as a failed read.
void OsaAwaitHangUp();

#endif
