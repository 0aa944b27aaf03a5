// e2e_harness.h - runs the built tool as a user would and captures console, log and exit status.
#ifndef DUZE_E2E_HARNESS_H
#define DUZE_E2E_HARNESS_H

#include <functional>
#include <map>
#include <string>
#include <vector>

struct ToolCase {
    std::vector<std::string> aArgs;
    std::map<std::string, std::string> env; // KYNSIM_* and KYNPCI_* settings, TZ (UTC unless given)
    std::string strInput;                   // standard input, a file read to its end
    std::string strLogName = "DuzeDevazu.log";
    std::vector<int> aClosedFds;            // standard descriptors closed at start
    std::string strStdinPath;               // opened as standard input instead, relative to the run's directory
    std::string strDir;                     // run in this directory, made by another run, and leave it
    std::vector<std::string> aMakeDirs;     // created in the run's directory first
    std::vector<std::string> aReadFiles;    // read back from the run's directory afterwards
    std::function<void(const std::string &)> setUp;    // called with the run's directory before it starts
    std::function<void(const std::string &)> tearDown; // and after it ended
    bool bStdinPipe = false;                // standard input a pipe that stays open until the run is finished
    bool bWithoutFileRights = false;        // file modes hold for the tool even when the tests run as root
    std::string strStdoutPath;              // standard output to this file (relative to the run's directory) instead
    enum { kStdoutFile, kStdoutPipe, kStdoutClosedPipe } eStdout = kStdoutFile; // a pipe the test reads, or one nobody reads
    std::vector<int> aIgnoredSignals;       // ignored when the tool starts, as nohup leaves SIGHUP
    std::function<void()> inChild;          // called in the child just before the tool starts (limits, modes)
};

struct ToolRun {
    int nStatus = -1000;     // exit status 0..255, or 128 + signal
    bool bKilledBySignal = false; // ended by the signal itself, not by an exit with its number
    std::string strConsole;  // standard output
    std::string strError;    // standard error
    bool bLogExists = false;
    std::string strLog;
    std::string strDir;      // the run's working directory
    std::map<std::string, std::string> files; // the aReadFiles
};

ToolRun RunDuze(const ToolCase &toolCase);

// The same in two steps, for tests that act on the process while it runs.
struct ToolProcess {
    int nPid = -1;
    int fdStdin = -1; // write end when bStdinPipe
    int fdStdout = -1; // read end when eStdout is kStdoutPipe
    std::string strDir;
    std::string strOut, strErr; // where standard output and error went
    ToolCase toolCase;
};
ToolProcess StartDuze(const ToolCase &toolCase);
// Waits for the end, at most nDeadlineMs: a run that has not ended by then is killed and its
// status is -2. A pipe on standard output is read to its end.
ToolRun FinishDuze(ToolProcess &process, int nDeadlineMs = 60000);
// Size of the run's standard output so far.
long ConsoleSize(const ToolProcess &process);
// Until ready() holds, with a deadline a slow, busy machine meets; false when it never did.
bool WaitUntil(const std::function<bool()> &ready, int nDeadlineMs = 60000);
// Until the run's console holds at least nBytes; false when it never did.
bool WaitForConsole(const ToolProcess &process, long nBytes);
// Until the console stops growing: the tool waits for something it writes to.
void WaitForConsoleToStall(const ToolProcess &process);
// Processor time the run has used, from /proc: how far it got, whatever the machine's load.
long CpuTimeMs(const ToolProcess &process);
// Whether the process waits in system call nCall on descriptor fd (Linux only).
bool WaitsInCall(int nPid, long nCall, int fd);

// The lines of a run's trace (read back as "trace.txt") whose call names start with one of the prefixes.
std::string TraceCalls(const ToolRun &run, std::initializer_list<const char *> apszPrefixes);

// The built tool this test program runs (tested_tool.cpp), unless DUZE_TOOL names another.
extern const char *const kTestedTool;
std::vector<std::string> ToolCommand();
// Whether the tool under test is the Windows build (DUZE_TOOL_HOST=win32, run through wine).
bool ToolIsWindows();
// An argument with Latin-1 letters (0xA0 to 0xFF) as a user types it on the tool's host:
// the bytes themselves on POSIX; on Windows the characters, which reach the program in its
// ANSI code page as the same bytes.
std::string HostArgument(const std::string &strLatin1);
std::string ReadFile(const std::string &strPath, bool *pbExists = nullptr);
// A text's lines without their line ends; empty lines at its end are left out.
std::vector<std::string> Lines(const std::string &strText);
// In a child before it runs the tool: every signal back to its default action, as a shell
// that starts a program leaves it, whatever the test runner ignores.
void ResetSignals();
void WriteFile(const std::string &strPath, const std::string &strText);

// The library line of the start-up: the simulated library linked statically, or as
// DUZE_TOOL_LIBRARY names it ("FILE KIND", e.g. "KynHwDll.dll dynamic").
std::string LibraryLine();

// The tool's start-up lines for the default board (type 6, number 0), without the banner.
std::string StartupLog(const std::string &strLogName = "DuzeDevazu.log");

// Runs of the tool as most tests make them: keys on standard input (and settings); arguments too.
ToolRun Keys(const std::string &strInput, std::map<std::string, std::string> env = {});
ToolRun RunArgs(std::vector<std::string> aArgs, const std::string &strInput = "q",
                std::map<std::string, std::string> env = {});
// The run ended with nStatus, its log is strLog, and the console the banner and the same.
void ExpectRun(const ToolRun &run, int nStatus, const std::string &strLog);

// A default-board session: start-up, then what the keys printed; console and log alike
// (the console also has the banner).
void ExpectSession(const ToolRun &run, int nStatus, const std::string &strAfterStartup);
extern const char *const kBanner;

#endif
