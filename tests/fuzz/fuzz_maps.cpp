// fuzz_maps.cpp - fuzzes the register-map reader with SVD texts: whatever it accepts is a map the tool
// can use as it stands, and whatever it refuses it refuses with a line of text, never a crash or a hang.
#include <stdint.h>
#include <string.h>

#include <string>

#include "register_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    RegisterMap map;
    std::string strError;
    if (!ReadRegisterMap("fuzz.svd", std::string((const char *)pData, nSize), "", map, strError)) {
        if (strError.compare(0, 9, "fuzz.svd:") != 0 && strError.compare(0, 14, "fuzz.svd line ") != 0)
            __builtin_trap();
        return 0;
    }
    uint64_t nLastSvd = 0;
    uint32_t nLast = 0;
    if (map.nFirstOnBoard > map.nEndOnBoard || map.nEndOnBoard > map.aRegisters.size())
        __builtin_trap();
    for (size_t i = 0; i < map.aRegisters.size(); ++i) {
        const MapRegister &reg = map.aRegisters[i];
        // In SVD address order, those on the board a run of them in board address order, each
        // found at its address and by its own name, and nothing shown raw.
        bool bInRun = i >= map.nFirstOnBoard && i < map.nEndOnBoard;
        if (reg.nSvdAddress < nLastSvd || reg.bOnBoard != bInRun || (bInRun && reg.nAddress < nLast) ||
            (bInRun && FindMapRegister(map, reg.nAddress) == nullptr) || FindMapRegisterByName(map, reg.strName) == nullptr)
            __builtin_trap();
        nLastSvd = reg.nSvdAddress;
        if (bInRun)
            nLast = reg.nAddress;
        for (char c : reg.strName)
            if ((unsigned char)c < 0x20 || c == 0x7F)
                __builtin_trap();
        for (const MapField &field : reg.aFields)
            if (field.nLsb + field.nWidth > reg.nBits || field.nWidth == 0)
                __builtin_trap();
        if (i < 256)
            DescribeRegister(reg, 0xFFFFFFFFu, true);
    }
    return 0;
}
