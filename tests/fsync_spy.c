/* fsync_spy.c - preloaded into the tool, notes each fsync in the file FSYNC_SPY_FILE names, for the
   test that the log is committed to disk only where a person waits at a terminal. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int fsync(int fd)
{
    static int (*s_pfnFsync)(int) = NULL;
    const char *pszFile = getenv("FSYNC_SPY_FILE");
    if (s_pfnFsync == NULL)
        s_pfnFsync = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (pszFile != NULL) {
        int fdSpy = open(pszFile, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fdSpy >= 0) {
            if (write(fdSpy, "fsync\n", 6) != 6) {
            }
            close(fdSpy);
        }
    }
    return s_pfnFsync(fd);
}
