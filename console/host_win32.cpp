// host_win32.cpp - the tool's host calls on Windows.
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <initializer_list>

#include "KynHwDll.h"
#include "host.h"

// The C runtime keeps descriptors 0 to 2 for the standard streams even where a handle is
// missing, so a file the tool opens never takes one of them; a missing one gets the null
// device all the same, so that a missing standard input reads as its end, as on POSIX.
void HostOpenStandardDescriptors()
{
    FILE *apStreams[] = {stdin, stdout, stderr};
    for (int fd = 0; fd <= 2; ++fd)
        if (_get_osfhandle(fd) < 0 && freopen("NUL", fd == 0 ? "r" : "w", apStreams[fd]) == nullptr)
            continue;
}

bool HostInputIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

bool HostOutputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

namespace {

// What the cursor's row held when the progress line was drawn over it, read from the console
// itself, and how wide the line was drawn.
char g_szRowText[512];
int g_nRowLength = 0;
int g_nDrawnWidth = 0;

void ToConsole(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    OsaConsolePrintF(pszFormat, args);
    va_end(args);
}

} // namespace

bool HostProgressPossible()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    return GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) && info.dwSize.X >= 20;
}

// Over the cursor's row: whatever the row holds (prompts, an echoed answer, a wrapped line's
// last part) is read from the console first and written back when the line goes.
void HostProgressDraw(const char *pszText, bool *pbShown)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleScreenBufferInfo(hOut, &info) || info.dwSize.X < 2)
        return;
    if (!*pbShown) {
        DWORD nRead = 0;
        COORD rowStart = {0, info.dwCursorPosition.Y};
        DWORD nWanted = std::min<DWORD>((DWORD)info.dwCursorPosition.X, sizeof g_szRowText - 1);
        if (!ReadConsoleOutputCharacterA(hOut, g_szRowText, nWanted, rowStart, &nRead))
            nRead = 0;
        g_nRowLength = (int)nRead;
        g_nDrawnWidth = 0;
    }
    int nWidth = std::min(std::max({(int)strlen(pszText), g_nDrawnWidth, g_nRowLength}), (int)info.dwSize.X - 1);
    g_nDrawnWidth = nWidth;
    *pbShown = true;
    ToConsole("\r%-*.*s", nWidth, nWidth, pszText);
}

void HostProgressErase()
{
    ToConsole("\r%*s\r%.*s", g_nDrawnWidth, "", g_nRowLength, g_szRowText);
}

uint32_t HostMilliseconds()
{
    return (uint32_t)GetTickCount();
}

int HostOpenLog(const char *pszName, const char **ppszWhy)
{
    *ppszWhy = nullptr;
    // Others may read the log while the run holds it, but not write or empty it.
    int fd = -1;
    errno_t nError = _sopen_s(&fd, pszName, _O_WRONLY | _O_CREAT | _O_TEXT, _SH_DENYWR, _S_IREAD | _S_IWRITE);
    if (nError != 0) {
        if (_doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION)
            *ppszWhy = "The log file is in use by another run.";
        errno = nError;
        return -1;
    }
    // Standard output or error already writing this file: the two would garble each other.
    BY_HANDLE_FILE_INFORMATION log;
    if (GetFileInformationByHandle((HANDLE)_get_osfhandle(fd), &log)) {
        for (DWORD nStd : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            BY_HANDLE_FILE_INFORMATION standard;
            if (GetFileInformationByHandle(GetStdHandle(nStd), &standard) &&
                standard.dwVolumeSerialNumber == log.dwVolumeSerialNumber &&
                standard.nFileIndexHigh == log.nFileIndexHigh && standard.nFileIndexLow == log.nFileIndexLow) {
                _close(fd);
                *ppszWhy = nStd == STD_OUTPUT_HANDLE ? "The log file is the tool's standard output: name another log with /L."
                                                     : "The log file is the tool's standard error: name another log with /L.";
                errno = EEXIST;
                return -1;
            }
        }
    }
    // Emptied only now that it is known to be this run's: a device has nothing to empty.
    if (GetFileType((HANDLE)_get_osfhandle(fd)) == FILE_TYPE_DISK && _chsize_s(fd, 0) != 0) {
        int nErrno = errno;
        _close(fd);
        errno = nErrno;
        return -1;
    }
    return fd;
}

long HostWriteLog(int fdLog, const char *pText, size_t nLength)
{
    return _write(fdLog, pText, nLength > 0x10000 ? 0x10000u : (unsigned)nLength);
}

bool HostCommitLog(int fdLog)
{
    // A device has no disk to commit to.
    return _commit(fdLog) == 0 || errno == EBADF || errno == EINVAL;
}

bool HostCloseLog(int fdLog)
{
    return _close(fdLog) == 0;
}

// Windows removes no file that is open without FILE_SHARE_DELETE.
bool HostLogRemoved(int)
{
    return false;
}

bool HostWaitLogWritable(int, int)
{
    errno = EIO;
    return false;
}

// Ctrl-C ends the run from a thread of its own, through exit and the log's exit handler,
// while the main thread waits for a key: there is no second, faster way out to guard.
void HostGuardLogOnSignals(void (*)())
{
}

