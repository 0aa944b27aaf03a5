// board_image_format.h - a board image's manifest, read and written in this one place: duzedevazu-pci
// saves, checks, replays and compares images with it, and the simulated library runs on one with it.
#ifndef DUZE_BOARD_IMAGE_FORMAT_H
#define DUZE_BOARD_IMAGE_FORMAT_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

// What an image says it is: manifest.json's "format" and "version".
extern const char *const kImageFormat;
const int kImageVersion = 1;

// A word of a BAR that was not read (the map says a read changes it, or it is write-only).
struct ImageUnread {
    uint64_t nAddress = 0;
    std::string strName, strWhy;
};

// A BAR of the device: its number, flags and size as sysfs gave them, whether it is memory, the
// bytes of it saved, why it was not read, the words left out.
struct ImageBar {
    uint32_t nBar = 0;
    uint64_t nFlags = 0, nSize = 0, nSaved = 0;
    bool bMemory = false;
    std::string strSkipped;
    std::vector<ImageUnread> aUnread;
};

struct ImageManifest {
    std::string strSlot;
    // The device's identity files as saved (vendor, device, class, revision, subsystem_*): name, text.
    std::vector<std::pair<std::string, std::string>> aIdentity;
    std::string strDriver;
    uint64_t nConfigSize = 0;
    std::vector<ImageBar> aBars;
    std::string strTool, strTime;
    std::vector<std::string> aMaps;
};

// An identity field's text, or "".
std::string ImageIdentity(const ImageManifest &manifest, const char *pszName);
// The first memory BAR, or null.
const ImageBar *FirstMemoryBar(const ImageManifest &manifest);

// A manifest's text read: false with why where it is no JSON, no image's manifest, of another
// format version, or a member has the wrong type. Nothing is taken from its text by searching.
bool ReadImageManifest(const std::string &strText, ImageManifest &manifest, std::string &strWhy);
// The manifest's text, as an image holds it.
std::string ImageManifestText(const ImageManifest &manifest);

// A value from an image's manifest as a message shows it: escaped, and cut to its first 64 bytes
// (a manifest may hold a megabyte where a slot belongs).
std::string ShownValue(const std::string &strValue);

#endif
