// pairs.cpp - runs commands in turn, A B A B ..., and prints each run's wall time and peak resident size.
//
// Usage: pairs RUNS WARMUPS COMMAND [--- COMMAND ...]
// A command is its words: leading NAME=VALUE words set its environment, a word ">FILE" sends
// its standard output to FILE (else to /dev/null), a word "?N" is the exit status it must end
// with (else 0: a memory test that finds errors ends with 3). Each round runs every command once, in
// the order given; the warm-up rounds are not printed. One line per run: the command's
// index, its wall time in seconds and its peak resident size in KiB. A command that fails
// stops the run with status 1.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Command {
    std::vector<std::string> aEnv, aArgs;
    std::string strOut = "/dev/null";
    int nStatus = 0;
};

double Now()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

// Runs the command once; false when it does not end with its status.
bool RunOnce(const Command &command, double *pnSeconds, long *pnMaxRssKiB)
{
    double nStart = Now();
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(command.strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0)
            _exit(126);
        for (const std::string &strItem : command.aEnv)
            putenv(strdup(strItem.c_str()));
        std::vector<char *> apszArgs;
        for (const std::string &strArg : command.aArgs)
            apszArgs.push_back(strdup(strArg.c_str()));
        apszArgs.push_back(nullptr);
        execvp(apszArgs[0], apszArgs.data());
        _exit(127);
    }
    int nStatus = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &nStatus, 0, &usage) != pid)
        return false;
    *pnSeconds = Now() - nStart;
    *pnMaxRssKiB = usage.ru_maxrss;
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == command.nStatus;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: pairs RUNS WARMUPS COMMAND [--- COMMAND ...]\n");
        return 2;
    }
    int nRuns = atoi(argv[1]), nWarmups = atoi(argv[2]);
    std::vector<Command> aCommands(1);
    for (int i = 3; i < argc; ++i) {
        std::string strWord = argv[i];
        Command &command = aCommands.back();
        if (strWord == "---")
            aCommands.emplace_back();
        else if (strWord[0] == '>')
            command.strOut = strWord.substr(1);
        else if (strWord[0] == '?')
            command.nStatus = atoi(strWord.c_str() + 1);
        else if (command.aArgs.empty() && strWord.find('=') != std::string::npos)
            command.aEnv.push_back(strWord);
        else
            command.aArgs.push_back(strWord);
    }
    for (int nRound = -nWarmups; nRound < nRuns; ++nRound) {
        for (size_t i = 0; i < aCommands.size(); ++i) {
            double nSeconds = 0;
            long nKiB = 0;
            if (!RunOnce(aCommands[i], &nSeconds, &nKiB)) {
                fprintf(stderr, "pairs: command %zu (%s) failed\n", i, aCommands[i].aArgs[0].c_str());
                return 1;
            }
            if (nRound >= 0)
                printf("%zu %.6f %ld\n", i, nSeconds, nKiB);
        }
    }
    return 0;
}
