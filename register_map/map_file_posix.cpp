// map_file_posix.cpp - a register map's file read on POSIX: a regular file, opened without waiting,
// so that a FIFO there cannot hold the start-up, and never larger than a map can be.
#include "register_map.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <limits.h>
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

std::string ShippedMapFile(const std::string &strName)
{
    // A file of that name wins: a name alone (no directory, no suffix) is a shipped map otherwise.
    if (strName.empty() || strName.find('/') != std::string::npos || access(strName.c_str(), F_OK) == 0)
        return strName;
    char szExe[PATH_MAX];
    ssize_t nLength = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    std::string strDir = nLength > 0 ? std::string(szExe, (size_t)nLength) : std::string();
    strDir = strDir.substr(0, strDir.rfind('/') + 1);
    // Installed beside the program's share folder, in the package's folder, or a build's source tree.
    for (const std::string &strPlace : {strDir + "../share/duzedevazu/maps/", std::string("/usr/share/duzedevazu/maps/"),
                                        strDir + "../maps/"}) {
        std::string strFile = strPlace + strName + ".svd";
        if (!strDir.empty() && access(strFile.c_str(), R_OK) == 0)
            return strFile;
    }
    return strName;
}
