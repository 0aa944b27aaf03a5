// log_host_win32.cpp - the log file's host calls on Windows: opened shared for reading only, written,
// put on disk and closed.
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <sys/stat.h>
#include <windows.h>

#include <initializer_list>

#include "duze_limits.h"
#include "log_host.h"

// Windows keeps no list of a process's open files to compare with.
bool HostLogIsAnInput()
{
    return false;
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
    return _write(fdLog, pText, nLength > kDuzeLogBlock ? (unsigned)kDuzeLogBlock : (unsigned)nLength);
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

