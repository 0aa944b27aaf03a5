// svd_reader.cpp - a CMSIS-SVD file read into a register map: peripherals (derived ones too), nested
// clusters, arrays and lists, inherited register properties, fields in each of their three forms and
// their enumerated values; every contradiction refused with the line it is on.
#include "register_map.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "duze_limits.h"
#include "printable.h"
#include "rapidxml.hpp"
#include "svd_nodes.h"

namespace {

// What a register inherits from the levels above it: size, access, reset value.
struct Properties {
    uint32_t nBits = 32;
    MapAccess eAccess = kMapReadWrite;
    uint64_t nReset = 0;
    bool bReset = false;
};

// The properties the nodes give (null: the one inherited stays).
Properties InheritFrom(Properties properties, const Node *pSize, const Node *pAccess, const Node *pReset)
{
    if (pSize != nullptr) {
        uint64_t nBits = Number(pSize);
        if (nBits == 0 || nBits > 64)
            Refuse(pSize, "<size> " + Text(pSize) + " is not a register width of 1 to 64 bits");
        properties.nBits = (uint32_t)nBits;
    }
    if (pAccess != nullptr)
        properties.eAccess = ParseAccess(pAccess);
    if (pReset != nullptr) {
        properties.nReset = Number(pReset);
        properties.bReset = true;
    }
    return properties;
}

Properties Inherit(Properties properties, const Node *pNode)
{
    return InheritFrom(properties, Child(pNode, "size"), Child(pNode, "access"), Child(pNode, "resetValue"));
}

// The whole device's look-ups by name: peripherals, registers (PERIPHERAL.REGISTER and alone) and
// enumeratedValues, for derivedFrom; the last made at the first enumeration that derives, as a
// walk over every node costs most maps more than their derivations.
struct Device {
    std::map<std::string, const Node *> peripherals, registers;
    mutable std::map<std::string, const Node *> enumerations;
    mutable bool bEnumerationsIndexed = false;
    const Node *pDevice = nullptr;
    // derivedFrom chains, each node walked once: a chain's last node, and the first node of the
    // chain with a child of a name (by the child's name), for each node.
    mutable std::unordered_map<const Node *, const Node *> roots;
    mutable std::map<std::string, std::unordered_map<const Node *, const Node *>> children;
};

// Follows derivedFrom to the node it names, refusing a name nothing has and a loop.
const Node *Base(const std::map<std::string, const Node *> &names, const Node *pNode, const char *pszKind,
                 std::set<const Node *> &seen)
{
    std::string strBase = Attribute(pNode, "derivedFrom");
    if (strBase.empty())
        return nullptr;
    auto it = names.find(strBase);
    // A path to it (PERIPHERAL.REGISTER.FIELD.NAME, as the format allows): its last name.
    if (it == names.end() && strBase.find('.') != std::string::npos)
        it = names.find(strBase.substr(strBase.rfind('.') + 1));
    if (it == names.end())
        Refuse(pNode, std::string("derivedFrom='") + strBase + "' names no " + pszKind);
    if (!seen.insert(pNode).second || seen.count(it->second) != 0)
        Refuse(pNode, std::string("derivedFrom='") + strBase + "' makes a loop of " + pszKind +
                          (pszKind[strlen(pszKind) - 1] == 's' ? "" : "s"));
    return it->second;
}

// The last node of pNode's derivedFrom chain, every name of the chain checked and no loop in it.
// What one walk learnt stays for every node it passed: a chain of N costs N steps, not N squared.
const Node *ChainRoot(const Device &device, const std::map<std::string, const Node *> &names, const Node *pNode,
                      const char *pszKind)
{
    std::vector<const Node *> apWalked;
    std::set<const Node *> seen;
    const Node *pRoot = nullptr;
    for (const Node *p = pNode; p != nullptr && pRoot == nullptr;) {
        auto itKnown = device.roots.find(p);
        if (itKnown != device.roots.end()) {
            pRoot = itKnown->second;
            break;
        }
        apWalked.push_back(p);
        const Node *pBase = Base(names, p, pszKind, seen);
        if (pBase == nullptr)
            pRoot = p;
        p = pBase;
    }
    for (const Node *p : apWalked)
        device.roots[p] = pRoot;
    return pRoot;
}

// An element's child, or its base's where it has none (a derived register or enumeration); the
// chain is checked whole first.
const Node *ChildOrBase(const Device &device, const std::map<std::string, const Node *> &names, const Node *pNode,
                        const char *pszName, const char *pszKind)
{
    if (pNode->first_attribute("derivedFrom") == nullptr)
        return Child(pNode, pszName);
    ChainRoot(device, names, pNode, pszKind);
    std::unordered_map<const Node *, const Node *> &known = device.children[pszName];
    std::vector<const Node *> apWalked;
    std::set<const Node *> seen;
    const Node *pChild = nullptr;
    for (const Node *p = pNode; p != nullptr; p = Base(names, p, pszKind, seen)) {
        auto itKnown = known.find(p);
        if (itKnown != known.end()) {
            pChild = itKnown->second;
            break;
        }
        apWalked.push_back(p);
        if ((pChild = Child(p, pszName)) != nullptr)
            break;
    }
    for (const Node *p : apWalked)
        known[p] = pChild;
    return pChild;
}

// Every enumeratedValues with a name, wherever it is, for derivedFrom.
void IndexEnumerations(const Node *pNode, std::map<std::string, const Node *> &names)
{
    for (const Node *p = pNode->first_node(); p != nullptr; p = p->next_sibling()) {
        if (strncmp(p->name(), "enumeratedValues", p->name_size()) == 0 && p->name_size() == 16) {
            std::string strName = ChildText(p, "name");
            if (!strName.empty())
                names[strName] = p;
        }
        IndexEnumerations(p, names);
    }
}

// A field's enumerated values, a derived list's from its base: each value that fits the field, and
// the name of every value the others do not name (isDefault).
void ReadEnumeratedValues(const Device &device, const Node *pField, MapField &field)
{
    for (const Node *pValues = Child(pField, "enumeratedValues"); pValues != nullptr;
         pValues = pValues->next_sibling("enumeratedValues")) {
        const Node *pList = pValues;
        if (pValues->first_attribute("derivedFrom") != nullptr && !device.bEnumerationsIndexed) {
            IndexEnumerations(device.pDevice, device.enumerations);
            device.bEnumerationsIndexed = true;
        }
        // A derived list is its base's values, after the loop and missing-name checks.
        if (pValues->first_attribute("derivedFrom") != nullptr)
            pList = ChainRoot(device, device.enumerations, pValues, "enumeratedValues");
        for (const Node *pValue = Child(pList, "enumeratedValue"); pValue != nullptr;
             pValue = pValue->next_sibling("enumeratedValue")) {
            CountFields(pValue, 1);
            std::string strValueName = Printable(ChildText(pValue, "name"));
            // The name of every value the others do not name.
            std::string strDefault = ChildText(pValue, "isDefault");
            if (strDefault == "true" || strDefault == "1") {
                field.strDefault = strValueName;
                continue;
            }
            const Node *pNumber = Child(pValue, "value");
            if (pNumber == nullptr)
                continue;
            MapValue value;
            value.strName = strValueName;
            if (!ParseEnumValue(Text(pNumber), value.nValue, value.nCare))
                Refuse(pNumber, "<value> '" + Text(pNumber) + "' is not a number");
            uint64_t nFieldMask = field.nWidth >= 64 ? ~0ull : (1ull << field.nWidth) - 1;
            if ((value.nValue & value.nCare & ~nFieldMask) != 0) {
                Warn(pNumber, "value-wide", "value " + Printable(Text(pNumber)) + " of field " + field.strName +
                                                " does not fit its " + std::to_string(field.nWidth) + " bits: it is left out");
                continue;
            }
            value.nCare &= nFieldMask;
            field.aValues.push_back(value);
        }
    }
}

// A field as the register holds it: false where it is left out (said in a warning).
bool ReadField(const Device &device, const Node *pField, const MapRegister &reg, MapField &field)
{
    field.strName = ChildText(pField, "name");
    if (field.strName.empty())
        Refuse(pField, "a <field> of " + reg.strName + " has no <name>");
    uint64_t nLsb = 0, nMsb = 0;
    if (const Node *pRange = Child(pField, "bitRange")) {
        std::string strRange = Text(pRange);
        size_t nColon = strRange.find(':');
        if (strRange.size() < 5 || strRange.front() != '[' || strRange.back() != ']' || nColon == std::string::npos ||
            !ParseNumber(strRange.substr(1, nColon - 1), nMsb) ||
            !ParseNumber(strRange.substr(nColon + 1, strRange.size() - nColon - 2), nLsb))
            Refuse(pRange, "<bitRange> '" + strRange + "' is not [MSB:LSB]");
    } else if (Child(pField, "bitOffset") != nullptr) {
        nLsb = Number(Child(pField, "bitOffset"));
        uint64_t nWidth = Child(pField, "bitWidth") != nullptr ? Number(Child(pField, "bitWidth")) : 1;
        if (nWidth == 0)
            Refuse(pField, "field " + field.strName + " has <bitWidth> 0");
        nMsb = nLsb + nWidth - 1;
    } else if (Child(pField, "lsb") != nullptr && Child(pField, "msb") != nullptr) {
        nLsb = Number(Child(pField, "lsb"));
        nMsb = Number(Child(pField, "msb"));
    } else {
        Refuse(pField, "field " + field.strName + " has no bitRange, bitOffset or lsb and msb");
    }
    // What other readers do with a field past its register: cut it there, or leave it out.
    auto Bits = [&]() {
        return "field " + Printable(field.strName) + " (bits " + std::to_string(nMsb) + ".." + std::to_string(nLsb) + ") of " +
               reg.strName;
    };
    if (nMsb < nLsb || nLsb >= reg.nBits) {
        Warn(pField, "field-outside", Bits() + " lies outside its " + std::to_string(reg.nBits) + "-bit register: it is left out");
        return false;
    }
    if (nMsb >= reg.nBits) {
        Warn(pField, "field-past", Bits() + " passes its " + std::to_string(reg.nBits) + "-bit register: it is cut there");
        nMsb = reg.nBits - 1;
    }
    field.nLsb = (uint32_t)nLsb;
    field.nWidth = (uint32_t)(nMsb - nLsb + 1);
    field.eAccess = Child(pField, "access") != nullptr ? ParseAccess(Child(pField, "access")) : reg.eAccess;
    // What the map names is shown on screen and in the log: its control bytes and broken UTF-8 escaped.
    field.strName = Printable(field.strName);
    field.strReadAction = Printable(ChildText(pField, "readAction"));
    field.strModifiedWrite = Printable(ChildText(pField, "modifiedWriteValues"));
    if (field.strModifiedWrite == "modify")
        field.strModifiedWrite.clear();
    ReadEnumeratedValues(device, pField, field);
    return true;
}

void ReadRegisterNode(const Device &device, const Node *pNode, const std::string &strPrefix, uint64_t nBase,
                      Properties properties, std::vector<MapRegister> &aOut, std::vector<uint64_t> &anSvd)
{
    std::string strName = ChildText(pNode, "name");
    if (strName.empty())
        Refuse(pNode, "a <register> under " + strPrefix + " has no <name>");
    const Node *pOffset = ChildOrBase(device, device.registers, pNode, "addressOffset", "register");
    if (pOffset == nullptr)
        Refuse(pNode, "register " + strName + " has no <addressOffset>");
    // A derived register takes its base's properties and fields where it gives none: each from the
    // nearest of its chain that has it.
    properties = InheritFrom(properties, ChildOrBase(device, device.registers, pNode, "size", "register"),
                             ChildOrBase(device, device.registers, pNode, "access", "register"),
                             ChildOrBase(device, device.registers, pNode, "resetValue", "register"));
    const Node *pFields = ChildOrBase(device, device.registers, pNode, "fields", "register");
    std::vector<uint64_t> anOffsets;
    std::vector<std::string> aNames = Expand(pNode, strName, anOffsets);
    CountRegisters(pNode, aNames.size());
    uint64_t nOffset = Number(pOffset);
    for (size_t i = 0; i < aNames.size(); ++i) {
        uint64_t nAddress = 0;
        if (!AddAddress(nBase, nOffset, nAddress) || !AddAddress(nAddress, anOffsets[i], nAddress)) {
            Warn(pNode, "wrap", "the address of register " + Printable(strPrefix + aNames[i]) +
                                    " passes 64 bits: it is left out");
            continue;
        }
        MapRegister reg;
        reg.strName = Printable(strPrefix + aNames[i]);
        reg.nBits = properties.nBits;
        reg.eAccess = properties.eAccess;
        reg.nReset = properties.nReset;
        reg.bReset = properties.bReset;
        reg.strReadAction = Printable(ChildText(pNode, "readAction"));
        for (const Node *pField = Child(pFields, "field"); pField != nullptr; pField = pField->next_sibling("field")) {
            CountFields(pField, 1);
            MapField field;
            if (!ReadField(device, pField, reg, field))
                continue;
            if (reg.strReadAction.empty() && !field.strReadAction.empty())
                reg.strReadAction = field.strReadAction;
            reg.aFields.push_back(std::move(field));
        }
        aOut.push_back(std::move(reg));
        anSvd.push_back(nAddress);
    }
}

void ReadRegisters(const Device &device, const Node *pBlock, const std::string &strPrefix, uint64_t nBase,
                   const Properties &properties, std::vector<MapRegister> &aOut, std::vector<uint64_t> &anSvd, int nDepth)
{
    if (nDepth > 16)
        Refuse(pBlock, "clusters nested more than 16 deep");
    for (const Node *pNode = pBlock->first_node(); pNode != nullptr; pNode = pNode->next_sibling()) {
        std::string strKind(pNode->name(), pNode->name_size());
        if (strKind == "register") {
            ReadRegisterNode(device, pNode, strPrefix, nBase, properties, aOut, anSvd);
        } else if (strKind == "cluster") {
            std::string strName = ChildText(pNode, "name");
            const Node *pOffset = Child(pNode, "addressOffset");
            if (strName.empty() || pOffset == nullptr)
                Refuse(pNode, "a <cluster> under " + strPrefix + " without <name> or <addressOffset>");
            std::vector<uint64_t> anOffsets;
            std::vector<std::string> aNames = Expand(pNode, strName, anOffsets);
            CountRegisters(pNode, aNames.size());
            uint64_t nOffset = Number(pOffset);
            for (size_t i = 0; i < aNames.size(); ++i) {
                uint64_t nAddress = 0;
                if (!AddAddress(nBase, nOffset, nAddress) || !AddAddress(nAddress, anOffsets[i], nAddress)) {
                    Warn(pNode, "wrap", "the address of cluster " + Printable(strPrefix + aNames[i]) +
                                            " passes 64 bits: it is left out");
                    continue;
                }
                ReadRegisters(device, pNode, strPrefix + aNames[i] + ".", nAddress, Inherit(properties, pNode), aOut,
                              anSvd, nDepth + 1);
            }
        }
    }
}

void Index(const Node *pNode, const char *pszKind, const std::string &strPrefix,
           std::map<std::string, const Node *> &names)
{
    for (const Node *p = Child(pNode, pszKind); p != nullptr; p = p->next_sibling(pszKind)) {
        std::string strName = ChildText(p, "name");
        if (!strName.empty()) {
            names[strName] = p;
            if (!strPrefix.empty())
                names[strPrefix + strName] = p;
        }
    }
}

void ReadDevice(const Node *pDevice, const std::string &strBase, RegisterMap &map)
{
    Device device;
    const Node *pPeripherals = Child(pDevice, "peripherals");
    if (pPeripherals == nullptr)
        Refuse(pDevice, "<device> has no <peripherals>");
    Index(pPeripherals, "peripheral", "", device.peripherals);
    // A peripheral may hold several <registers> blocks: each is read.
    for (const Node *p = Child(pPeripherals, "peripheral"); p != nullptr; p = p->next_sibling("peripheral"))
        for (const Node *pRegisters = Child(p, "registers"); pRegisters != nullptr; pRegisters = pRegisters->next_sibling("registers"))
            Index(pRegisters, "register", ChildText(p, "name") + ".", device.registers);
    device.pDevice = pDevice;
    Properties properties = Inherit(Properties(), pDevice);
    std::vector<uint64_t> anSvd;
    uint64_t nLowest = UINT64_MAX;
    bool bAnyPeripheral = false;
    for (const Node *p = Child(pPeripherals, "peripheral"); p != nullptr; p = p->next_sibling("peripheral")) {
        std::string strName = ChildText(p, "name");
        const Node *pAddress = Child(p, "baseAddress");
        if (strName.empty() || pAddress == nullptr)
            Refuse(p, "a <peripheral> without <name> or <baseAddress>");
        uint64_t nBase = Number(pAddress);
        nLowest = std::min(nLowest, nBase);
        bAnyPeripheral = true;
        // A derived peripheral is its base's registers at its own address; every derivedFrom of the
        // chain names a peripheral, and the chain does not come back.
        ChainRoot(device, device.peripherals, p, "peripheral");
        const Node *pWithRegisters = ChildOrBase(device, device.peripherals, p, "registers", "peripheral");
        const Node *pWith = pWithRegisters != nullptr ? pWithRegisters->parent() : nullptr;
        Properties own = properties;
        if (pWith != nullptr && pWith != p)
            own = Inherit(own, pWith);
        own = Inherit(own, p);
        for (const Node *pRegisters = Child(pWith, "registers"); pRegisters != nullptr;
             pRegisters = pRegisters->next_sibling("registers"))
            ReadRegisters(device, pRegisters, strName + ".", nBase, own, map.aRegisters, anSvd, 0);
    }
    // The board's address 0: a number, a peripheral's name (a window that starts at it), or the
    // lowest baseAddress.
    uint64_t nZero = bAnyPeripheral ? nLowest : 0;
    if (!strBase.empty() && !ParseNumber(strBase, nZero)) {
        auto itPeripheral = device.peripherals.find(strBase);
        const Node *pAddress = itPeripheral != device.peripherals.end() ? Child(itPeripheral->second, "baseAddress") : nullptr;
        if (pAddress == nullptr)
            throw MapError{nullptr, "the map's base '" + Printable(strBase) + "' is neither a number nor a peripheral's name"};
        nZero = Number(pAddress);
    }
    // The board reaches what lies from the base within its 32-bit addresses: the rest stays in the
    // map, not on the board (a window of a SoC's address space).
    for (size_t i = 0; i < map.aRegisters.size(); ++i) {
        MapRegister &reg = map.aRegisters[i];
        reg.nSvdAddress = anSvd[i];
        reg.bOnBoard = anSvd[i] >= nZero && anSvd[i] - nZero <= 0xFFFFFFFFull;
        reg.nAddress = reg.bOnBoard ? (uint32_t)(anSvd[i] - nZero) : 0;
    }
    std::stable_sort(map.aRegisters.begin(), map.aRegisters.end(),
                     [](const MapRegister &a, const MapRegister &b) { return a.nSvdAddress < b.nSvdAddress; });
    map.nBase = nZero;
    map.nFirstOnBoard = (size_t)(std::find_if(map.aRegisters.begin(), map.aRegisters.end(),
                                              [](const MapRegister &reg) { return reg.bOnBoard; }) - map.aRegisters.begin());
    map.nEndOnBoard = map.nFirstOnBoard;
    while (map.nEndOnBoard < map.aRegisters.size() && map.aRegisters[map.nEndOnBoard].bOnBoard)
        ++map.nEndOnBoard;
}

} // namespace

bool ReadRegisterMap(const std::string &strFile, const std::string &strText, const std::string &strBase,
                     RegisterMap &map, std::string &strError)
{
    map = RegisterMap();
    map.strFile = strFile;
    std::vector<char> acText(strText.begin(), strText.end());
    acText.push_back('\0');
    BeginSvdReading(strText.c_str(), acText.data(), &map.aWarnings);
    try {
        CheckNesting(acText.data(), acText.data() + strText.size());
        rapidxml::xml_document<char> document;
        try {
            // Names and texts are read by their sizes: the text is left as it is, unterminated and
            // untranslated (an SVD's names and numbers hold no entities), which saves a pass over it.
            document.parse<rapidxml::parse_validate_closing_tags | rapidxml::parse_non_destructive>(acText.data());
        } catch (const rapidxml::parse_error &error) {
            throw MapError{error.where<char>(), std::string("not well-formed XML: ") + error.what()};
        }
        const Node *pDevice = document.first_node();
        while (pDevice != nullptr && pDevice->type() != rapidxml::node_element)
            pDevice = pDevice->next_sibling();
        if (pDevice == nullptr || strncmp(pDevice->name(), "device", pDevice->name_size()) != 0 ||
            pDevice->name_size() != 6)
            Refuse(pDevice, "not a CMSIS-SVD file: its root element is not <device>");
        ReadDevice(pDevice, strBase, map);
    } catch (const MapError &error) {
        int nLine = LineOf(error.pWhere);
        strError = strFile + (nLine > 0 ? " line " + std::to_string(nLine) : std::string()) + ": " + error.strWhat;
        EndSvdReading();
        return false;
    }
    EndSvdReading();
    // Each full name, and each register name alone where only one register has it, as spelt; both
    // in upper case for every register.
    std::unordered_map<std::string, int> shortCount;
    for (const MapRegister &reg : map.aRegisters)
        ++shortCount[reg.strName.substr(reg.strName.rfind('.') + 1)];
    map.exact.reserve(map.aRegisters.size() * 2);
    map.folded.reserve(map.aRegisters.size() * 2);
    for (size_t i = 0; i < map.aRegisters.size(); ++i) {
        const std::string &strName = map.aRegisters[i].strName;
        std::string strShort = strName.substr(strName.rfind('.') + 1);
        map.exact.emplace(strName, i);
        if (shortCount[strShort] == 1)
            map.exact.emplace(strShort, i);
        map.folded.emplace(Upper(strName), i);
        if (strShort != strName)
            map.folded.emplace(Upper(strShort), i);
    }
    return true;
}
