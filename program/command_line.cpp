// command_line.cpp - fills the options record from the command line: the switches, whose usage text's
// board lines come from the board table, and the long options of scripts and --help.
#include "command_line.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "board_table.h"
#include "memtest_job.h"
#include "command_table.h"
#include "printable.h"
#include "register_map.h"
#include "screen.h"
#include "number_entry.h"

#ifndef DUZE_VERSION
#error "DUZE_VERSION is the version of CMake's project(); without CMake, define it as the README shows"
#endif

namespace {

// What the program adds, for --help; none until the program says.
const ProgramExtras *g_pExtras = nullptr;
bool g_bBannerShown = false;

// A long option's handler: takes its value (null where it takes none) into the options record; a
// malformed value ends the run with status 2.
struct LongOption;
typedef void (*TakeLongOption)(const LongOption &option, const char *pszValue, ToolOptions *pOptions);

// The tool's long options, in the order --help lists them.
struct LongOption {
    const char *pszName;
    const char *pszValue; // null: the option takes none
    TakeLongOption pfnTake;
    char cKey;            // an access: the key of the command it stands for
    const char *pszHelp;
};

// The handlers, below the parsers they use.
void TakeAccess(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeLog(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeList(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeDecode(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeMap(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeMapBase(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeBridgeMap(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeDump(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeBridgeDump(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeFields(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeBridgeHexdump(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeHexdump(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeNames(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeBatch(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeJson(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeStopOnError(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeMemtest(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakePatterns(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeSeed(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakePasses(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeJunit(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeHelp(const LongOption &option, const char *pszValue, ToolOptions *pOptions);
void TakeVersion(const LongOption &option, const char *pszValue, ToolOptions *pOptions);

const LongOption g_aLongOptions[] = {
    {"--read", "ADDR", TakeAccess, 'R', "read a 32-bit board register, print 0x and 8 hex digits"},
    {"--read16", "ADDR", TakeAccess, 'i', "read a 16-bit board register, print 0x and 4 hex digits"},
    {"--read8", "ADDR", TakeAccess, 'r', "read an 8-bit board register, print 0x and 2 hex digits"},
    {"--write", "ADDR=VALUE", TakeAccess, 'W', "write a 32-bit board register (ADDR=VALUE:MASK the bits of MASK alone, "
                                               "NAME.FIELD=VALUE a field of a map's register)"},
    {"--write16", "ADDR=VALUE", TakeAccess, 'o', "write a 16-bit board register"},
    {"--write8", "ADDR=VALUE", TakeAccess, 'w', "write an 8-bit board register"},
    {"--bridge-read", "ADDR", TakeAccess, 'p', "read a 32-bit PCI bridge register"},
    {"--bridge-write", "ADDR=VALUE", TakeAccess, 'S', "write a 32-bit PCI bridge register"},
    {"--log", "FILE", TakeLog, 0, "log file name, case kept (a one-shot run writes a log only when named)"},
    {"--list", nullptr, TakeList, 0, "list the boards that open: letter, type code, name, number, serial"},
    {"--decode", "CODE", TakeDecode, 0, "show a result code's fields and the library's text for it"},
    {"--map", "FILE", TakeMap, 0, "the board's register map, a CMSIS-SVD file (DUZE_MAP)"},
    {"--map-base", "ADDRESS", TakeMapBase, 0, "the map's address that is register 0 (DUZE_MAP_BASE; default its lowest)"},
    {"--bridge-map", "FILE", TakeBridgeMap, 0, "the bridge's register map (DUZE_BRIDGE_MAP)"},
    {"--dump", nullptr, TakeDump, 0, "read every register of the map and show its fields"},
    {"--bridge-dump", nullptr, TakeBridgeDump, 0, "the same for the bridge's map"},
    {"--fields", nullptr, TakeFields, 0, "after each one-shot value, its register's line of the map"},
    {"--bridge-hexdump", nullptr, TakeBridgeHexdump, 0, "the bridge's registers as lspci -xxx shows them (lspci -F reads it)"},
    {"--hexdump", "START:LENGTH", TakeHexdump, 0, "board registers from START, LENGTH bytes, the same way (32-bit reads)"},
    {"--names", "board|bridge", TakeNames, 0, "the register names of the board's or the bridge's map, one a line"},
    {"--batch", "FILE", TakeBatch, 0, "one command a line (read, write, bridge-read, ..., sleep; - standard input), each answered at once"},
    {"--json", nullptr, TakeJson, 0, "what a run shows, as JSON Lines records (docs/records.schema.json)"},
    {"--stop-on-error", nullptr, TakeStopOnError, 0, "a batch ends at its first failed or malformed line"},
    {"--memtest", "START:LENGTH", TakeMemtest, 0, "the memory test as a job: each mismatch a record, a summary, status 3 on errors"},
    {"--patterns", "LIST", TakePatterns, 0, "address (default), walking-ones, walking-zeros, checkerboard, solid, random"},
    {"--seed", "N", TakeSeed, 0, "the random pattern's seed (default 1)"},
    {"--passes", "N", TakePasses, 0, "each pattern N times (default 1)"},
    {"--junit", "FILE", TakeJunit, 0, "a JUnit XML report of the memory test: a test case for each pattern and pass"},
    {"--help", nullptr, TakeHelp, 0, "show this text"},
    {"--version", nullptr, TakeVersion, 0, "show the version"},
};

const char *const kExitStatuses = "\nExit status:\n"
                                  " 0      quit, or every one-shot access succeeded\n"
                                  " 1      a library call failed (quiet mode, one-shot, or answered y), or an unknown switch\n"
                                  " 2      a malformed long option, number or setting\n"
                                  " 3      a memory test found errors\n"
                                  " 255    the log file could not be opened or written\n"
                                  " 128+n  ended by signal n\n";

void SetDefaultOptions(ToolOptions *pOptions)
{
    pOptions->pszCommandString = nullptr;
    pOptions->bQuiet = false;
    strcpy(pOptions->szLogFileName, "DuzeDevazu.log");
    pOptions->nBoardType = 6;
    pOptions->nBoardNumber = 0;
    pOptions->bLogNamed = false;
    pOptions->aAccesses.clear();
    pOptions->bList = false;
    pOptions->bDecode = false;
    pOptions->nDecode = 0;
    pOptions->pszMapFile = nullptr;
    pOptions->pszMapBase = nullptr;
    pOptions->pszBridgeMapFile = nullptr;
    pOptions->bDump = false;
    pOptions->bBridgeDump = false;
    pOptions->bFields = false;
    pOptions->pszBatchFile = nullptr;
    pOptions->bJson = false;
    pOptions->bStopOnError = false;
    pOptions->bMemtest = false;
    pOptions->nMemStart = 0;
    pOptions->nMemLength = 0;
    pOptions->nMemPasses = 1;
    pOptions->nSeed = 1;
    pOptions->pszJunitFile = nullptr;
    pOptions->bBridgeHexdump = false;
    pOptions->bHexdump = false;
    pOptions->nHexStart = 0;
    pOptions->nHexLength = 0;
    pOptions->nNames = 0;
}

[[noreturn]] void UnknownSwitch(const char *pszArgument)
{
    ShowBanner();
    LogPrintF("Error: Unknown command line switch %s\n", pszArgument);
    PrintUsage();
    EndRun(1, kKeepLibrary);
}

// A script's mistake: said on standard error, before the library is touched.
[[noreturn]] void BadLongOption(const char *pszName, const char *pszValue, const char *pszWhy, const char *pszBefore = "")
{
    fprintf(stderr, "Error: %s '%s': %s%s\n", pszName, Printable(pszValue).c_str(), pszBefore, pszWhy);
    fflush(stderr);
    EndRun(2, kKeepLibrary);
}

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

// Whether an argument is the long option pszName, alone or as NAME=VALUE; the value's start, or
// null, in *ppszInline.
bool IsOption(const char *pszArgument, const char *pszName, const char **ppszInline)
{
    const char *pszEq = strchr(pszArgument, '=');
    size_t nNameLength = pszEq != nullptr ? (size_t)(pszEq - pszArgument) : strlen(pszArgument);
    *ppszInline = pszEq != nullptr ? pszEq + 1 : nullptr;
    return strlen(pszName) == nNameLength && strncmp(pszName, pszArgument, nNameLength) == 0;
}

// One option's line of --help: its name and value, and what it does.
void ShowOptionHelp(const char *pszName, const char *pszValue, const char *pszHelp)
{
    std::string strName = std::string(pszName) + (pszValue != nullptr ? std::string(" ") + pszValue : "");
    LogPrintF(" %-26s: %s\n", strName.c_str(), pszHelp);
}

void PrintHelp()
{
    LogPrintF("Usage: duzedevazu [switches] [long options]\n");
    PrintUsage();
    LogPrintF("\nLong options (a script's accesses run in order, print only read values, and end with status 1 "
              "at the first failure; a command string /Z goes with none of them):\n");
    for (const LongOption &option : g_aLongOptions)
        ShowOptionHelp(option.pszName, option.pszValue, option.pszHelp);
    for (size_t i = 0; g_pExtras != nullptr && i < g_pExtras->nOptions; ++i)
        ShowOptionHelp(g_pExtras->aOptions[i].pszName, g_pExtras->aOptions[i].pszValue, g_pExtras->aOptions[i].pszHelp);
    LogPrintF(" Numbers: 0x hexadecimal, a leading 0 octal, else decimal; with a map, a register's name.\n");
    LogPrintF("\nSettings (environment):\n"
              " DUZE_MAP         the board's register map, a CMSIS-SVD file\n"
              " DUZE_MAP_BASE    the map's address that is register 0 (default its lowest baseAddress)\n"
              " DUZE_BRIDGE_MAP  the bridge's register map\n");
    if (g_pExtras != nullptr && g_pExtras->pszSettingsHelp != nullptr)
        LogPrintF("%s", g_pExtras->pszSettingsHelp);
    LogPrintF("%s", kExitStatuses);
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

} // namespace

// One access: ADDR, or ADDR=VALUE for a write; each a whole number that fits. False with why where
// the text is none.
bool ParseAccessText(char cKey, const char *pszValue, OneShotAccess &access, std::string &strWhy)
{
    const char *const pszNotANumber = "the address is not one number of 32 bits (0x hexadecimal, 0 octal, else decimal)";
    const Command *pCommand = FindCommand(cKey);
    bool bWrite = pCommand->eAccess == kWriteAccess;
    const char *pszEq = strchr(pszValue, '=');
    if (bWrite && pszEq == nullptr) {
        strWhy = "not ADDR=VALUE";
        return false;
    }
    std::string strAddress(pszValue, bWrite ? (size_t)(pszEq - pszValue) : strlen(pszValue));
    if (strAddress.size() >= 256) {
        strWhy = pszNotANumber;
        return false;
    }
    // A name (it starts with a letter) is looked up once the maps are read.
    bool bName = isalpha((unsigned char)strAddress.c_str()[0]) || strAddress.c_str()[0] == '_';
    uint32_t nAddress = 0, nValue = 0;
    if (!bName && !ParseStrictNumber(strAddress.c_str(), 0xFFFFFFFFu, &nAddress)) {
        strWhy = pszNotANumber;
        return false;
    }
    uint32_t nMax = pCommand->nWidth == 32 ? 0xFFFFFFFFu : (1u << pCommand->nWidth) - 1;
    // VALUE:MASK, as setpci takes it: the bits of MASK alone are written.
    const char *pszColon = bWrite ? strchr(pszEq + 1, ':') : nullptr;
    uint32_t nMask = nMax;
    char szWhy[112];
    snprintf(szWhy, sizeof szWhy, "the value is not one number of %d bits (0x hexadecimal, 0 octal, else decimal)%s",
             pCommand->nWidth, pszColon != nullptr ? ", nor is its mask" : "");
    // A 32-bit write by name may be of a 64-bit register: its value may have 64 bits, checked
    // against the register once the map is read.
    uint32_t nHigh = 0;
    bool bWide = bWrite && pszColon == nullptr && bName && pCommand->nWidth == 32 && pCommand->eDevice == kBoard &&
                 ParseWideNumber(pszEq + 1, &nHigh, &nValue);
    if ((bWrite && pszColon != nullptr &&
         (!NumberBetween(pszEq + 1, pszColon, nMax, &nValue) || !ParseStrictNumber(pszColon + 1, nMax, &nMask))) ||
        (bWrite && pszColon == nullptr && !bWide && !ParseStrictNumber(pszEq + 1, nMax, &nValue))) {
        strWhy = szWhy;
        return false;
    }
    access = OneShotAccess();
    access.cKey = cKey;
    access.nAddress = nAddress;
    access.nValue = nValue;
    access.strName = bName ? strAddress : "";
    access.nValueHigh = nHigh;
    access.bMasked = pszColon != nullptr;
    access.nMask = nMask;
    return true;
}

namespace {

// START:LENGTH of 32-bit registers: both multiples of 4, LENGTH at least 4, the range within 32 bits.
void ParseRange(const char *pszName, const char *pszValue, uint32_t *pnStart, uint32_t *pnLength)
{
    const char *pszColon = strchr(pszValue, ':');
    uint32_t nStart = 0, nLength = 0;
    if (pszColon == nullptr || !NumberBetween(pszValue, pszColon, 0xFFFFFFFFu, &nStart) ||
        !ParseStrictNumber(pszColon + 1, 0xFFFFFFFFu, &nLength))
        BadLongOption(pszName, pszValue, "not START:LENGTH, two numbers of 32 bits (0x hexadecimal, 0 octal, else decimal)");
    if (nStart % 4 != 0 || nLength % 4 != 0 || nLength == 0)
        BadLongOption(pszName, pszValue, "START and LENGTH must be multiples of 4 (32-bit registers), LENGTH not 0");
    if ((uint64_t)nStart + nLength > 0x100000000ull)
        BadLongOption(pszName, pszValue, "the range ends past 0xFFFFFFFF");
    *pnStart = nStart;
    *pnLength = nLength;
}

// The last --log's name, for ParseCommandLine, which weighs it against /L.
const char *g_pszLongLogName = nullptr;

// BadLongOption ends the run without unwinding: no string may own memory when it is called, so
// the reason is copied out of its string first.
void TakeAccess(const LongOption &option, const char *pszValue, ToolOptions *pOptions)
{
    char szWhy[256] = "";
    {
        OneShotAccess access;
        std::string strWhy;
        if (ParseAccessText(option.cKey, pszValue, access, strWhy)) {
            pOptions->aAccesses.push_back(access);
            return;
        }
        snprintf(szWhy, sizeof szWhy, "%s", strWhy.c_str());
    }
    BadLongOption(option.pszName, pszValue, szWhy);
}

void TakeLog(const LongOption &, const char *pszValue, ToolOptions *)
{
    g_pszLongLogName = pszValue;
}

void TakeList(const LongOption &, const char *, ToolOptions *pOptions)
{
    pOptions->bList = true;
}

void TakeDecode(const LongOption &option, const char *pszValue, ToolOptions *pOptions)
{
    if (!ParseResultCode(pszValue, &pOptions->nDecode))
        BadLongOption(option.pszName, pszValue,
                      "not a result code: one number of 32 bits (0x hexadecimal, 0 octal, else decimal), or as an "
                      "error line shows it (0X22 [1.3], ERROR(0X80800322 [1.3]) ...)");
    pOptions->bDecode = true;
}

void TakeMap(const LongOption &, const char *pszValue, ToolOptions *pOptions)
{
    pOptions->pszMapFile = pszValue;
}

void TakeMapBase(const LongOption &, const char *pszValue, ToolOptions *pOptions)
{
    pOptions->pszMapBase = pszValue;
}

void TakeBridgeMap(const LongOption &, const char *pszValue, ToolOptions *pOptions)
{
    pOptions->pszBridgeMapFile = pszValue;
}

void TakeDump(const LongOption &, const char *, ToolOptions *pOptions)
{
    pOptions->bDump = true;
}

void TakeBridgeDump(const LongOption &, const char *, ToolOptions *pOptions)
{
    pOptions->bBridgeDump = true;
}

void TakeFields(const LongOption &, const char *, ToolOptions *pOptions)
{
    pOptions->bFields = true;
}

void TakeBridgeHexdump(const LongOption &, const char *, ToolOptions *pOptions)
{
    pOptions->bBridgeHexdump = true;
}

void TakeHexdump(const LongOption &option, const char *pszValue, ToolOptions *pOptions)
{
    ParseRange(option.pszName, pszValue, &pOptions->nHexStart, &pOptions->nHexLength);
    pOptions->bHexdump = true;
}

void TakeNames(const LongOption &option, const char *pszValue, ToolOptions *pOptions)
{
    if (strcmp(pszValue, "board") != 0 && strcmp(pszValue, "bridge") != 0)
        BadLongOption(option.pszName, pszValue, "not board or bridge");
    pOptions->nNames = strcmp(pszValue, "board") == 0 ? 1 : 2;
}

void TakeBatch(const LongOption &, const char *pszValue, ToolOptions *pOptions)
{
    pOptions->pszBatchFile = pszValue;
}

void TakeJson(const LongOption &, const char *, ToolOptions *pOptions)
{
    pOptions->bJson = true;
}

void TakeStopOnError(const LongOption &, const char *, ToolOptions *pOptions)
{
    pOptions->bStopOnError = true;
}

void TakeMemtest(const LongOption &option, const char *pszValue, ToolOptions *pOptions)
{
    ParseRange(option.pszName, pszValue, &pOptions->nMemStart, &pOptions->nMemLength);
    pOptions->bMemtest = true;
}

void TakePatterns(const LongOption &option, const char *pszValue, ToolOptions *)
{
    char szWhy[256] = "";
    {
        std::string strWhy;
        if (!ParsePatterns(pszValue, strWhy))
            snprintf(szWhy, sizeof szWhy, "%s", strWhy.c_str());
    }
    if (szWhy[0] != '\0')
        BadLongOption(option.pszName, pszValue, szWhy);
}

void TakeSeed(const LongOption &option, const char *pszValue, ToolOptions *pOptions)
{
    if (!ParseStrictNumber(pszValue, 0xFFFFFFFFu, &pOptions->nSeed))
        BadLongOption(option.pszName, pszValue, "not one number of 32 bits (0x hexadecimal, 0 octal, else decimal)");
}

void TakePasses(const LongOption &option, const char *pszValue, ToolOptions *pOptions)
{
    if (!ParseStrictNumber(pszValue, 1000000u, &pOptions->nMemPasses) || pOptions->nMemPasses == 0)
        BadLongOption(option.pszName, pszValue, "not a number of passes from 1 to 1000000");
}

void TakeJunit(const LongOption &, const char *pszValue, ToolOptions *pOptions)
{
    pOptions->pszJunitFile = pszValue;
}

void TakeHelp(const LongOption &, const char *, ToolOptions *)
{
    PrintHelp();
    EndRun(0, kKeepLibrary);
}

void TakeVersion(const LongOption &, const char *, ToolOptions *)
{
    ShowBanner();
    EndRun(0, kKeepLibrary);
}

// A long option at argv[*pi], its value the next argument or after '='; false when the argument is
// none of the tool's.
bool ParseLongOption(int argc, char **argv, int *pi, ToolOptions *pOptions)
{
    const char *pszArgument = argv[*pi];
    if (strncmp(pszArgument, "--", 2) != 0)
        return false;
    for (const LongOption &option : g_aLongOptions) {
        const char *pszInline = nullptr;
        if (!IsOption(pszArgument, option.pszName, &pszInline))
            continue;
        const char *pszValue = nullptr;
        if (option.pszValue != nullptr) {
            if (pszInline != nullptr)
                pszValue = pszInline;
            else if (*pi + 1 < argc)
                pszValue = argv[++*pi];
            else
                BadLongOption(option.pszName, "", option.pszValue, "needs ");
        } else if (pszInline != nullptr) {
            BadLongOption(option.pszName, pszInline, "takes no value");
        }
        option.pfnTake(option, pszValue, pOptions);
        return true;
    }
    return false;
}

} // namespace

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

void ShowBanner()
{
    if (!g_bBannerShown)
        LogPrintF("DuzeDevazu %s - register test tool for KYN interface boards\n", DUZE_VERSION);
    g_bBannerShown = true;
}

void HoldInputFiles(int argc, char **argv)
{
    for (const char *pszSetting : {"DUZE_MAP", "DUZE_BRIDGE_MAP"})
        if (const char *pszFile = getenv(pszSetting))
            HoldMapFile(ShippedMapFile(pszFile));
    for (int i = 1; i < argc; ++i) {
        for (const char *pszOption : {"--map", "--bridge-map"}) {
            const char *pszInline = nullptr;
            if (!IsOption(argv[i], pszOption, &pszInline))
                continue;
            if (pszInline != nullptr)
                HoldMapFile(ShippedMapFile(pszInline));
            else if (i + 1 < argc)
                HoldMapFile(ShippedMapFile(argv[i + 1]));
        }
    }
}

void TakeProgramOptions(int *pArgc, char **argv, const ProgramExtras &extras)
{
    g_pExtras = &extras;
    int nKept = 1;
    for (int i = 1; i < *pArgc; ++i) {
        const char *pszArgument = argv[i];
        argv[nKept++] = argv[i];
        // The value of one of the tool's own options is never taken for a program's option.
        bool bToolOption = false;
        for (const LongOption &option : g_aLongOptions)
            bToolOption = bToolOption || (option.pszValue != nullptr && strcmp(option.pszName, pszArgument) == 0);
        if (bToolOption) {
            if (i + 1 < *pArgc)
                argv[nKept++] = argv[++i];
            continue;
        }
        for (size_t j = 0; j < extras.nOptions; ++j) {
            const ProgramOption &option = extras.aOptions[j];
            const char *pszInline = nullptr;
            if (!IsOption(pszArgument, option.pszName, &pszInline))
                continue;
            // A switch: it takes no value.
            if (option.pszValue == nullptr) {
                if (pszInline != nullptr) {
                    fprintf(stderr, "Error: %s takes no value\n", option.pszName);
                    exit(2);
                }
                option.pfnTake("");
                --nKept;
                break;
            }
            const char *pszValue = pszInline != nullptr ? pszInline : i + 1 < *pArgc ? argv[++i] : nullptr;
            if (pszValue == nullptr || *pszValue == '\0') {
                fprintf(stderr, "Error: %s needs %s\n", option.pszName, option.pszValue);
                exit(2);
            }
            option.pfnTake(pszValue);
            --nKept;
            break;
        }
    }
    argv[nKept] = nullptr;
    *pArgc = nKept;
}

void PrintUsage()
{
    char szLetters[64] = "";
    size_t nUsed = 0;
    for (int i = 0; const BoardType *pType = BoardAtLetterListPlace(i); ++i)
        nUsed += (size_t)snprintf(szLetters + nUsed, sizeof szLetters - nUsed, "%s%c", i > 0 ? "|" : "", pType->cLetter);
    LogPrintF("\nCommand line switches:\n");
    // The default board number, 0, whatever the options hold by now.
    LogPrintF(" /B<boardNo>    : Board number (Default is %d)\n", 0);
    LogPrintF(" /T[%s] : Board Type used for the demo, where\n", szLetters);
    for (int i = 0; const BoardType *pType = BoardAtUsageLine(i); ++i)
        LogPrintF("                    %c  = Use %s\n", pType->cLetter, pType->pszUsageName);
    LogPrintF(" /L<fileName>   : Log file name\n");
    LogPrintF(" /Z<str>        : Command string (overrides keyboard input)\n");
    LogPrintF(" /Q             : Exit without prompting on errors\n");
}

void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions)
{
    SetDefaultOptions(pOptions);
    const char *pszLogName = nullptr; // the last /L's or --log's, checked once all arguments are read
    for (int i = 1; i < argc; ++i) {
        char *pszArgument = argv[i];
        g_pszLongLogName = nullptr;
        if (ParseLongOption(argc, argv, &i, pOptions)) {
            if (g_pszLongLogName != nullptr)
                pszLogName = g_pszLongLogName;
            continue;
        }
        // Z is tested before upper-casing so the command string keeps its case.
        if (pszArgument[0] != '\0' && pszArgument[1] == 'Z') {
            pOptions->pszCommandString = pszArgument + 2;
            continue;
        }
        OsaStdStrUpr(pszArgument);
        if (pszArgument[0] != '-' && pszArgument[0] != '/')
            UnknownSwitch(pszArgument);
        const char *pszValue = pszArgument + 2;
        switch (pszArgument[1]) {
        case 'L':
            pszLogName = pszValue;
            break;
        case 'Q':
            pOptions->bQuiet = true;
            break;
        case 'B':
            pOptions->nBoardNumber = ConvertUnsigned32(pszValue);
            break;
        case 'T': {
            const BoardType *pFound = FindBoardLetter(pszValue[0]);
            if (pFound == nullptr)
                UnknownSwitch(pszArgument);
            pOptions->nBoardType = pFound->nCode;
            break;
        }
        default:
            UnknownSwitch(pszArgument);
        }
    }
    // The tool's own settings, where the command line gives none.
    if (pOptions->pszMapFile == nullptr)
        pOptions->pszMapFile = getenv("DUZE_MAP");
    if (pOptions->pszMapBase == nullptr)
        pOptions->pszMapBase = getenv("DUZE_MAP_BASE");
    if (pOptions->pszBridgeMapFile == nullptr)
        pOptions->pszBridgeMapFile = getenv("DUZE_BRIDGE_MAP");
    // A command string's keys run in the key loop, which a one-shot run has not: taking one and
    // dropping the other without a word would report a success for what never ran.
    if (IsOneShot(*pOptions) && pOptions->pszCommandString != nullptr) {
        fprintf(stderr, "Error: a command string (/Z) and one-shot options (--read, --list, ...) do not go together: "
                        "give the accesses as keys in /Z, or as options\n");
        fflush(stderr);
        EndRun(2, kKeepLibrary);
    }
    if (IsOneShot(*pOptions))
        SetOneShotScreen();
    if (pszLogName != nullptr) {
        // A longer name would not fit the record; refusing it beats opening a cut-off name.
        size_t nLength = strlen(pszLogName);
        if (nLength > DUZE_LOG_NAME_MAX) {
            if (!IsOneShot(*pOptions))
                ShowBanner();
            LogPrintFailureF("Error: Log file name is %lu characters long, at most %d are allowed\n",
                             (unsigned long)nLength, DUZE_LOG_NAME_MAX);
            EndRun(1, kKeepLibrary);
        }
        memcpy(pOptions->szLogFileName, pszLogName, nLength + 1);
        pOptions->bLogNamed = true;
    }
}
