// pty_harness.h - runs the tool in a pseudo-terminal, as a person at a keyboard would.
#ifndef DUZE_PTY_HARNESS_H
#define DUZE_PTY_HARNESS_H

#include <termios.h>

#include <map>
#include <string>
#include <vector>

struct PtySession {
    int nPid = -1;
    int fdMaster = -1;
    std::string strDir;       // the run's working directory
    std::string strScreen;    // everything the terminal showed so far
    struct termios before;    // terminal settings before the tool started
};

// How the tool runs in the terminal: as its session's leader, or as a job of a small
// job-control shell, which prints "[job PID]" first and "[stopped]" at each stop of the job,
// and then waits for the test: SIGUSR1 brings the job to the foreground again (fg), SIGUSR2
// sends it SIGTERM and SIGCONT in the background (kill %1), SIGALRM sends it SIGHUP and
// SIGCONT (kill -HUP %1). The shell ends with the job's status.
struct PtyStart {
    long nFileSizeLimit = 0;          // the largest file the tool may write, in bytes (0: no limit)
    std::vector<int> aIgnoredSignals; // ignored when the tool starts, as nohup leaves SIGHUP
    bool bAsJob = false;
    int nColumns = 80;                // the terminal's width
    std::string strTool;              // the program to run instead of the tool under test
};
PtySession StartInPty(const std::vector<std::string> &aArgs, const std::map<std::string, std::string> &env = {},
                      const PtyStart &start = PtyStart());
// Reads the terminal until strText has been shown after position nFrom; false after nMilliseconds.
bool WaitForScreen(PtySession &session, const std::string &strText, int nMilliseconds = 60000, size_t nFrom = 0);
// Reads what the terminal shows for nMilliseconds.
void DrainScreen(PtySession &session, int nMilliseconds);
void TypeKeys(PtySession &session, const std::string &strKeys);
// Waits until the tool is blocked reading the terminal (its last output is then all shown
// and all flushed); false after nMilliseconds.
bool WaitUntilReading(const PtySession &session, int nMilliseconds = 60000);
// Waits for the tool to end: its status, 128 + signal, or -1 after nMilliseconds.
int WaitForEnd(PtySession &session, int nMilliseconds = 60000);
// Whether the terminal's settings now equal those before the run.
bool TerminalRestored(const PtySession &session);
// The screen as a terminal of nColumns leaves it: a carriage return goes back to the line's
// start, a backspace one column, text overwrites what was there and wraps at the last column;
// the cursor sequences a progress line uses (save, restore, index, reverse index, erase to the
// line's end, erase below) act as on a VT100; blanks at line ends and empty lines at the end do not show.
std::string Render(const std::string &strShown, size_t nColumns = 1000);
void ClosePty(PtySession &session);

#endif
