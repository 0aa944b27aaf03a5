// create_file.h - opening a file to write (the tool's log, a library's call trace) without following
// a link another user planted: shared by the tool and both libraries, on neither side of the header.
#ifndef DUZE_CREATE_FILE_H
#define DUZE_CREATE_FILE_H

#include <string>

// A link on the way that was not followed: its path as given up to it, its target and its owner.
struct PlantedLink {
    bool bFound = false;
    bool bDirectory = false; // a directory of the path, not the file itself
    std::string strLink;
    std::string strTarget;
    unsigned nOwner = 0;
};

// Opens pszName to write with open's nFlags (O_CREAT and the like; O_CLOEXEC always), creating it
// with mode 0666 less the umask, never emptying it. Every component of the path is walked from one
// opened directory to the next: a link is followed only when the one running owns it, or its
// directory is not writable by others, or the link's owner owns that directory (the kernel's
// protected-symlinks rule, on every component and whatever the kernel's setting). Each link is
// judged on the descriptor of the link itself, never on a second look at its name. On failure
// -1 with errno set; ELOOP with link.bFound for a link refused.
int CreateFileNoPlantedLinks(const char *pszName, int nFlags, PlantedLink &link);

// As CreateFileNoPlantedLinks; pbKept, where given, tells whether the name pszName stays the
// file opened: on the way, no link, no "..", and each directory the one running's or root's,
// closed to others' writes or sticky with the next step theirs. Where so, opening it again by
// its name finds the same file, whatever other users do.
int OpenNoPlantedLinks(const char *pszName, int nFlags, PlantedLink &link, bool *pbKept);

// The directory pszName, opened for reading by the same walk, under the same rule for links.
int OpenDirectoryNoPlantedLinks(const char *pszName, PlantedLink &link, bool *pbKept = nullptr);

// Whether descriptors fdA and fdB write the same file (device and inode).
bool SameFile(int fdA, int fdB);

// Whether the file of fd is one the run holds open through another descriptor from 3 up, reading
// too (a register map, a settings file), or lies beneath a directory the run holds open (a PCI
// tree): a file the run reads, which a log or trace must never empty.
bool IsAFileTheRunHolds(int fd);

#endif
