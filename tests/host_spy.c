/* host_spy.c - preloaded into the tool by tests that must see or change what the host does: notes
   each fsync in the file FSYNC_SPY_FILE names (the log is committed to disk only where a person
   waits at a terminal), with NO_NULL_DEVICE set the null device cannot be opened, as in a
   minimal container, and with SIGINT_AFTER_WRITE set the first write to standard output that
   holds its text is followed at once by SIGINT, as if Ctrl-C came the moment the text went out;
   with SIGCONT_AT_END set, SIGCONT comes after every exit handler of the tool's has run. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
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

static int OpenThrough(const char *pszCall, const char *pszPath, int nFlags, mode_t nMode)
{
    if (getenv("NO_NULL_DEVICE") != NULL && strcmp(pszPath, "/dev/null") == 0) {
        errno = ENOENT;
        return -1;
    }
    int (*pfnOpen)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, pszCall);
    return pfnOpen(pszPath, nFlags, nMode);
}

int open(const char *pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    mode_t nMode = (nFlags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    return OpenThrough("open", pszPath, nFlags, nMode);
}

int open64(const char *pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    mode_t nMode = (nFlags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    va_end(args);
    return OpenThrough("open64", pszPath, nFlags, nMode);
}

int __open_2(const char *pszPath, int nFlags)
{
    return OpenThrough("open", pszPath, nFlags, 0);
}

ssize_t write(int fd, const void *pBuffer, size_t nLength)
{
    static ssize_t (*s_pfnWrite)(int, const void *, size_t) = NULL;
    static int s_bSent = 0;
    if (s_pfnWrite == NULL)
        s_pfnWrite = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    ssize_t nWritten = s_pfnWrite(fd, pBuffer, nLength);
    const char *pszText = getenv("SIGINT_AFTER_WRITE");
    if (fd == STDOUT_FILENO && nWritten > 0 && pszText != NULL && !s_bSent &&
        memmem(pBuffer, (size_t)nWritten, pszText, strlen(pszText)) != NULL) {
        s_bSent = 1;
        raise(SIGINT);
    }
    return nWritten;
}

static void ContinueAtEnd(void)
{
    raise(SIGCONT);
}

/* Registered before the tool's main: run after every handler the tool registers. */
__attribute__((constructor)) static void ArmContinueAtEnd(void)
{
    if (getenv("SIGCONT_AT_END") != NULL)
        atexit(ContinueAtEnd);
}
