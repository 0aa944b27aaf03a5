// resolve.cpp - the one resolver of names: what the run's register maps make of an operation (a
// register's address and width, a field's bits, the bits a masked write must not write back as
// read), with one set of messages for options and batch lines alike.
#include <stdio.h>

#include <string>
#include <vector>

#include "command_table.h"
#include "operations.h"
#include "printable.h"
#include "register_map.h"

namespace {

std::string Hex(uint32_t nValue, int nDigits = 0)
{
    char szHex[16];
    snprintf(szHex, sizeof szHex, "%.*X", nDigits, (unsigned)nValue);
    return szHex;
}

// NAME.FIELD=VALUE: the field's bits alone are written, the value checked against its width.
bool TakeField(Operation &op, const MapRegister &reg, std::string &strWhy)
{
    const MapField *pField = nullptr;
    for (const MapField &field : reg.aFields)
        if (field.strName == op.strField || (pField == nullptr && SameLetters(field.strName, op.strField)))
            pField = &field;
    if (pField == nullptr) {
        strWhy = "Register " + reg.strName + " has no field " + Printable(op.strField);
        return false;
    }
    int nWidth = FindCommand(op.cKey)->nWidth;
    uint32_t nFieldMask = pField->nWidth >= 32 ? 0xFFFFFFFFu : (1u << pField->nWidth) - 1;
    if (pField->nLsb + pField->nWidth > (uint32_t)nWidth)
        strWhy = "Field " + reg.strName + "." + pField->strName + " lies past the " + std::to_string(nWidth) + " bits this write takes";
    else if ((op.nValue & ~nFieldMask) != 0)
        strWhy = "Value 0x" + Hex(op.nValue) + " is wider than field " + reg.strName + "." + pField->strName + "'s " +
                 std::to_string(pField->nWidth) + " bits";
    op.bMasked = true;
    op.nMask = nFieldMask << pField->nLsb;
    op.nValue <<= pField->nLsb;
    return strWhy.empty();
}

// The bits a masked write leaves are written back as read, but for fields whose write acts: a
// write-one-to-clear field written as the 1 it reads would be cleared. Those are written as the
// value that does nothing. A write-only register is not read: its reset value stands for it.
bool KeepOtherBits(Operation &op, std::string &strWhy)
{
    const RegisterMap *pMap = RunMap(FindCommand(op.cKey)->eDevice == kBridge);
    std::vector<const MapRegister *> apNamed = op.strName.empty() ? std::vector<const MapRegister *>{} : AccessRegisters(op);
    const MapRegister *pRegister = !apNamed.empty() ? apNamed[0] : pMap != nullptr ? FindMapRegister(*pMap, op.nAddress) : nullptr;
    if (pRegister == nullptr)
        return true;
    const MapRegister &reg = *pRegister;
    // The bits kept are read first: a register whose read changes it (clears a flag) is not read
    // for a write of some of its bits, unless it cannot be read at all and its reset value stands.
    if (!reg.strReadAction.empty() && reg.eAccess != kMapWriteOnly) {
        strWhy = "Register " + reg.strName + ": a read has an effect (" + reg.strReadAction +
                 "), and a write of some of its bits would read it first: write the whole register";
        return false;
    }
    for (const MapField &field : reg.aFields) {
        uint32_t nBits = field.nLsb >= 32 ? 0 : (field.nWidth >= 32 ? 0xFFFFFFFFu : (1u << field.nWidth) - 1) << field.nLsb;
        nBits &= ~op.nMask;
        const std::string &strWrite = field.strModifiedWrite;
        if (strWrite == "oneToClear" || strWrite == "oneToSet" || strWrite == "oneToToggle")
            op.nForceZero |= nBits;
        else if (strWrite == "zeroToClear" || strWrite == "zeroToSet" || strWrite == "zeroToToggle")
            op.nForceOne |= nBits;
    }
    if (reg.eAccess == kMapWriteOnly) {
        op.bNoRead = true;
        op.nUnread = reg.bReset ? (uint32_t)reg.nReset : 0;
    }
    return true;
}

// A name's register: its address and width, or, for a write to NAME.FIELD, the register's field.
bool ResolveName(Operation &op, std::string &strWhy)
{
    bool bBridge = FindCommand(op.cKey)->eDevice == kBridge;
    const RegisterMap *pMap = RunMap(bBridge);
    if (pMap == nullptr) {
        strWhy = bBridge ? "'" + op.strName + "' is no number, and the bridge's accesses take names from the bridge's register "
                                              "map, which none names (--bridge-map or DUZE_BRIDGE_MAP)"
                         : "'" + op.strName + "' is no number, and the board's accesses take names from the board's register "
                                              "map, which none names (--map or DUZE_MAP)";
        return false;
    }
    std::vector<const MapRegister *> apCandidates;
    const MapRegister *pRegister = FindMapRegisterByName(*pMap, op.strName, &apCandidates);
    size_t nDot = op.strName.rfind('.');
    if (pRegister == nullptr && apCandidates.empty() && nDot != std::string::npos &&
        FindCommand(op.cKey)->eAccess == kWriteAccess) {
        pRegister = FindMapRegisterByName(*pMap, op.strName.substr(0, nDot), &apCandidates);
        if (pRegister != nullptr)
            op.strField = op.strName.substr(nDot + 1);
    }
    if (pRegister == nullptr && !apCandidates.empty())
        strWhy = AmbiguousName(op.strName, apCandidates);
    else if (pRegister == nullptr)
        strWhy = "No register " + op.strName + " in the map " + pMap->strFile;
    else if (!pRegister->bOnBoard)
        strWhy = "register " + pRegister->strName + " is not on the board: " + MapNotOnBoard(*pMap, *pRegister, 0);
    else if (op.nValueHigh != 0 && pRegister->nBits <= 32)
        strWhy = "Value 0x" + Hex(op.nValueHigh) + Hex(op.nValue, 8) + " is wider than register " + pRegister->strName + "'s " +
                 std::to_string(pRegister->nBits) + " bits";
    if (!strWhy.empty())
        return false;
    op.nAddress = pRegister->nAddress;
    op.nMapBits = pRegister->nBits;
    return op.strField.empty() || TakeField(op, *pRegister, strWhy);
}

} // namespace

std::vector<const MapRegister *> AccessRegisters(const Operation &op)
{
    const RegisterMap *pMap = RunMap(FindCommand(op.cKey)->eDevice == kBridge);
    if (pMap == nullptr)
        return {};
    if (!op.strName.empty()) {
        std::string strRegister = op.strField.empty() ? op.strName : op.strName.substr(0, op.strName.rfind('.'));
        const MapRegister *pRegister = FindMapRegisterByName(*pMap, strRegister);
        return pRegister != nullptr ? std::vector<const MapRegister *>{pRegister} : std::vector<const MapRegister *>{};
    }
    return MapRegistersAt(*pMap, op.nAddress);
}

bool ResolveOperation(Operation &op, std::string &strWhy)
{
    strWhy.clear();
    bool bBridgeMap = op.eKind == kOpBridgeDump || (op.eKind == kOpNames && op.nNumber == 2);
    const char *pszMap = bBridgeMap ? "the bridge's register map (--bridge-map or DUZE_BRIDGE_MAP)"
                                    : "the board's register map (--map or DUZE_MAP)";
    switch (op.eKind) {
    case kOpAccess:
        if (!op.strName.empty() && !ResolveName(op, strWhy))
            return false;
        return !op.bMasked || KeepOtherBits(op, strWhy);
    case kOpDump:
    case kOpBridgeDump:
        if (RunMap(bBridgeMap) == nullptr)
            strWhy = OperationName(op) + " needs " + pszMap;
        break;
    case kOpNames:
        if (RunMap(bBridgeMap) == nullptr)
            strWhy = OperationName(op) + (bBridgeMap ? " bridge" : " board") + " needs " + pszMap;
        break;
    default:
        break;
    }
    return strWhy.empty();
}
