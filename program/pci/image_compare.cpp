// image_compare.cpp - what changed between two board images: each 32-bit register of the configuration
// space and of the memory BARs both saved, with the map's name and the fields that changed.
#include "image_compare.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <vector>

#include "board_image.h"
#include "board_image_format.h"
#include "duze_limits.h"
#include "kyn_pci.h"
#include "printable.h"
#include "register_map.h"
#include "report.h"

namespace {


struct Image {
    std::string strDir, strSlot;
    ImageManifest manifest;
};

bool LoadImage(const std::string &strDir, Image &image, std::string &strWhy)
{
    image.strDir = strDir;
    if (!CheckBoardImage(strDir, image.strSlot, strWhy))
        return false;
    // Checked just now: whole, and a manifest.
    FILE *pFile = fopen((strDir + "/manifest.json").c_str(), "rb");
    std::string strText;
    char szBuffer[4096];
    for (size_t nRead; pFile != nullptr && (nRead = fread(szBuffer, 1, sizeof szBuffer, pFile)) > 0;)
        strText.append(szBuffer, nRead);
    if (pFile != nullptr)
        fclose(pFile);
    return ReadImageManifest(strText, image.manifest, strWhy);
}

// Bytes of a device file of the image, from nStart, at most nLength.
std::string ReadPart(const Image &image, const std::string &strFile, uint64_t nStart, size_t nLength)
{
    std::string strBytes(nLength, '\0');
    int fd = open((image.strDir + "/devices/" + image.strSlot + "/" + strFile).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    ssize_t nRead = fd >= 0 ? pread(fd, &strBytes[0], nLength, (off_t)nStart) : -1;
    if (fd >= 0)
        close(fd);
    strBytes.resize(nRead > 0 ? (size_t)nRead : 0);
    return strBytes;
}

uint32_t Word(const std::string &strBytes, size_t nAt)
{
    uint32_t nWord = 0;
    for (int i = 3; i >= 0; --i)
        nWord = nWord << 8 | (unsigned char)strBytes[nAt + i];
    return nWord;
}

struct Comparison {
    uint64_t nDiffering = 0;
};

void Report(Comparison &comparison, const char *pszSpace, int nBar, uint32_t nAddress, uint32_t nBefore, uint32_t nAfter,
            const RegisterMap *pMap)
{
    if (++comparison.nDiffering > kShownMax)
        return;
    CompareRecord record = {pszSpace, nBar, nAddress, nBefore, nAfter, nullptr};
    if (pMap != nullptr)
        for (const MapRegister *pCandidate : MapRegistersAt(*pMap, nAddress))
            if (pCandidate->nAddress == nAddress && record.pRegister == nullptr)
                record.pRegister = pCandidate;
    printf("%s\n", CompareLine(record).c_str());
}

// Words [0, nLength) of a file of both images, compared a chunk at a time.
void CompareFile(Comparison &comparison, const Image &before, const Image &after, const std::string &strFile,
                 const char *pszSpace, int nBar, uint64_t nLength, const RegisterMap *pMap,
                 const std::set<uint64_t> &unread = {})
{
    const size_t kChunk = 1u << 16;
    for (uint64_t nAt = 0; nAt < nLength; nAt += kChunk) {
        size_t nPart = (size_t)std::min<uint64_t>(kChunk, nLength - nAt);
        std::string strOld = ReadPart(before, strFile, nAt, nPart), strNew = ReadPart(after, strFile, nAt, nPart);
        if (strOld == strNew)
            continue;
        size_t nCommon = std::min(strOld.size(), strNew.size()) & ~(size_t)3;
        for (size_t i = 0; i < nCommon; i += 4)
            if (Word(strOld, i) != Word(strNew, i) && unread.count(nAt + i) == 0)
                Report(comparison, pszSpace, nBar, (uint32_t)(nAt + i), Word(strOld, i), Word(strNew, i), pMap);
    }
}

// The BAR whose registers the board map names: KYNPCI_BAR, else the first memory BAR.
int BoardBar(const ImageManifest &manifest)
{
    if (KynPciBoardBar() >= 0)
        return KynPciBoardBar();
    const ImageBar *pBar = FirstMemoryBar(manifest);
    return pBar != nullptr ? (int)pBar->nBar : -1;
}

// The image's memory BAR nBar, or null.
const ImageBar *MemoryBar(const ImageManifest &manifest, uint32_t nBar)
{
    for (const ImageBar &bar : manifest.aBars)
        if (bar.nBar == nBar && bar.bMemory)
            return &bar;
    return nullptr;
}

} // namespace

namespace {

int CompareImages(const std::string &strBefore, const std::string &strAfter)
{
    Image before, after;
    std::string strWhy;
    for (Image *pImage : {&before, &after}) {
        const std::string &strDir = pImage == &before ? strBefore : strAfter;
        if (!LoadImage(strDir, *pImage, strWhy)) {
            fprintf(stderr, "Error: image %s refused: %s\n", Printable(strDir).c_str(), Printable(strWhy).c_str());
            return 2;
        }
    }
    Comparison comparison;
    const std::string strVendorBefore = ImageIdentity(before.manifest, "vendor"), strVendorAfter = ImageIdentity(after.manifest, "vendor");
    const std::string strDeviceBefore = ImageIdentity(before.manifest, "device"), strDeviceAfter = ImageIdentity(after.manifest, "device");
    if (strVendorBefore != strVendorAfter || strDeviceBefore != strDeviceAfter)
        fprintf(stderr, "Warning: the images are of different devices (%s:%s, %s:%s)\n", ShownValue(strVendorBefore).c_str(),
                ShownValue(strDeviceBefore).c_str(), ShownValue(strVendorAfter).c_str(), ShownValue(strDeviceAfter).c_str());
    uint64_t nConfig = std::min(before.manifest.nConfigSize, after.manifest.nConfigSize);
    CompareFile(comparison, before, after, "config", "config", -1, nConfig, RunMap(true));
    int nBoardBar = BoardBar(before.manifest);
    for (const ImageBar &bar : before.manifest.aBars) {
        const ImageBar *pOther = bar.bMemory ? MemoryBar(after.manifest, bar.nBar) : nullptr;
        if (pOther == nullptr)
            continue;
        uint64_t nSaved = std::min(bar.nSaved, pOther->nSaved);
        // A word either image did not read (the map said a read changes it) is no difference.
        std::set<uint64_t> unread;
        for (const ImageBar *pBar : {&bar, pOther})
            for (const ImageUnread &word : pBar->aUnread)
                unread.insert(word.nAddress);
        CompareFile(comparison, before, after, "resource" + std::to_string(bar.nBar), "bar", (int)bar.nBar, nSaved,
                    (int)bar.nBar == nBoardBar ? RunMap(false) : nullptr, unread);
    }
    if (comparison.nDiffering > kShownMax)
        fprintf(stderr, "Warning: %llu more registers differ\n", (unsigned long long)(comparison.nDiffering - kShownMax));
    fflush(stdout);
    return comparison.nDiffering == 0 ? 0 : 1;
}

} // namespace

int CompareBoardImages(const std::string &strBefore, const std::string &strAfter)
{
    return CompareImages(strBefore, strAfter);
}
