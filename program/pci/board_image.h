// board_image.h - board images of duzedevazu-pci: a device saved as a sysfs-shaped directory with a
// manifest, and an image made ready for a run as if it were the device.
#ifndef DUZE_BOARD_IMAGE_H
#define DUZE_BOARD_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

struct ImageSaveOptions {
    std::vector<int> aBars;          // the memory BARs whose contents are saved; empty: all
    uint64_t nLimit = 1u << 20;      // bytes saved of each BAR at most
    std::vector<std::string> aMaps;  // the register maps in use, for the manifest
    bool bQuiet = false;             // nothing said of a save that worked (a comparison's own)
    bool bScratch = false;           // a comparison's own save, into the scratch directory it holds
    // Words of the board's BAR that the board map says must not be read (a read changes them, or
    // they are write-only): left as holes and listed.
    struct Unread {
        uint32_t nWord;
        std::string strName, strWhy;
    };
    std::vector<Unread> aUnread;
    int nBoardBar = -1;              // the BAR the map is of; -1: the first memory BAR
};

// Saves the device board nType number nNumber selects into the new directory pszDir, never writing
// to the device; what was skipped goes to standard error. The run's status: 0, 1 where no device is
// found, 2 where pszDir is refused, 255 where the image cannot be written (nothing is left then).
int SaveBoardImage(const char *pszDir, uint32_t nType, uint32_t nNumber, const ImageSaveOptions &options);

// Checks the image at pszDir (its format version, its manifest against its files, no links) and
// gives the tree to run on: a private copy that the run's end removes, or the image itself where
// bWritable. False with why where the image is refused.
bool PrepareBoardImage(const char *pszDir, bool bWritable, std::string &strSlot, std::string &strTree,
                       std::string &strWhy);

// Whether strDir is an image this tool reads (format version, manifest against files, no links),
// its device's slot given back; false with why not.
bool CheckBoardImage(const std::string &strDir, std::string &strSlot, std::string &strWhy);

// Removes the replay's private copy at the run's exit. Exit handlers run last registered first, and
// the console's, registered after the copy was made, ends a run a signal ended by that signal,
// before later handlers: registered again once the console is set up, the removal runs before it.
void RemovePrivateCopyAtExit();


// A new directory of this user's alone in $TMPDIR (else /tmp), named from pszName and locked for the
// rest of the run; "" where none can be made (errno says why). Those of the name that a killed run
// left are removed first.
std::string MakeScratchDir(const char *pszName);
// A directory and everything in it, no link followed.
void RemoveImageTree(const std::string &strDir);
// Marks a directory just made as the tool's own and locks it while the run lives: a descriptor to
// close when it is done with, or -1.
int MarkScratchDir(const std::string &strDir);
// Directories of strDir named strPrefix and six characters that a killed run left: this user's,
// marked as the tool's, unlocked, older than a few seconds; removed.
void RemoveAbandonedScratch(const std::string &strDir, const std::string &strPrefix);

// The plain file open at fdFrom (closed after) copied to strTo, holes kept as holes; false with why
// where it cannot be.
bool CopySparseFile(int fdFrom, const std::string &strTo, std::string &strWhy);

#endif
