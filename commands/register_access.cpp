// register_access.cpp - what a key's command accesses, and what a record of an access shows.
#include "register_access.h"

#include "command_table.h"
#include "register_map.h"

bool AccessOf(const Command &command, uint32_t nAddress, uint32_t nValue, RegisterAccess &access)
{
    if (command.eAccess == kNoAccess)
        return false;
    access.bWrite = command.eAccess == kWriteAccess;
    access.bBridge = command.eDevice == kBridge;
    access.nWidth = command.nWidth;
    access.nAddress = nAddress;
    access.nValue = access.bWrite ? nValue : 0;
    return true;
}

void NameAccess(AccessRecord &record, const MapRegister &reg)
{
    record.strName = reg.strName;
    record.pRegister = &reg;
}
