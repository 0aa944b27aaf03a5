// fuzz_manifest.cpp - fuzzes the board image's manifest reader: whatever it accepts writes back as a
// manifest it reads the same, and whatever it refuses it refuses with a reason, never a crash or a
// recursion nested input could drive past the stack.
#include <stdint.h>

#include <string>

#include "board_image_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    ImageManifest manifest;
    std::string strWhy;
    if (!ReadImageManifest(std::string((const char *)pData, nSize), manifest, strWhy)) {
        if (strWhy.empty())
            __builtin_trap();
        return 0;
    }
    for (const ImageBar &bar : manifest.aBars)
        if (bar.nBar > 5)
            __builtin_trap();
    ImageManifest again;
    if (!ReadImageManifest(ImageManifestText(manifest), again, strWhy) || again.strSlot != manifest.strSlot ||
        again.aBars.size() != manifest.aBars.size() || again.nConfigSize != manifest.nConfigSize)
        __builtin_trap();
    return 0;
}
