// map_lookup.cpp - what the tool asks of a register map once it is read: a register by its address or
// its name, why one is not on the board, and a value's fields, as a line of text or one by one.
#include "register_map.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "printable.h"

bool SameLetters(const std::string &strText, const std::string &strOther)
{
    if (strText.size() != strOther.size())
        return false;
    for (size_t i = 0; i < strText.size(); ++i)
        if (tolower((unsigned char)strText[i]) != tolower((unsigned char)strOther[i]))
            return false;
    return true;
}

std::string Upper(std::string str)
{
    for (char &c : str)
        c = (char)toupper((unsigned char)c);
    return str;
}

const MapRegister *FindMapRegister(const RegisterMap &map, uint32_t nAddress)
{
    auto itEnd = map.aRegisters.begin() + (ptrdiff_t)map.nEndOnBoard;
    auto it = std::lower_bound(map.aRegisters.begin() + (ptrdiff_t)map.nFirstOnBoard, itEnd, nAddress,
                               [](const MapRegister &reg, uint32_t n) { return reg.nAddress < n; });
    return it != itEnd && it->nAddress == nAddress ? &*it : nullptr;
}

std::vector<const MapRegister *> MapRegistersAt(const RegisterMap &map, uint32_t nAddress)
{
    std::vector<const MapRegister *> apAt;
    const MapRegister *pFirst = FindMapRegister(map, nAddress);
    for (const MapRegister *p = pFirst; p != nullptr && p != map.aRegisters.data() + map.nEndOnBoard && p->nAddress == nAddress; ++p)
        apAt.push_back(p);
    return apAt;
}

const MapRegister *FindMapRegisterByName(const RegisterMap &map, const std::string &strName,
                                         std::vector<const MapRegister *> *papCandidates)
{
    auto itExact = map.exact.find(strName);
    if (itExact != map.exact.end())
        return &map.aRegisters[itExact->second];
    std::set<size_t> found;
    auto range = map.folded.equal_range(Upper(strName));
    for (auto it = range.first; it != range.second; ++it)
        found.insert(it->second);
    if (found.size() == 1)
        return &map.aRegisters[*found.begin()];
    if (papCandidates != nullptr) {
        papCandidates->clear();
        for (size_t i : found)
            papCandidates->push_back(&map.aRegisters[i]);
    }
    return nullptr;
}

std::string AmbiguousName(const std::string &strName, const std::vector<const MapRegister *> &apCandidates)
{
    std::string strText = Printable(strName) + " is ambiguous:";
    for (size_t i = 0; i < apCandidates.size() && i < 8; ++i)
        strText += std::string(i == 0 ? " " : ", ") + apCandidates[i]->strName;
    return strText + (apCandidates.size() > 8 ? ", ..." : "");
}

std::string MapNotOnBoard(const RegisterMap &map, const MapRegister &reg, uint32_t nWindow)
{
    char szWhy[128] = "";
    if (!reg.bOnBoard && reg.nSvdAddress < map.nBase)
        snprintf(szWhy, sizeof szWhy, "it lies below the map's base 0x%llX", (unsigned long long)map.nBase);
    else if (!reg.bOnBoard)
        snprintf(szWhy, sizeof szWhy, "it lies past the board's 32-bit addresses from the map's base 0x%llX",
                 (unsigned long long)map.nBase);
    else if (nWindow != 0 && (uint64_t)reg.nAddress + (reg.nBits + 7) / 8 > nWindow)
        snprintf(szWhy, sizeof szWhy, "it lies past the board's 0x%X bytes of registers", (unsigned)nWindow);
    return szWhy;
}

std::string MapValueName(const MapField &field, uint64_t nField)
{
    for (const MapValue &value : field.aValues)
        if ((nField & value.nCare) == (value.nValue & value.nCare))
            return value.strName;
    return field.strDefault;
}

std::string DescribeRegister(const MapRegister &reg, uint64_t nValue, bool bWrite, bool bMarkReset)
{
    std::string strLine = "  " + reg.strName;
    char szValue[32];
    for (size_t i = 0; i < reg.aFields.size(); ++i) {
        const MapField &field = reg.aFields[i];
        uint64_t nMask = field.nWidth >= 64 ? ~0ull : (1ull << field.nWidth) - 1;
        uint64_t nField = (nValue >> field.nLsb) & nMask;
        snprintf(szValue, sizeof szValue, field.nWidth == 1 ? "%llu" : "0x%llX", (unsigned long long)nField);
        strLine += (i == 0 ? ": " : " ") + field.strName + "=" + szValue;
        // A field not at its reset value, where the map gives one.
        if (bMarkReset && reg.bReset && nField != ((reg.nReset >> field.nLsb) & nMask))
            strLine += "*";
        std::string strName = MapValueName(field, nField);
        if (!strName.empty())
            strLine += " (" + strName + ")";
        if (bWrite && !field.strModifiedWrite.empty())
            strLine += " [" + field.strModifiedWrite + "]";
    }
    return strLine + "\n";
}

std::vector<FieldValue> MapFieldValues(const MapRegister &reg, uint64_t nValue)
{
    std::vector<FieldValue> aValues;
    for (const MapField &field : reg.aFields) {
        uint64_t nMask = field.nWidth >= 64 ? ~0ull : (1ull << field.nWidth) - 1;
        uint64_t nField = (nValue >> field.nLsb) & nMask;
        aValues.push_back({&field, nField, MapValueName(field, nField)});
    }
    return aValues;
}
