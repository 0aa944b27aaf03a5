// maxrss.cpp - runs a command and prints its peak resident size in KiB (the child's ru_maxrss).
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: maxrss COMMAND [ARG...]\n");
        return 2;
    }
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int nStatus = 0;
    struct rusage usage;
    if (wait4(pid, &nStatus, 0, &usage) != pid)
        return 2;
    fprintf(stderr, "%ld\n", usage.ru_maxrss);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 1;
}
