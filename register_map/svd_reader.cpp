// svd_reader.cpp - a CMSIS-SVD file read into a register map: peripherals (derived ones too), nested
// clusters, arrays and lists, inherited register properties, fields in each of their three forms and
// their enumerated values; every contradiction refused with the line it is on.
#include "register_map.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "duze_limits.h"
#include "printable.h"
#include "rapidxml.hpp"

namespace {

typedef rapidxml::xml_node<char> Node;

// A refusal, with where it is: thrown from deep in the walk, caught once.
struct MapError {
    const char *pWhere;
    std::string strWhat;
};

// The text as read, and the parser's copy of it, whose offsets give an element's line.
const char *g_pOriginal = nullptr;
const char *g_pParsed = nullptr;
// What the map has expanded to so far, against its limits: registers and cluster instances, fields
// and enumerated values.
size_t g_nRegistersRead = 0;
size_t g_nFieldsRead = 0;
// Called every kMapPollEvery registers, so that an interrupt ends a long reading at once; or null.
void (*g_pfnPoll)() = nullptr;
// The warnings of the map being read, one of each kind.
std::vector<std::string> *g_paWarnings = nullptr;
std::set<std::string> g_warnedKinds;

int LineOf(const char *pWhere)
{
    if (pWhere == nullptr || g_pParsed == nullptr || pWhere < g_pParsed)
        return 0;
    size_t nOffset = (size_t)(pWhere - g_pParsed);
    return 1 + (int)std::count(g_pOriginal, g_pOriginal + nOffset, '\n');
}

[[noreturn]] void Refuse(const Node *pNode, const std::string &strWhat)
{
    throw MapError{pNode != nullptr ? pNode->name() : nullptr, strWhat};
}

// What a map does that its format's other readers take with a warning: once for each kind, with the
// line of its first.
void Warn(const Node *pNode, const std::string &strKind, const std::string &strWhat)
{
    if (g_paWarnings == nullptr || !g_warnedKinds.insert(strKind).second)
        return;
    int nLine = LineOf(pNode != nullptr ? pNode->name() : nullptr);
    g_paWarnings->push_back((nLine > 0 ? "line " + std::to_string(nLine) + ": " : std::string()) + strWhat);
}

// A + B, or false where the sum passes 64 bits.
bool AddAddress(uint64_t nA, uint64_t nB, uint64_t &nSum)
{
    if (nA > UINT64_MAX - nB)
        return false;
    nSum = nA + nB;
    return true;
}

// One more register or cluster instance, within the map's limit; the reading lets an interrupt act
// now and then.
void CountRegisters(const Node *pNode, size_t nMore)
{
    if (nMore > kMapRegistersMax - g_nRegistersRead)
        Refuse(pNode, "the map expands to more than " + std::to_string(kMapRegistersMax) +
                          " registers and clusters (its dims multiply): no board has that many");
    size_t nBefore = g_nRegistersRead;
    g_nRegistersRead += nMore;
    if (g_pfnPoll != nullptr && g_nRegistersRead / kMapPollEvery != nBefore / kMapPollEvery)
        g_pfnPoll();
}

void CountFields(const Node *pNode, size_t nMore)
{
    if (nMore > kMapFieldsMax - g_nFieldsRead)
        Refuse(pNode, "the map expands to more than " + std::to_string(kMapFieldsMax) +
                          " fields and enumerated values (its dims multiply)");
    g_nFieldsRead += nMore;
}

// Elements nested deeper than a real map's are refused before the parser, which recurses once a
// level, goes down into them: comments, CDATA, declarations and quoted attribute values skipped.
void CheckNesting(const char *p, const char *pEnd)
{
    auto Skip = [&](const char *pszEnd) {
        const char *pFound = std::search(p, pEnd, pszEnd, pszEnd + strlen(pszEnd));
        p = pFound == pEnd ? pEnd : pFound + strlen(pszEnd);
    };
    size_t nDepth = 0;
    while ((p = (const char *)memchr(p, '<', (size_t)(pEnd - p))) != nullptr) {
        const char *pTag = p;
        size_t nLeft = (size_t)(pEnd - p);
        if (nLeft >= 4 && memcmp(p, "<!--", 4) == 0) {
            Skip("-->");
        } else if (nLeft >= 9 && memcmp(p, "<![CDATA[", 9) == 0) {
            Skip("]]>");
        } else if (nLeft >= 2 && (p[1] == '?' || p[1] == '!')) {
            Skip(">");
        } else if (nLeft >= 2 && p[1] == '/') {
            nDepth -= nDepth > 0 ? 1 : 0;
            Skip(">");
        } else {
            char cQuote = 0;
            for (++p; p < pEnd && (cQuote != 0 || *p != '>'); ++p)
                cQuote = cQuote != 0 ? (*p == cQuote ? 0 : cQuote) : (*p == '"' || *p == '\'' ? *p : 0);
            if (p >= pEnd)
                return;
            if (p[-1] != '/' && ++nDepth > kMapDepthMax)
                throw MapError{pTag, "elements nested more than " + std::to_string(kMapDepthMax) +
                                         " deep: no register map nests so deep"};
            ++p;
        }
        if (p >= pEnd)
            return;
    }
}

std::string Text(const Node *pNode)
{
    std::string strText(pNode->value(), pNode->value_size());
    size_t nFirst = strText.find_first_not_of(" \t\r\n");
    size_t nLast = strText.find_last_not_of(" \t\r\n");
    return nFirst == std::string::npos ? "" : strText.substr(nFirst, nLast - nFirst + 1);
}

const Node *Child(const Node *pNode, const char *pszName)
{
    return pNode != nullptr ? pNode->first_node(pszName) : nullptr;
}

std::string ChildText(const Node *pNode, const char *pszName)
{
    const Node *pChild = Child(pNode, pszName);
    return pChild != nullptr ? Text(pChild) : "";
}

std::string Attribute(const Node *pNode, const char *pszName)
{
    rapidxml::xml_attribute<char> *pAttribute = pNode->first_attribute(pszName);
    return pAttribute != nullptr ? std::string(pAttribute->value(), pAttribute->value_size()) : "";
}

// scaledNonNegativeInteger: decimal, 0x hexadecimal or # binary, an optional k, M, G or T after it.
bool ParseNumber(const std::string &strText, uint64_t &nValue)
{
    std::string str = strText;
    if (!str.empty() && str[0] == '+')
        str.erase(0, 1);
    uint64_t nScale = 1;
    if (!str.empty()) {
        switch (str.back()) {
        case 'k': case 'K': nScale = 1ull << 10; break;
        case 'm': case 'M': nScale = 1ull << 20; break;
        case 'g': case 'G': nScale = 1ull << 30; break;
        case 't': case 'T': nScale = 1ull << 40; break;
        }
        if (nScale != 1 && !(str.size() > 2 && (str[1] == 'x' || str[1] == 'X')))
            str.pop_back();
        else
            nScale = 1;
    }
    int nBase = 10;
    if (str.size() > 2 && str[0] == '0' && (str[1] == 'x' || str[1] == 'X')) {
        nBase = 16;
        str.erase(0, 2);
    } else if (str.size() > 1 && str[0] == '#') {
        nBase = 2;
        str.erase(0, 1);
    }
    if (str.empty() || str.size() > 64)
        return false;
    nValue = 0;
    for (char c : str) {
        int nDigit = isdigit((unsigned char)c) ? c - '0' : isxdigit((unsigned char)c) ? (tolower(c) - 'a' + 10) : 99;
        if (nDigit >= nBase || nValue > (UINT64_MAX - (uint64_t)nDigit) / (uint64_t)nBase)
            return false;
        nValue = nValue * (uint64_t)nBase + (uint64_t)nDigit;
    }
    if (nValue > UINT64_MAX / nScale)
        return false;
    nValue *= nScale;
    return true;
}

uint64_t Number(const Node *pNode)
{
    uint64_t nValue = 0;
    if (!ParseNumber(Text(pNode), nValue))
        Refuse(pNode, "<" + std::string(pNode->name(), pNode->name_size()) + "> '" + Text(pNode) + "' is not a number");
    return nValue;
}

MapAccess ParseAccess(const Node *pNode)
{
    static const std::pair<const char *, MapAccess> s_aNames[] = {
        {"read-write", kMapReadWrite}, {"read-only", kMapReadOnly}, {"write-only", kMapWriteOnly},
        {"writeOnce", kMapWriteOnce},  {"read-writeOnce", kMapReadWriteOnce}};
    std::string strText = Text(pNode);
    for (const auto &name : s_aNames)
        if (strText == name.first)
            return name.second;
    // What other readers take: any case (read-writeonce), and write for write-only.
    for (const auto &name : s_aNames) {
        if (SameLetters(strText, name.first)) {
            Warn(pNode, "access-case", "<access> '" + Printable(strText) + "' is taken as " + name.first);
            return name.second;
        }
    }
    if (SameLetters(strText, "write")) {
        Warn(pNode, "access-write", "<access> 'write' is taken as write-only");
        return kMapWriteOnly;
    }
    Warn(pNode, "access-unknown", "<access> '" + Printable(strText) + "' is none of read-write, read-only, write-only, "
                                  "writeOnce, read-writeOnce: taken as read-write");
    return kMapReadWrite;
}

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

// The names a dim element stands for: NAME[%s] an array, %s anywhere a list (its dimIndex, or 0 up).
std::vector<std::string> Expand(const Node *pNode, const std::string &strName, std::vector<uint64_t> &anOffsets)
{
    const Node *pDim = Child(pNode, "dim");
    anOffsets.assign(1, 0);
    if (pDim == nullptr) {
        if (strName.find("%s") != std::string::npos)
            Refuse(pNode, "'" + strName + "' holds %s but no <dim>");
        return {strName};
    }
    uint64_t nDim = Number(pDim);
    const Node *pIncrement = Child(pNode, "dimIncrement");
    if (pIncrement == nullptr)
        Refuse(pDim, "<dim> without <dimIncrement>");
    if (nDim == 0 || nDim > 65536)
        Refuse(pDim, "<dim> " + Text(pDim) + " is not from 1 to 65536");
    uint64_t nIncrement = Number(pIncrement);
    std::vector<std::string> aIndex;
    std::string strIndex = ChildText(pNode, "dimIndex");
    size_t nDash = strIndex.find('-');
    if (strIndex.empty()) {
        for (uint64_t i = 0; i < nDim; ++i)
            aIndex.push_back(std::to_string(i));
    } else if (nDash != std::string::npos && strIndex.find(',') == std::string::npos) {
        uint64_t nFirst = 0, nLast = 0;
        if (!ParseNumber(strIndex.substr(0, nDash), nFirst) || !ParseNumber(strIndex.substr(nDash + 1), nLast) ||
            nLast < nFirst)
            Refuse(Child(pNode, "dimIndex"), "<dimIndex> '" + strIndex + "' is no range FIRST-LAST");
        for (uint64_t i = nFirst; i <= nLast && aIndex.size() <= nDim; ++i)
            aIndex.push_back(std::to_string(i));
    } else {
        size_t nStart = 0;
        for (size_t nComma; (nComma = strIndex.find(',', nStart)) != std::string::npos; nStart = nComma + 1)
            aIndex.push_back(strIndex.substr(nStart, nComma - nStart));
        aIndex.push_back(strIndex.substr(nStart));
    }
    if (aIndex.size() != nDim)
        Refuse(pDim, "<dim> " + Text(pDim) + " but <dimIndex> names " + std::to_string(aIndex.size()));
    size_t nAt = strName.find("%s");
    if (nAt == std::string::npos)
        Refuse(pNode, "'" + strName + "' has a <dim> but no %s");
    if (nIncrement != 0 && nDim - 1 > UINT64_MAX / nIncrement)
        Refuse(pIncrement, "<dim> " + Text(pDim) + " times <dimIncrement> " + Text(pIncrement) + " passes 64 bits");
    std::vector<std::string> aNames;
    anOffsets.clear();
    for (uint64_t i = 0; i < nDim; ++i) {
        aNames.push_back(strName.substr(0, nAt) + aIndex[i] + strName.substr(nAt + 2));
        anOffsets.push_back(i * nIncrement);
    }
    return aNames;
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

// An enumerated value: a number, or binary digits with don't-care bits (#1x0, 0b1x0); its cared-for
// bits in nCare. False where it is neither.
bool ParseEnumValue(const std::string &strText, uint64_t &nValue, uint64_t &nCare)
{
    nCare = ~0ull;
    if (ParseNumber(strText, nValue))
        return true;
    size_t nStart = strText.compare(0, 1, "#") == 0 ? 1 : (strText.compare(0, 2, "0b") == 0 || strText.compare(0, 2, "0B") == 0) ? 2 : 0;
    if (nStart == 0 || strText.size() == nStart || strText.size() - nStart > 64)
        return false;
    nValue = 0;
    nCare = 0;
    for (size_t i = nStart; i < strText.size(); ++i) {
        char c = (char)tolower((unsigned char)strText[i]);
        if (c != '0' && c != '1' && c != 'x')
            return false;
        nValue = (nValue << 1) | (c == '1' ? 1 : 0);
        nCare = (nCare << 1) | (c == 'x' ? 0 : 1);
    }
    return true;
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
    g_pOriginal = strText.c_str();
    g_pParsed = acText.data();
    g_nRegistersRead = g_nFieldsRead = 0;
    g_paWarnings = &map.aWarnings;
    g_warnedKinds.clear();
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
        g_pOriginal = g_pParsed = nullptr;
        g_paWarnings = nullptr;
        return false;
    }
    g_pOriginal = g_pParsed = nullptr;
    g_paWarnings = nullptr;
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

void SetMapReadPoll(void (*pfnPoll)())
{
    g_pfnPoll = pfnPoll;
}
