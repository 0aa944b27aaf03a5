// operations.cpp - the operation table and the one parser of its arguments: an option's value and a
// batch line's argument are read by the same function, and refused with the same words.
#include "operations.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "command_table.h"
#include "duze_limits.h"
#include "number_entry.h"

namespace {

bool ParseAccess(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);
bool ParseSleep(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);
bool ParseRange(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);
bool ParseNothing(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);
bool ParseDecode(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);
bool ParseNames(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);

// A new operation is one more row: its option, its batch verb and its --help line come with it.
const OperationRow g_aOperations[] = {
    {"read", "ADDR", kOpAccess, 'R', ParseAccess, "read a 32-bit board register, print 0x and 8 hex digits"},
    {"read16", "ADDR", kOpAccess, 'i', ParseAccess, "read a 16-bit board register, print 0x and 4 hex digits"},
    {"read8", "ADDR", kOpAccess, 'r', ParseAccess, "read an 8-bit board register, print 0x and 2 hex digits"},
    {"write", "ADDR=VALUE", kOpAccess, 'W', ParseAccess, "write a 32-bit board register (ADDR=VALUE:MASK the bits of MASK "
                                                        "alone, NAME.FIELD=VALUE a field of a map's register)"},
    {"write16", "ADDR=VALUE", kOpAccess, 'o', ParseAccess, "write a 16-bit board register"},
    {"write8", "ADDR=VALUE", kOpAccess, 'w', ParseAccess, "write an 8-bit board register"},
    {"bridge-read", "ADDR", kOpAccess, 'p', ParseAccess, "read a 32-bit PCI bridge register"},
    {"bridge-write", "ADDR=VALUE", kOpAccess, 'S', ParseAccess, "write a 32-bit PCI bridge register"},
    {"sleep", "MS", kOpSleep, '~', ParseSleep, "wait MS milliseconds (at most a day)"},
    {"dump", nullptr, kOpDump, 0, ParseNothing, "read every register of the map and show its fields"},
    {"bridge-dump", nullptr, kOpBridgeDump, 0, ParseNothing, "the same for the bridge's map"},
    {"hexdump", "START:LENGTH", kOpHexdump, 0, ParseRange,
     "board registers from START, LENGTH bytes, as lspci -xxx shows them (32-bit reads)"},
    {"bridge-hexdump", nullptr, kOpBridgeHexdump, 0, ParseNothing,
     "the bridge's registers as lspci -xxx shows them (lspci -F reads it)"},
    {"memtest", "START:LENGTH", kOpMemtest, 0, ParseRange,
     "the memory test as a job: each mismatch a record, a summary, status 3 on errors"},
    {"decode", "CODE", kOpDecode, 0, ParseDecode, "show a result code's fields and the library's text for it"},
    {"list", nullptr, kOpList, 0, ParseNothing, "list the boards that open: letter, type code, name, number, serial"},
    {"names", "board|bridge", kOpNames, 0, ParseNames, "the register names of the board's or the bridge's map, one a line"},
};
const size_t kOperationCount = sizeof g_aOperations / sizeof g_aOperations[0];

const char *const kNotANumber32 = "not one number of 32 bits (0x hexadecimal, 0 octal, else decimal)";

// A number of the form ParseStrictNumber takes, ended by pszEnd (exclusive).
bool NumberBetween(const char *pszStart, const char *pszEnd, uint32_t nMax, uint32_t *pnValue)
{
    char szNumber[24];
    size_t nLength = (size_t)(pszEnd - pszStart);
    if (pszEnd < pszStart || nLength >= sizeof szNumber)
        return false;
    memcpy(szNumber, pszStart, nLength);
    szNumber[nLength] = '\0';
    return ParseStrictNumber(szNumber, nMax, pnValue);
}

// A number of up to 64 bits, as ParseStrictNumber takes one, in its two halves.
bool ParseWideNumber(const char *pszText, uint32_t *pnHigh, uint32_t *pnLow)
{
    char *pEnd = nullptr;
    if (pszText[0] == '\0' || pszText[0] == '-' || pszText[0] == '+' || pszText[0] == ' ')
        return false;
    errno = 0;
    unsigned long long nValue = strtoull(pszText, &pEnd, 0);
    if (errno != 0 || pEnd == pszText || *pEnd != '\0')
        return false;
    *pnHigh = (uint32_t)(nValue >> 32);
    *pnLow = (uint32_t)nValue;
    return true;
}

// ADDR, or ADDR=VALUE[:MASK] for a write; each a whole number that fits, or a register's name
// (it starts with a letter), looked up once the maps are read.
bool ParseAccess(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy)
{
    const Command *pCommand = FindCommand(row.cKey);
    bool bWrite = pCommand->eAccess == kWriteAccess;
    const char *pszEq = strchr(pszValue, '=');
    if (bWrite && pszEq == nullptr) {
        strWhy = "not ADDR=VALUE";
        return false;
    }
    std::string strAddress(pszValue, bWrite ? (size_t)(pszEq - pszValue) : strlen(pszValue));
    bool bName = isalpha((unsigned char)strAddress.c_str()[0]) || strAddress.c_str()[0] == '_';
    if (strAddress.size() >= 256 || (!bName && !ParseStrictNumber(strAddress.c_str(), 0xFFFFFFFFu, &op.nAddress))) {
        strWhy = std::string("the address is ") + kNotANumber32;
        return false;
    }
    uint32_t nMax = pCommand->nWidth == 32 ? 0xFFFFFFFFu : (1u << pCommand->nWidth) - 1;
    // VALUE:MASK, as setpci takes it: the bits of MASK alone are written.
    const char *pszColon = bWrite ? strchr(pszEq + 1, ':') : nullptr;
    // A 32-bit write by name may be of a 64-bit register: its value may have 64 bits, checked
    // against the register once the map is read.
    bool bWide = bWrite && pszColon == nullptr && bName && pCommand->nWidth == 32 && pCommand->eDevice == kBoard &&
                 ParseWideNumber(pszEq + 1, &op.nValueHigh, &op.nValue);
    op.nMask = nMax;
    if ((bWrite && pszColon != nullptr &&
         (!NumberBetween(pszEq + 1, pszColon, nMax, &op.nValue) || !ParseStrictNumber(pszColon + 1, nMax, &op.nMask))) ||
        (bWrite && pszColon == nullptr && !bWide && !ParseStrictNumber(pszEq + 1, nMax, &op.nValue))) {
        strWhy = "the value is not one number of " + std::to_string(pCommand->nWidth) +
                 " bits (0x hexadecimal, 0 octal, else decimal)" + (pszColon != nullptr ? ", nor is its mask" : "");
        return false;
    }
    op.strName = bName ? strAddress : "";
    op.bMasked = pszColon != nullptr;
    return true;
}

bool ParseSleep(const OperationRow &, const char *pszValue, Operation &op, std::string &strWhy)
{
    if (ParseStrictNumber(pszValue, kSleepMaxMs, &op.nNumber))
        return true;
    strWhy = "not a number of milliseconds (at most a day)";
    return false;
}

// START:LENGTH of 32-bit registers: both multiples of 4, LENGTH at least 4, the range within 32 bits.
bool ParseRange(const OperationRow &, const char *pszValue, Operation &op, std::string &strWhy)
{
    const char *pszColon = strchr(pszValue, ':');
    if (pszColon == nullptr || !NumberBetween(pszValue, pszColon, 0xFFFFFFFFu, &op.nStart) ||
        !ParseStrictNumber(pszColon + 1, 0xFFFFFFFFu, &op.nLength))
        strWhy = "not START:LENGTH, two numbers of 32 bits (0x hexadecimal, 0 octal, else decimal)";
    else if (op.nStart % 4 != 0 || op.nLength % 4 != 0 || op.nLength == 0)
        strWhy = "START and LENGTH must be multiples of 4 (32-bit registers), LENGTH not 0";
    else if ((uint64_t)op.nStart + op.nLength > 0x100000000ull)
        strWhy = "the range ends past 0xFFFFFFFF";
    return strWhy.empty();
}

bool ParseNothing(const OperationRow &, const char *pszValue, Operation &, std::string &strWhy)
{
    if (pszValue == nullptr || pszValue[0] == '\0')
        return true;
    strWhy = "takes no value";
    return false;
}

bool ParseDecode(const OperationRow &, const char *pszValue, Operation &op, std::string &strWhy)
{
    if (ParseResultCode(pszValue, &op.nNumber))
        return true;
    strWhy = "not a result code: one number of 32 bits (0x hexadecimal, 0 octal, else decimal), or as an error line "
             "shows it (0X22 [1.3], ERROR(0X80800322 [1.3]) ...)";
    return false;
}

bool ParseNames(const OperationRow &, const char *pszValue, Operation &op, std::string &strWhy)
{
    op.nNumber = strcmp(pszValue, "board") == 0 ? 1 : strcmp(pszValue, "bridge") == 0 ? 2 : 0;
    if (op.nNumber == 0)
        strWhy = "not board or bridge";
    return op.nNumber != 0;
}

} // namespace

const OperationRow *FindOperation(const char *pszVerb, size_t nLength)
{
    for (const OperationRow &row : g_aOperations)
        if (strlen(row.pszVerb) == nLength && strncmp(row.pszVerb, pszVerb, nLength) == 0)
            return &row;
    return nullptr;
}

const OperationRow *OperationRows(size_t *pnCount)
{
    *pnCount = kOperationCount;
    return g_aOperations;
}

std::string OperationVerbs()
{
    std::string strVerbs;
    for (const OperationRow &row : g_aOperations)
        strVerbs += (strVerbs.empty() ? "" : ", ") + std::string(row.pszVerb);
    return strVerbs;
}

bool ParseOperation(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy)
{
    op = Operation();
    op.eKind = row.eKind;
    op.pszVerb = row.pszVerb;
    op.cKey = row.cKey;
    return row.pfnParse(row, pszValue != nullptr ? pszValue : "", op, strWhy);
}

std::string OperationName(const Operation &op)
{
    return (op.nLine == 0 ? "--" : "") + std::string(op.pszVerb);
}

bool ParseResultCode(const char *pszText, uint32_t *pnCode)
{
    const char *p = pszText;
    while (*p == ' ')
        ++p;
    // A whole error line: what stands inside ERROR( and ).
    bool bErrorLine = strncmp(p, "ERROR(", 6) == 0;
    if (bErrorLine)
        p += 6;
    const char *pszEnd = bErrorLine ? strchr(p, ')') : p + strlen(p);
    if (pszEnd == nullptr)
        return false;
    while (pszEnd > p && pszEnd[-1] == ' ')
        --pszEnd;
    const char *pszOpen = (const char *)memchr(p, '[', (size_t)(pszEnd - p));
    uint32_t nCode = 0;
    if (pszOpen == nullptr)
        return NumberBetween(p, pszEnd, 0xFFFFFFFFu, pnCode);
    // The reported code and its fields, [UPPER.MIDDLE]: the result they came from.
    const char *pszNumberEnd = pszOpen;
    while (pszNumberEnd > p && pszNumberEnd[-1] == ' ')
        --pszNumberEnd;
    const char *pszDot = (const char *)memchr(pszOpen, '.', (size_t)(pszEnd - pszOpen));
    uint32_t nUpper = 0, nMiddle = 0;
    if (pszNumberEnd == pszOpen || pszDot == nullptr || pszEnd[-1] != ']' || !NumberBetween(p, pszNumberEnd, 0xFFFFFFFFu, &nCode) ||
        !NumberBetween(pszOpen + 1, pszDot, 0xFFu, &nUpper) || !NumberBetween(pszDot + 1, pszEnd - 1, 0x7FFFu, &nMiddle))
        return false;
    uint32_t nFromFields = 0x80000000u | (nUpper << 23) | (nMiddle << 8);
    // The whole code already: its fields must be the ones given.
    if ((nCode & 0x7FFFFF00u) != 0) {
        if ((nCode & 0xFFFFFF00u) != nFromFields)
            return false;
        *pnCode = nCode;
        return true;
    }
    *pnCode = nFromFields | (nCode & 0xFFu);
    return (nCode & 0x7FFFFF00u) == 0;
}
