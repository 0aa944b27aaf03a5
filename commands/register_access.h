// register_access.h - the one place every register access of the tool's side passes: the keys, the
// one-shot options, a batch's lines, the dumps and the memory test job fill an access record and run
// it here (the M command's passes apart, memory_command.cpp says why).
#ifndef DUZE_REGISTER_ACCESS_H
#define DUZE_REGISTER_ACCESS_H

#include <stdint.h>

#include <string>

#include "KynHwDll.h"

struct Command;
struct MapRegister;

// One access: what it does, on which device, at which width and address, the value written or read
// (zero-extended), and the library's result.
struct RegisterAccess {
    bool bWrite = false;
    bool bBridge = false;
    int nWidth = 32;          // 8, 16, 32; a record's 64 is a map's 64-bit register, two accesses
    uint32_t nAddress = 0;
    uint64_t nValue = 0;
    KYN_RESULT nResult = 0;
};

// The record of an access that is shown: the register's name and fields where a map has them, and
// the library's text on failure.
struct AccessRecord : RegisterAccess {
    int nLine = 0;            // the batch's line, or 0 for an option
    std::string strName;      // the register's name in the map, or ""
    const MapRegister *pRegister = nullptr; // the map's register whose fields the value has, or null
    std::string strError;     // the library's text for a failure
};

// The access a read or write key's command makes (its width, device and direction) at an address;
// false for any other command.
bool AccessOf(const Command &command, uint32_t nAddress, uint32_t nValue, RegisterAccess &access);

// Runs the access on the device, a read's value in nValue; returns (and keeps) the library's result.
// The library gets the whole value written; it cuts it to the width. Inline: the memory tests run
// it for every word, at a width the compiler knows.
inline KYN_RESULT RunRegisterAccess(KYN_HANDLE hDevice, RegisterAccess &access)
{
    uint32_t nValue = (uint32_t)access.nValue;
    if (access.bWrite) {
        access.nResult = access.nWidth == 8    ? KynDrvWriteReg8(hDevice, access.nAddress, nValue)
                         : access.nWidth == 16 ? KynDrvWriteReg16(hDevice, access.nAddress, nValue)
                                               : KynDrvWriteReg32(hDevice, access.nAddress, nValue);
    } else if (access.nWidth == 8) {
        uint8_t nByte = 0;
        access.nResult = KynDrvReadReg8(hDevice, access.nAddress, &nByte);
        access.nValue = nByte;
    } else if (access.nWidth == 16) {
        uint16_t nHalf = 0;
        access.nResult = KynDrvReadReg16(hDevice, access.nAddress, &nHalf);
        access.nValue = nHalf;
    } else {
        uint32_t nWord = 0;
        access.nResult = KynDrvReadReg32(hDevice, access.nAddress, &nWord);
        access.nValue = nWord;
    }
    return access.nResult;
}

// The register's name, and the register whose fields the record's value shows.
void NameAccess(AccessRecord &record, const MapRegister &reg);

#endif
