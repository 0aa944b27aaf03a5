// e2e_harness.cpp - runs the built tool in a fresh directory with given input and settings.
#include "e2e_harness.h"
#include "expected_text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

extern char **environ;

const char *const kBanner = "DuzeDevazu " DUZE_VERSION " - register test tool for KYN interface boards\n";

// Root keeps its user, so the tool stays reachable wherever the clone lies (nobody may not enter
// a private home), but loses what passes over file modes, for itself and the program it starts.
// Where root may not give those up (a confined container), the run becomes user nobody.
static bool DropFileRights()
{
    if (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
        prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0)
        return true;
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

std::string ReadFile(const std::string &strPath, bool *pbExists)
{
    std::ifstream file(strPath, std::ios::binary);
    if (pbExists != nullptr)
        *pbExists = file.good();
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string &strPath, const std::string &strText)
{
    std::ofstream file(strPath, std::ios::binary);
    file << strText;
}

// The tool, or DUZE_TOOL; DUZE_TOOL_PREFIX runs it under another program (valgrind, wine),
// its words separated by blanks.
std::vector<std::string> ToolCommand()
{
    std::vector<std::string> aCommand;
    const char *pszPrefix = getenv("DUZE_TOOL_PREFIX");
    std::istringstream words(pszPrefix != nullptr ? pszPrefix : "");
    std::string strWord;
    while (words >> strWord)
        aCommand.push_back(strWord);
    const char *pszTool = getenv("DUZE_TOOL");
    aCommand.push_back(pszTool != nullptr ? pszTool : kTestedTool);
    return aCommand;
}

bool ToolIsWindows()
{
    const char *pszHost = getenv("DUZE_TOOL_HOST");
    return pszHost != nullptr && strcmp(pszHost, "win32") == 0;
}

std::string HostArgument(const std::string &strLatin1)
{
    if (!ToolIsWindows())
        return strLatin1;
    std::string strUtf8; // wine takes arguments as UTF-8
    for (unsigned char c : strLatin1) {
        if (c < 0x80) {
            strUtf8 += (char)c;
        } else {
            strUtf8 += (char)(0xC0 | (c >> 6));
            strUtf8 += (char)(0x80 | (c & 0x3F));
        }
    }
    return strUtf8;
}

// Windows writes text files and the console with CR LF line ends. Text whose every line
// end is CR LF, and that has no other CR, reads back with plain line ends; anything else
// is left as it is and fails the comparison.
static std::string FromHostText(const std::string &strText)
{
    if (!ToolIsWindows())
        return strText;
    std::string strPlain;
    for (size_t i = 0; i < strText.size(); ++i) {
        char c = strText[i];
        if (c == '\n' || (c == '\r' && (i + 1 >= strText.size() || strText[i + 1] != '\n')))
            return strText;
        if (c == '\r') {
            strPlain += '\n';
            ++i;
        } else {
            strPlain += c;
        }
    }
    return strPlain;
}

void ResetSignals()
{
    for (int nSignal = 1; nSignal < NSIG; ++nSignal)
        signal(nSignal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

ToolProcess StartDuze(const ToolCase &toolCase)
{
    ToolProcess process;
    process.toolCase = toolCase;
    char szDir[] = "/tmp/duze-e2e-XXXXXX";
    if (toolCase.strDir.empty() && mkdtemp(szDir) == nullptr)
        return process;
    process.strDir = toolCase.strDir.empty() ? szDir : toolCase.strDir;
    // Numbered, as a second run may share the directory.
    static int s_nRun = 0;
    std::string strSuffix = std::to_string(++s_nRun);
    std::string strIn = process.strDir + "/.stdin" + strSuffix;
    process.strOut = process.strDir + "/.stdout" + strSuffix;
    process.strErr = process.strDir + "/.stderr" + strSuffix;
    const std::string &strOut = process.strOut, &strErr = process.strErr;
    if (!toolCase.strStdinPath.empty())
        strIn = process.strDir + "/" + toolCase.strStdinPath;
    else
        WriteFile(strIn, toolCase.strInput);
    for (const std::string &strSub : toolCase.aMakeDirs)
        mkdir((process.strDir + "/" + strSub).c_str(), 0755);
    if (toolCase.setUp)
        toolCase.setUp(process.strDir);
    if (toolCase.bWithoutFileRights)
        chmod(process.strDir.c_str(), 0777);

    std::vector<std::string> aEnv;
    for (char **ppsz = environ; *ppsz != nullptr; ++ppsz) {
        const char *pszEq = strchr(*ppsz, '=');
        bool bGiven = pszEq != nullptr && toolCase.env.count(std::string(*ppsz, (size_t)(pszEq - *ppsz))) != 0;
        if (!bGiven && strncmp(*ppsz, "KYNSIM_", 7) != 0 && strncmp(*ppsz, "KYNPCI_", 7) != 0 && strncmp(*ppsz, "TZ=", 3) != 0)
            aEnv.push_back(*ppsz);
    }
    if (toolCase.env.count("TZ") == 0)
        aEnv.push_back("TZ=UTC");
    for (const auto &item : toolCase.env)
        aEnv.push_back(item.first + "=" + item.second);

    std::vector<std::string> aCommand = ToolCommand();
    for (const std::string &strArg : toolCase.aArgs)
        aCommand.push_back(strArg);
    std::vector<char *> apszArgs;
    for (std::string &strArg : aCommand)
        apszArgs.push_back(&strArg[0]);
    apszArgs.push_back(nullptr);
    std::vector<char *> apszEnv;
    for (std::string &strItem : aEnv)
        apszEnv.push_back(&strItem[0]);
    apszEnv.push_back(nullptr);

    int afdPipe[2] = {-1, -1}, afdOut[2] = {-1, -1};
    if (toolCase.bStdinPipe && pipe(afdPipe) != 0)
        return process;
    if (toolCase.eStdout != ToolCase::kStdoutFile && pipe(afdOut) != 0)
        return process;
    if (toolCase.eStdout == ToolCase::kStdoutClosedPipe) {
        close(afdOut[0]);
        afdOut[0] = -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        ResetSignals();
        if (chdir(process.strDir.c_str()) != 0)
            _exit(120);
        int fdIn = toolCase.bStdinPipe ? afdPipe[0] : open(strIn.c_str(), O_RDONLY);
        int fdOut = afdOut[1] >= 0                      ? afdOut[1]
                    : !toolCase.strStdoutPath.empty() ? open(toolCase.strStdoutPath.c_str(), O_WRONLY | O_CREAT, 0644)
                                                      : open(strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fdErr = open(strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fdIn < 0 || fdOut < 0 || fdErr < 0)
            _exit(121);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        close(fdIn);
        close(fdOut);
        close(fdErr);
        if (toolCase.bStdinPipe)
            close(afdPipe[1]);
        if (afdOut[0] >= 0)
            close(afdOut[0]);
        for (int nSignal : toolCase.aIgnoredSignals)
            signal(nSignal, SIG_IGN);
        for (int fd : toolCase.aClosedFds)
            close(fd);
        if (toolCase.bWithoutFileRights && geteuid() == 0 && !DropFileRights())
            _exit(122);
        if (toolCase.inChild)
            toolCase.inChild();
        execvpe(apszArgs[0], apszArgs.data(), apszEnv.data());
        _exit(127);
    }
    process.nPid = pid;
    if (afdOut[1] >= 0)
        close(afdOut[1]);
    process.fdStdout = afdOut[0];
    if (toolCase.bStdinPipe) {
        close(afdPipe[0]);
        process.fdStdin = afdPipe[1];
        if (!toolCase.strInput.empty() &&
            write(process.fdStdin, toolCase.strInput.data(), toolCase.strInput.size()) < 0)
            perror("write");
    }
    return process;
}

long ConsoleSize(const ToolProcess &process)
{
    struct stat info;
    return stat(process.strOut.c_str(), &info) == 0 ? (long)info.st_size : -1;
}

bool WaitUntil(const std::function<bool()> &ready, int nDeadlineMs)
{
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (ready())
            return true;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L > nDeadlineMs)
            return false;
        usleep(5000);
    }
}

bool WaitsInCall(int nPid, long nCall, int fd)
{
    // /proc/PID/syscall starts with the number of the call the process is blocked in and its first argument.
    char szStart[64];
    snprintf(szStart, sizeof szStart, "%ld 0x%x ", nCall, (unsigned)fd);
    return ReadFile("/proc/" + std::to_string(nPid) + "/syscall").rfind(szStart, 0) == 0;
}

ToolRun FinishDuze(ToolProcess &process, int nDeadlineMs)
{
    ToolRun run;
    run.strDir = process.strDir;
    if (process.nPid < 0)
        return run;
    if (process.fdStdin >= 0)
        close(process.fdStdin);
    process.fdStdin = -1;
    std::string strPiped;
    int nWait = 0;
    for (int nWaited = 0;; nWaited += 5) {
        if (process.fdStdout >= 0) {
            char acChunk[65536];
            fcntl(process.fdStdout, F_SETFL, O_NONBLOCK);
            for (ssize_t n; (n = read(process.fdStdout, acChunk, sizeof acChunk)) > 0;)
                strPiped.append(acChunk, (size_t)n);
        }
        if (waitpid(process.nPid, &nWait, WNOHANG) == process.nPid)
            break;
        if (nWaited >= nDeadlineMs) {
            kill(process.nPid, SIGKILL);
            waitpid(process.nPid, &nWait, 0);
            nWait = -1;
            break;
        }
        usleep(5000);
    }
    run.nStatus = nWait == -1 ? -2 : WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait);
    run.bKilledBySignal = nWait != -1 && WIFSIGNALED(nWait);
    if (process.fdStdout >= 0) {
        char acChunk[65536];
        for (ssize_t n; (n = read(process.fdStdout, acChunk, sizeof acChunk)) > 0;)
            strPiped.append(acChunk, (size_t)n);
        close(process.fdStdout);
        process.fdStdout = -1;
    }
    run.strConsole = FromHostText(process.toolCase.eStdout == ToolCase::kStdoutPipe ? strPiped : ReadFile(process.strOut));
    run.strError = FromHostText(ReadFile(process.strErr));
    run.strLog = FromHostText(ReadFile(run.strDir + "/" + process.toolCase.strLogName, &run.bLogExists));
    for (const std::string &strName : process.toolCase.aReadFiles)
        run.files[strName] = FromHostText(ReadFile(run.strDir + "/" + strName));
    if (process.toolCase.tearDown)
        process.toolCase.tearDown(run.strDir);
    if (getenv("DUZE_KEEP_TMP") == nullptr && process.toolCase.strDir.empty())
        std::filesystem::remove_all(run.strDir);
    return run;
}

// Lines wine itself writes when it fails, not the tool: the loader lost its server before the
// program ran, and winedevice.exe cut off while it starts crashes in ntoskrnl.exe (its
// IoCreateDevice), a module the tool never loads. scripts/wine-env keeps one server for a whole
// run so that neither happens; should one all the same, the case runs again. Any other
// crash is the tool's and fails the case.
std::string WineOwnFailure(const std::string &strError)
{
    static const char *const apszSignatures[] = {
        "wine client error:",
        "wine: Unhandled page fault on write access to 00000004 at address 70D92A1D",
    };
    for (const char *pszSignature : apszSignatures)
        for (size_t nAt = strError.find(pszSignature); nAt != std::string::npos; nAt = strError.find(pszSignature, nAt + 1))
            if (nAt == 0 || strError[nAt - 1] == '\n')
                return strError.substr(nAt, strError.find('\n', nAt) - nAt);
    return "";
}

ToolRun RunDuze(const ToolCase &toolCase)
{
    for (int nTry = 1;; ++nTry) {
        ToolProcess process = StartDuze(toolCase);
        ToolRun run = FinishDuze(process);
        std::string strWine = ToolIsWindows() ? WineOwnFailure(run.strError) : "";
        // A case in a directory another run made cannot start afresh.
        if (strWine.empty() || nTry == 3 || !toolCase.strDir.empty())
            return run;
        fprintf(stderr, "note: wine failed on its own (%s); the case runs again\n", strWine.c_str());
    }
}

std::string TraceCalls(const ToolRun &run, std::initializer_list<const char *> apszPrefixes)
{
    auto itTrace = run.files.find("trace.txt");
    std::string strTrace = itTrace != run.files.end() ? itTrace->second : "", strCalls;
    for (size_t nPos = 0; nPos < strTrace.size();) {
        size_t nEnd = strTrace.find('\n', nPos);
        std::string strLine = strTrace.substr(nPos, nEnd - nPos + 1);
        for (const char *pszPrefix : apszPrefixes)
            if (strLine.rfind(pszPrefix, 0) == 0)
                strCalls += strLine;
        nPos = nEnd == std::string::npos ? strTrace.size() : nEnd + 1;
    }
    return strCalls;
}

std::string LibraryLine()
{
    const char *pszLibrary = getenv("DUZE_TOOL_LIBRARY");
    std::istringstream words(pszLibrary != nullptr ? pszLibrary : "libkynhwsim.a static");
    std::string strFile, strKind;
    words >> strFile >> strKind;
    return "Library version 4.12.0 (simulated) (filename " + strFile + ", " + strKind + " linked)\n";
}

std::string StartupLog(const std::string &strLogName)
{
    return "Log file is  " + strLogName + "\nBoard number 0\n" + LibraryLine() + kExpectedAfterLibraryLine;
}

ToolRun Keys(const std::string &strInput, std::map<std::string, std::string> env)
{
    ToolCase toolCase;
    toolCase.strInput = strInput;
    toolCase.env = std::move(env);
    return RunDuze(toolCase);
}

ToolRun RunArgs(std::vector<std::string> aArgs, const std::string &strInput, std::map<std::string, std::string> env)
{
    ToolCase toolCase;
    toolCase.aArgs = std::move(aArgs);
    toolCase.strInput = strInput;
    toolCase.env = std::move(env);
    return RunDuze(toolCase);
}

void ExpectRun(const ToolRun &run, int nStatus, const std::string &strLog)
{
    EXPECT_EQ(run.nStatus, nStatus);
    EXPECT_EQ(run.strConsole, kBanner + strLog);
    EXPECT_TRUE(run.bLogExists);
    EXPECT_EQ(run.strLog, strLog);
    EXPECT_EQ(run.strError, "");
}

void ExpectSession(const ToolRun &run, int nStatus, const std::string &strAfterStartup)
{
    EXPECT_EQ(run.nStatus, nStatus);
    EXPECT_EQ(run.strConsole, kBanner + StartupLog() + strAfterStartup);
    EXPECT_EQ(run.strLog, StartupLog() + strAfterStartup);
    EXPECT_EQ(run.strError, "");
}

bool WaitForConsole(const ToolProcess &process, long nBytes)
{
    return WaitUntil([&] { return ConsoleSize(process) >= nBytes; });
}

void WaitForConsoleToStall(const ToolProcess &process)
{
    long nLast = -1;
    for (int i = 0; i < 600; ++i) {
        usleep(100000);
        long nNow = ConsoleSize(process);
        if (nNow > 0 && nNow == nLast)
            return;
        nLast = nNow;
    }
}

long CpuTimeMs(const ToolProcess &process)
{
    std::string strStat = ReadFile("/proc/" + std::to_string(process.nPid) + "/stat");
    size_t nAt = strStat.rfind(')');
    unsigned long nUser = 0, nSystem = 0;
    if (nAt == std::string::npos ||
        sscanf(strStat.c_str() + nAt + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &nUser, &nSystem) != 2)
        return -1;
    return (long)((nUser + nSystem) * 1000 / (unsigned long)sysconf(_SC_CLK_TCK));
}

std::vector<std::string> Lines(const std::string &strText)
{
    std::vector<std::string> aLines;
    for (size_t nStart = 0; nStart < strText.size();) {
        size_t nEnd = strText.find('\n', nStart);
        aLines.push_back(strText.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart));
        nStart = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    }
    while (!aLines.empty() && aLines.back().empty())
        aLines.pop_back();
    return aLines;
}
