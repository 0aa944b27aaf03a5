// number_entry.cpp - number entry: the prompt, the line, and base-0 conversion with 32-bit results,
// the same on hosts where long is 32 or 64 bits.
#include "number_entry.h"

#include <stddef.h>

#include <string>

#include "printable.h"
#include "register_map.h"
#include "screen.h"
#include "tool_host.h"
#include "options.h"

namespace {

inline bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

// Magnitude of the digits after blanks and one sign; bOverflow when it passes nLimit.
uint64_t ParseMagnitude(const char *pszText, bool &bNegative, bool &bOverflow, uint64_t nLimit)
{
    const char *p = pszText;
    while (IsSpace(*p))
        ++p;
    bNegative = false;
    if (*p == '+' || *p == '-') {
        bNegative = *p == '-';
        ++p;
    }
    int nBase = 10;
    if (p[0] == '0') {
        // "0x" counts as a prefix only when a hex digit follows; else the 0 alone is the number.
        if ((p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
            nBase = 16;
            p += 2;
        } else {
            nBase = 8;
        }
    }
    uint64_t nValue = 0;
    bOverflow = false;
    for (; DigitValue(*p) < nBase; ++p) {
        if (!bOverflow) {
            nValue = nValue * (uint64_t)nBase + (uint64_t)DigitValue(*p);
            if (nValue > nLimit)
                bOverflow = true;
        }
    }
    return nValue;
}

} // namespace

bool ParseStrictNumber(const char *pszText, uint32_t nMax, uint32_t *pnValue)
{
    const char *p = pszText;
    unsigned nBase = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        nBase = 16;
        p += 2;
    } else if (p[0] == '0') {
        nBase = 8;
    }
    if (*p == '\0')
        return false;
    uint64_t nValue = 0;
    for (; *p != '\0'; ++p) {
        unsigned nDigit = (unsigned)DigitValue(*p);
        if (nDigit >= nBase)
            return false;
        nValue = nValue * nBase + nDigit;
        if (nValue > nMax)
            return false;
    }
    *pnValue = (uint32_t)nValue;
    return true;
}

uint32_t ConvertUnsigned32(const char *pszText)
{
    bool bNegative = false, bOverflow = false;
    uint64_t nValue = ParseMagnitude(pszText, bNegative, bOverflow, 0xFFFFFFFFull);
    if (bOverflow)
        return 0xFFFFFFFFu;
    uint32_t nResult = (uint32_t)nValue;
    return bNegative ? 0u - nResult : nResult;
}

int32_t ConvertSigned32(const char *pszText)
{
    bool bNegative = false, bOverflow = false;
    uint64_t nValue = ParseMagnitude(pszText, bNegative, bOverflow, 0x80000000ull);
    if (bNegative)
        return bOverflow || nValue >= 0x80000000ull ? INT32_MIN : -(int32_t)nValue;
    return bOverflow || nValue > 0x7FFFFFFFull ? INT32_MAX : (int32_t)nValue;
}

void PromptValue(const char *pszPrompt, uint32_t *pnRemembered)
{
    char szLine[kLineSize];
    LogPrintF(pszPrompt, (unsigned)*pnRemembered);
    ReadLine(szLine);
    if (szLine[0] != '\0')
        *pnRemembered = ConvertUnsigned32(szLine);
}

namespace {

// A name refused at a prompt: the command does not run. Where the keys are a script's (a command
// string), what follows was meant as data, not keys: the run ends.
bool RefuseName(const std::string &strWhy)
{
    if (g_toolOptions.pszCommandString != nullptr) {
        LogErrorLine("Error: %s: what follows it in the script was meant as data, not keys\n", strWhy.c_str());
        EndRun(2, kReleaseThenConsole);
    }
    LogPrintF("%s\n", strWhy.c_str());
    return false;
}

} // namespace

bool PromptAddress(const char *pszPrompt, uint32_t *pnRemembered, const RegisterMap *pMap, const MapRegister **ppNamed)
{
    if (ppNamed != nullptr)
        *ppNamed = nullptr;
    char szLine[kLineSize];
    LogPrintF(pszPrompt, (unsigned)*pnRemembered);
    ReadLine(szLine);
    bool bName = (szLine[0] >= 'A' && szLine[0] <= 'Z') || (szLine[0] >= 'a' && szLine[0] <= 'z') || szLine[0] == '_';
    if (pMap == nullptr || !bName) {
        if (szLine[0] != '\0')
            *pnRemembered = ConvertUnsigned32(szLine);
        return true;
    }
    std::vector<const MapRegister *> apCandidates;
    const MapRegister *pRegister = FindMapRegisterByName(*pMap, szLine, &apCandidates);
    if (pRegister == nullptr && !apCandidates.empty())
        return RefuseName(AmbiguousName(szLine, apCandidates));
    if (pRegister == nullptr)
        return RefuseName("No register " + Printable(szLine) + " in the map");
    if (!pRegister->bOnBoard)
        return RefuseName("Register " + pRegister->strName + " is not on the board: " + MapNotOnBoard(*pMap, *pRegister, 0));
    *pnRemembered = pRegister->nAddress;
    if (ppNamed != nullptr)
        *ppNamed = pRegister;
    return true;
}

void PromptSignedValue(const char *pszPrompt, int32_t *pnRemembered)
{
    char szLine[kLineSize];
    LogPrintF(pszPrompt, (unsigned)*pnRemembered);
    ReadLine(szLine);
    if (szLine[0] != '\0')
        *pnRemembered = ConvertSigned32(szLine);
}
