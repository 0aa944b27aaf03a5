// pty_harness.cpp - a small pseudo-terminal driver for the tool: start, type, read the screen, wait.
#include "pty_harness.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <utmp.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

#include "e2e_harness.h"

extern char **environ;

static long NowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

namespace {

// The job-control shell of PtyStart::bAsJob, in the child that leads the terminal's session.
[[noreturn]] void RunAsJob(char **apszArgs, char **apszEnv)
{
    signal(SIGTTOU, SIG_IGN);
    signal(SIGTTIN, SIG_IGN);
    signal(SIGTSTP, SIG_IGN);
    sigset_t commands;
    sigemptyset(&commands);
    for (int nSignal : {SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&commands, nSignal);
    sigprocmask(SIG_BLOCK, &commands, nullptr);
    pid_t pidJob = fork();
    if (pidJob == 0) {
        setpgid(0, 0);
        tcsetpgrp(STDIN_FILENO, getpid());
        ResetSignals();
        execvpe(apszArgs[0], apszArgs, apszEnv);
        _exit(127);
    }
    setpgid(pidJob, pidJob);
    tcsetpgrp(STDIN_FILENO, pidJob);
    dprintf(STDOUT_FILENO, "[job %d]\n", (int)pidJob);
    for (;;) {
        int nWait = 0;
        if (waitpid(pidJob, &nWait, WUNTRACED) != pidJob)
            _exit(125);
        if (!WIFSTOPPED(nWait))
            _exit(WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait));
        tcsetpgrp(STDIN_FILENO, getpgrp());
        dprintf(STDOUT_FILENO, "\n[stopped]\n");
        int nCommand = 0;
        sigwait(&commands, &nCommand);
        if (nCommand == SIGUSR1) {
            tcsetpgrp(STDIN_FILENO, pidJob);
            kill(-pidJob, SIGCONT);
        } else {
            kill(-pidJob, nCommand == SIGUSR2 ? SIGTERM : SIGHUP);
            kill(-pidJob, SIGCONT);
        }
    }
}

} // namespace

PtySession StartInPty(const std::vector<std::string> &aArgs, const std::map<std::string, std::string> &env,
                      const PtyStart &start)
{
    PtySession session;
    char szDir[] = "/tmp/duze-pty-XXXXXX";
    if (mkdtemp(szDir) == nullptr)
        return session;
    session.strDir = szDir;

    std::vector<std::string> aEnv;
    for (char **ppsz = environ; *ppsz != nullptr; ++ppsz)
        if (strncmp(*ppsz, "KYNSIM_", 7) != 0 && strncmp(*ppsz, "KYNPCI_", 7) != 0 && strncmp(*ppsz, "TZ=", 3) != 0)
            aEnv.push_back(*ppsz);
    aEnv.push_back("TZ=UTC");
    for (const auto &item : env)
        aEnv.push_back(item.first + "=" + item.second);
    std::vector<std::string> aCommand = ToolCommand();
    if (!start.strTool.empty())
        aCommand.back() = start.strTool;
    aCommand.insert(aCommand.end(), aArgs.begin(), aArgs.end());
    std::vector<char *> apszArgs, apszEnv;
    for (std::string &strArg : aCommand)
        apszArgs.push_back(&strArg[0]);
    apszArgs.push_back(nullptr);
    for (std::string &strItem : aEnv)
        apszEnv.push_back(&strItem[0]);
    apszEnv.push_back(nullptr);

    struct winsize size = {24, (unsigned short)start.nColumns, 0, 0};
    int fdMaster = -1, fdSlave = -1;
    if (openpty(&fdMaster, &fdSlave, nullptr, nullptr, &size) != 0)
        return session;
    // Taken before the tool can touch the terminal.
    tcgetattr(fdSlave, &session.before);
    pid_t pid = fork();
    if (pid == 0) {
        close(fdMaster);
        ResetSignals();
        struct rlimit limit = {(rlim_t)start.nFileSizeLimit, (rlim_t)start.nFileSizeLimit};
        if (login_tty(fdSlave) != 0 || chdir(szDir) != 0 ||
            (start.nFileSizeLimit > 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0))
            _exit(120);
        if (start.bAsJob)
            RunAsJob(apszArgs.data(), apszEnv.data());
        for (int nSignal : start.aIgnoredSignals)
            signal(nSignal, SIG_IGN);
        execvpe(apszArgs[0], apszArgs.data(), apszEnv.data());
        _exit(127);
    }
    close(fdSlave);
    session.nPid = pid;
    session.fdMaster = fdMaster;
    return session;
}

// Reads what is there within nMilliseconds; false once the terminal is closed.
static bool ReadSome(PtySession &session, int nMilliseconds)
{
    struct pollfd wait = {session.fdMaster, POLLIN, 0};
    if (poll(&wait, 1, nMilliseconds) <= 0)
        return true;
    char acBuffer[65536];
    ssize_t n = read(session.fdMaster, acBuffer, sizeof acBuffer);
    if (n <= 0)
        return false;
    session.strScreen.append(acBuffer, (size_t)n);
    return true;
}

bool WaitForScreen(PtySession &session, const std::string &strText, int nMilliseconds, size_t nFrom)
{
    long nEnd = NowMs() + nMilliseconds;
    while (session.strScreen.find(strText, nFrom) == std::string::npos) {
        long nLeft = nEnd - NowMs();
        if (nLeft <= 0 || !ReadSome(session, (int)nLeft))
            return session.strScreen.find(strText, nFrom) != std::string::npos;
    }
    return true;
}

void DrainScreen(PtySession &session, int nMilliseconds)
{
    long nEnd = NowMs() + nMilliseconds;
    for (long nLeft = nMilliseconds; nLeft > 0; nLeft = nEnd - NowMs())
        if (!ReadSome(session, (int)nLeft))
            return;
}

void TypeKeys(PtySession &session, const std::string &strKeys)
{
    // In pieces, as the terminal's input queue is bounded.
    for (size_t nDone = 0; nDone < strKeys.size();) {
        ssize_t n = write(session.fdMaster, strKeys.data() + nDone, std::min<size_t>(256, strKeys.size() - nDone));
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        if (n > 0)
            nDone += (size_t)n;
        DrainScreen(session, 1);
    }
}

bool WaitUntilReading(const PtySession &session, int nMilliseconds)
{
    if (session.nPid <= 0)
        return true;
    return WaitUntil([&] { return WaitsInCall(session.nPid, SYS_read, 0); }, nMilliseconds);
}

int WaitForEnd(PtySession &session, int nMilliseconds)
{
    long nEnd = NowMs() + nMilliseconds;
    for (;;) {
        int nWait = 0;
        pid_t pid = waitpid(session.nPid, &nWait, WNOHANG);
        if (pid == session.nPid) {
            session.nPid = -1;
            DrainScreen(session, 50);
            return WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait);
        }
        if (NowMs() >= nEnd)
            return -1;
        ReadSome(session, 10);
    }
}

std::string Render(const std::string &strShown, size_t nColumns)
{
    std::vector<std::string> aLines(1);
    size_t nRow = 0, nColumn = 0;
    bool bWrapPending = false;
    size_t nSavedRow = 0, nSavedColumn = 0;
    bool bSavedWrap = false;
    auto Down = [&]() {
        if (++nRow == aLines.size())
            aLines.emplace_back();
    };
    for (size_t i = 0; i < strShown.size(); ++i) {
        char c = strShown[i];
        if (c == '\033' && i + 1 < strShown.size()) {
            char cNext = strShown[++i];
            if (cNext == '7') {
                nSavedRow = nRow, nSavedColumn = nColumn, bSavedWrap = bWrapPending;
            } else if (cNext == '8') {
                nRow = nSavedRow, nColumn = nSavedColumn, bWrapPending = bSavedWrap;
            } else if (cNext == 'D') {
                Down();
            } else if (cNext == 'M') {
                nRow -= nRow > 0 ? 1 : 0;
            } else if (cNext == '[') {
                // Parameters up to the final byte; of these only erase to the line's end and erase
                // below act here.
                while (i + 1 < strShown.size() && (strShown[i + 1] < '@' || strShown[i + 1] > '~'))
                    ++i;
                char cFinal = i + 1 < strShown.size() ? strShown[++i] : '\0';
                if ((cFinal == 'K' || cFinal == 'J') && aLines[nRow].size() > nColumn)
                    aLines[nRow].resize(nColumn);
                if (cFinal == 'J')
                    aLines.resize(nRow + 1);
            }
            continue;
        }
        if (c == '\n') {
            Down();
            nColumn = 0;
            bWrapPending = false;
        } else if (c == '\r') {
            nColumn = 0;
            bWrapPending = false;
        } else if (c == '\b') {
            nColumn -= nColumn > 0 ? 1 : 0;
            bWrapPending = false;
        } else {
            // Past the last column the text goes on at the next line's start.
            if (bWrapPending) {
                Down();
                nColumn = 0;
                bWrapPending = false;
            }
            std::string &strLine = aLines[nRow];
            if (strLine.size() <= nColumn)
                strLine.resize(nColumn + 1, ' ');
            strLine[nColumn] = c;
            if (nColumn + 1 == nColumns)
                bWrapPending = true;
            else
                ++nColumn;
        }
    }
    std::string strScreen;
    for (std::string &strLine : aLines)
        strScreen += strLine.substr(0, strLine.find_last_not_of(' ') + 1) + "\n";
    while (strScreen.size() >= 2 && strScreen.compare(strScreen.size() - 2, 2, "\n\n") == 0)
        strScreen.pop_back();
    return strScreen;
}

bool TerminalRestored(const PtySession &session)
{
    struct termios after;
    if (tcgetattr(session.fdMaster, &after) != 0)
        return false;
    return after.c_iflag == session.before.c_iflag && after.c_oflag == session.before.c_oflag &&
           after.c_cflag == session.before.c_cflag && after.c_lflag == session.before.c_lflag &&
           memcmp(after.c_cc, session.before.c_cc, sizeof after.c_cc) == 0;
}

void ClosePty(PtySession &session)
{
    if (session.nPid > 0) {
        kill(session.nPid, SIGKILL);
        waitpid(session.nPid, nullptr, 0);
    }
    if (session.fdMaster >= 0)
        close(session.fdMaster);
    session.fdMaster = -1;
    if (!session.strDir.empty() && getenv("DUZE_KEEP_TMP") == nullptr)
        std::filesystem::remove_all(session.strDir);
}
