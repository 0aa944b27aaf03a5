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

// Bytes of a number with an optional K, M or G suffix; false where it is none or above nMax.
bool ParseByteCount(const char *pszText, uint64_t nMax, uint64_t *pnBytes);

#endif
