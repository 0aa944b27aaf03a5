// osa_terminal_posix.cpp - the shared console's terminal on POSIX: its settings saved at start, key
// mode (keys one at a time, no echo) entered and left, and put back on every way out.
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "osa_posix.h"

bool g_bOsaStdinTty = false;
bool g_bOsaControllingTerminal = false;
volatile sig_atomic_t g_bOsaKeyMode = 0;
volatile sig_atomic_t g_bOsaLeaving = 0;

namespace {

// Terminal settings as found at start, put back on every way out.
bool g_bTermiosSaved = false;
struct termios g_termiosSaved;

// tcsetattr from a background process raises SIGTTOU, which would stop a run that is ending:
// held while the settings change. Safe in a signal handler.
void SetTerminal(const struct termios &settings)
{
    sigset_t ttou, before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &before);
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

} // namespace

void OsaRestoreTerminal()
{
    if (g_bTermiosSaved && g_bOsaKeyMode) {
        SetTerminal(g_termiosSaved);
        g_bOsaKeyMode = 0;
    }
}

// Keys one at a time without echo for the whole run: keys typed while the tool is busy
// must not show up on the screen, nor wait for Enter. Output processing is left alone, and
// the interrupt key does not discard output already queued: the screen shows what the log has.
// Only in the foreground: a run continued in the background leaves the shell's terminal alone.
// Once the run is leaving, nothing enters it again: a SIGCONT or the end of a stop after the
// final restore would leave the shell a terminal without echo.
void OsaEnterKeyMode()
{
    if (!g_bTermiosSaved || g_bOsaLeaving || tcgetpgrp(STDIN_FILENO) != getpgrp())
        return;
    struct termios raw = g_termiosSaved;
    raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
    raw.c_lflag |= NOFLSH;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    SetTerminal(raw);
    g_bOsaKeyMode = 1;
}

bool OsaTerminalStart()
{
    g_bOsaStdinTty = isatty(STDIN_FILENO) != 0;
    if (!g_bOsaStdinTty || tcgetattr(STDIN_FILENO, &g_termiosSaved) != 0)
        return false;
    g_bTermiosSaved = true;
    g_bOsaControllingTerminal = tcgetsid(STDIN_FILENO) == getsid(0);
    return true;
}
