// map_file_posix.cpp - a register map's file read on POSIX: a regular file, opened without waiting,
// so that a FIFO there cannot hold the start-up, and never larger than a map can be.
#include "register_map.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadMapFile(const std::string &strFile, std::string &strText, std::string &strWhy)
{
    int fd = open(strFile.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        strWhy = strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMapFileMax) {
        strWhy = !S_ISREG(info.st_mode) ? "not a regular file" : "larger than a register map may be (64 MiB)";
        close(fd);
        return false;
    }
    strText.clear();
    char acChunk[65536];
    ssize_t nRead;
    while ((nRead = read(fd, acChunk, sizeof acChunk)) > 0 || (nRead < 0 && errno == EINTR))
        if (nRead > 0 && strText.size() <= (size_t)kMapFileMax)
            strText.append(acChunk, (size_t)nRead);
    int nErrno = errno;
    close(fd);
    if (nRead < 0 || strText.size() > (size_t)kMapFileMax) {
        strWhy = nRead < 0 ? strerror(nErrno) : "larger than a register map may be (64 MiB)";
        return false;
    }
    return true;
}

void HoldMapFile(const std::string &strFile)
{
    // Never closed: the run holds it, so that its log and trace can tell it is an input.
    open(strFile.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
}
