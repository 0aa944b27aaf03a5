// svd_nodes.cpp - an SVD file's elements as the reader asks for them: their text, children and numbers,
// the line each is on for a refusal, the warnings a map earns once each, and what it expands to
// counted against the limits.
#include "svd_nodes.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "duze_limits.h"
#include "printable.h"

namespace {

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

} // namespace

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

void BeginSvdReading(const char *pOriginal, const char *pParsed, std::vector<std::string> *paWarnings)
{
    g_pOriginal = pOriginal;
    g_pParsed = pParsed;
    g_nRegistersRead = g_nFieldsRead = 0;
    g_paWarnings = paWarnings;
    g_warnedKinds.clear();
}

void EndSvdReading()
{
    g_pOriginal = g_pParsed = nullptr;
    g_paWarnings = nullptr;
}

void SetMapReadPoll(void (*pfnPoll)())
{
    g_pfnPoll = pfnPoll;
}
