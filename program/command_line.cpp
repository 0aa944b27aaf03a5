// command_line.cpp - fills the options record from the command line: the switches, whose usage text's
// board lines come from the board table, and the long options of scripts and --help.
#include "command_line.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "board_table.h"
#include "memtest_job.h"
#include "command_table.h"
#include "operations.h"
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

// The handlers, below the parsers they use.
void TakeLog(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeMap(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeMapBase(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeBridgeMap(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeFields(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeBatch(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeJson(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeStopOnError(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakePatterns(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeSeed(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakePasses(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeJunit(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeHelp(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);
void TakeVersion(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions);

// The options that are no operation (those are the operation table's rows, each --VERB): where the
// run logs, the maps, how operations are shown and run, the memory test's settings.
const OptionRow g_aLongOptions[] = {
    {"--log", "FILE", TakeLog, "log file name, case kept (a one-shot run writes a log only when named)", nullptr},
    {"--map", "FILE", TakeMap, "the board's register map, a CMSIS-SVD file (DUZE_MAP)", nullptr},
    {"--map-base", "ADDRESS", TakeMapBase, "the map's address that is register 0 (DUZE_MAP_BASE; default its lowest)", nullptr},
    {"--bridge-map", "FILE", TakeBridgeMap, "the bridge's register map (DUZE_BRIDGE_MAP)", nullptr},
    {"--fields", nullptr, TakeFields, "after each value, its register's line of the map", nullptr},
    {"--batch", "FILE", TakeBatch, "one operation a line, VERB ARGUMENT as --VERB takes it (- standard input), each answered at once", nullptr},
    {"--json", nullptr, TakeJson, "what a run shows, as JSON Lines records (docs/records.schema.json)", nullptr},
    {"--stop-on-error", nullptr, TakeStopOnError, "a batch ends at its first failed or malformed line", nullptr},
    {"--patterns", "LIST", TakePatterns, "address, address-inverse (the two the default), walking-ones, walking-zeros, "
                                          "checkerboard, solid, random", nullptr},
    {"--seed", "N", TakeSeed, "the random pattern's seed (default 1)", nullptr},
    {"--passes", "N", TakePasses, "each pattern N times (default 1)", nullptr},
    {"--junit", "FILE", TakeJunit, "a JUnit XML report of the memory test: a test case for each pattern and pass", nullptr},
    {"--help", nullptr, TakeHelp, "show this text", nullptr},
    {"--version", nullptr, TakeVersion, "show the version", nullptr},
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
    pOptions->pszNamedLog = nullptr;
    pOptions->aOperations.clear();
    pOptions->pszMapFile = nullptr;
    pOptions->pszMapBase = nullptr;
    pOptions->pszBridgeMapFile = nullptr;
    pOptions->bFields = false;
    pOptions->pszBatchFile = nullptr;
    pOptions->eReport = kTextReport;
    pOptions->bStopOnError = false;
    pOptions->nMemPasses = 1;
    pOptions->nSeed = 1;
    pOptions->aPatterns.clear();
    pOptions->pszJunitFile = nullptr;
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
    LogPrintF("\nOperations (a script's: they run in order, print only read values, and end with status 1 at the "
              "first failure; each is also a --batch line, VERB ARGUMENT; a command string /Z goes with none of them):\n");
    size_t nOperations = 0;
    const OperationRow *pRows = OperationRows(&nOperations);
    for (size_t i = 0; i < nOperations; ++i)
        ShowOptionHelp(("--" + std::string(pRows[i].pszVerb)).c_str(), pRows[i].pszValue, pRows[i].pszHelp);
    LogPrintF("\nLong options:\n");
    for (const OptionRow &option : g_aLongOptions)
        ShowOptionHelp(option.pszName, option.pszValue, option.pszHelp);
    for (size_t i = 0; g_pExtras != nullptr && i < g_pExtras->nOptions; ++i) {
        const OptionRow &row = g_pExtras->aOptions[i];
        std::string strValue = row.pszValue == nullptr ? "" : row.pszOperand == nullptr ? row.pszValue
                                                                : std::string(row.pszValue) + " [" + row.pszOperand + "]";
        ShowOptionHelp(row.pszName, row.pszValue != nullptr ? strValue.c_str() : nullptr, row.pszHelp);
    }
    LogPrintF(" Numbers: 0x hexadecimal, a leading 0 octal, else decimal; with a map, a register's name.\n");
    LogPrintF("\nSettings (environment):\n"
              " DUZE_MAP         the board's register map, a CMSIS-SVD file\n"
              " DUZE_MAP_BASE    the map's address that is register 0 (default its lowest baseAddress)\n"
              " DUZE_BRIDGE_MAP  the bridge's register map\n");
    if (g_pExtras != nullptr && g_pExtras->pszSettingsHelp != nullptr)
        LogPrintF("%s", g_pExtras->pszSettingsHelp);
    LogPrintF("%s", kExitStatuses);
}



// An operation's option, --VERB VALUE: parsed by the operation table, as a batch's line is.
// BadLongOption ends the run without unwinding: no string may own memory when it is called, so
// the reason is copied out of its string first.
void TakeOperation(const OperationRow &row, const char *pszValue, ToolOptions *pOptions)
{
    char szWhy[320] = "";
    {
        Operation op;
        std::string strWhy;
        if (ParseOperation(row, pszValue, op, strWhy)) {
            pOptions->aOperations.push_back(op);
            return;
        }
        snprintf(szWhy, sizeof szWhy, "%s", strWhy.c_str());
    }
    char szName[64];
    snprintf(szName, sizeof szName, "--%s", row.pszVerb);
    BadLongOption(szName, pszValue != nullptr ? pszValue : "", szWhy);
}

void TakeLog(const OptionRow &, const char *pszValue, const char *, ToolOptions *pOptions)
{
    pOptions->pszNamedLog = pszValue;
}

void TakeMap(const OptionRow &, const char *pszValue, const char *, ToolOptions *pOptions)
{
    pOptions->pszMapFile = pszValue;
}

void TakeMapBase(const OptionRow &, const char *pszValue, const char *, ToolOptions *pOptions)
{
    pOptions->pszMapBase = pszValue;
}

void TakeBridgeMap(const OptionRow &, const char *pszValue, const char *, ToolOptions *pOptions)
{
    pOptions->pszBridgeMapFile = pszValue;
}

void TakeFields(const OptionRow &, const char *, const char *, ToolOptions *pOptions)
{
    pOptions->bFields = true;
}

void TakeBatch(const OptionRow &, const char *pszValue, const char *, ToolOptions *pOptions)
{
    pOptions->pszBatchFile = pszValue;
}

void TakeJson(const OptionRow &, const char *, const char *, ToolOptions *pOptions)
{
    pOptions->eReport = kJsonReport;
}

void TakeStopOnError(const OptionRow &, const char *, const char *, ToolOptions *pOptions)
{
    pOptions->bStopOnError = true;
}

void TakePatterns(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions)
{
    char szWhy[256] = "";
    {
        std::string strWhy;
        if (!ParsePatterns(pszValue, pOptions->aPatterns, strWhy))
            snprintf(szWhy, sizeof szWhy, "%s", strWhy.c_str());
    }
    if (szWhy[0] != '\0')
        BadLongOption(option.pszName, pszValue, szWhy);
}

void TakeSeed(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions)
{
    if (!ParseStrictNumber(pszValue, 0xFFFFFFFFu, &pOptions->nSeed))
        BadLongOption(option.pszName, pszValue, "not one number of 32 bits (0x hexadecimal, 0 octal, else decimal)");
}

void TakePasses(const OptionRow &option, const char *pszValue, const char *, ToolOptions *pOptions)
{
    if (!ParseStrictNumber(pszValue, kMemtestPassesMax, &pOptions->nMemPasses) || pOptions->nMemPasses == 0) {
        char szWhy[64];
        snprintf(szWhy, sizeof szWhy, "not a number of passes from 1 to %u", (unsigned)kMemtestPassesMax);
        BadLongOption(option.pszName, pszValue, szWhy);
    }
}

void TakeJunit(const OptionRow &, const char *pszValue, const char *, ToolOptions *pOptions)
{
    pOptions->pszJunitFile = pszValue;
}

void TakeHelp(const OptionRow &, const char *, const char *, ToolOptions *)
{
    PrintHelp();
    EndRun(0, kKeepLibrary);
}

void TakeVersion(const OptionRow &, const char *, const char *, ToolOptions *)
{
    ShowBanner();
    EndRun(0, kKeepLibrary);
}

// A long option at argv[*pi], its value the next argument or after '='; false when the argument is
// none of the tool's. The operations' rows are the table's: --VERB for each.
bool ParseLongOption(int argc, char **argv, int *pi, ToolOptions *pOptions)
{
    const char *pszArgument = argv[*pi];
    if (strncmp(pszArgument, "--", 2) != 0)
        return false;
    const char *pszEq = strchr(pszArgument, '=');
    size_t nNameLength = pszEq != nullptr ? (size_t)(pszEq - pszArgument) : strlen(pszArgument);
    const OperationRow *pRow = FindOperation(pszArgument + 2, nNameLength - 2);
    const OptionRow *pOption = nullptr;
    for (const OptionRow &option : g_aLongOptions)
        if (strlen(option.pszName) == nNameLength && strncmp(option.pszName, pszArgument, nNameLength) == 0)
            pOption = &option;
    if (pRow == nullptr && pOption == nullptr)
        UnknownLongOption(pszArgument);
    const char *pszName = pRow != nullptr ? argv[*pi] : pOption->pszName;
    const char *pszTakes = pRow != nullptr ? pRow->pszValue : pOption->pszValue;
    const char *pszValue = nullptr;
    if (pszTakes != nullptr) {
        if (pszEq != nullptr)
            pszValue = pszEq + 1;
        else if (*pi + 1 < argc)
            pszValue = argv[++*pi];
        else
            BadLongOption(pszName, "", pszTakes, "needs ");
    } else if (pszEq != nullptr) {
        char szName[64];
        snprintf(szName, sizeof szName, "--%s", pRow != nullptr ? pRow->pszVerb : pszName + 2);
        BadLongOption(szName, pszEq + 1, "takes no value");
    }
    if (pRow != nullptr)
        TakeOperation(*pRow, pszValue, pOptions);
    else
        pOption->pfnTake(*pOption, pszValue, nullptr, pOptions);
    return true;
}

} // namespace

std::vector<std::string> LongOptionNames()
{
    std::vector<std::string> aNames;
    size_t nOperations = 0;
    const OperationRow *pRows = OperationRows(&nOperations);
    for (size_t i = 0; i < nOperations; ++i)
        aNames.push_back("--" + std::string(pRows[i].pszVerb));
    for (const OptionRow &option : g_aLongOptions)
        aNames.push_back(option.pszName);
    for (size_t i = 0; g_pExtras != nullptr && i < g_pExtras->nOptions; ++i)
        aNames.push_back(g_pExtras->aOptions[i].pszName);
    return aNames;
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
    // The batch's file too: a report the run writes (a memory test's JUnit, which may come before
    // the batch is read) must not empty it.
    for (int i = 1; i < argc; ++i) {
        for (const char *pszOption : {"--map", "--bridge-map", "--batch"}) {
            const char *pszInline = nullptr;
            if (!IsOption(argv[i], pszOption, &pszInline))
                continue;
            const char *pszFile = pszInline != nullptr ? pszInline : i + 1 < argc ? argv[i + 1] : nullptr;
            if (pszFile != nullptr && strcmp(pszFile, "-") != 0)
                HoldMapFile(strcmp(pszOption, "--batch") == 0 ? std::string(pszFile) : ShippedMapFile(pszFile));
        }
    }
}

void TakeProgramOptions(int *pArgc, char **argv, const ProgramExtras &extras)
{
    g_pExtras = &extras;
    g_toolOptions.aProgramValues.clear();
    int nKept = 1;
    for (int i = 1; i < *pArgc; ++i) {
        const char *pszArgument = argv[i];
        argv[nKept++] = argv[i];
        // The value of one of the tool's own options is never taken for a program's option.
        bool bToolOption = false;
        for (const OptionRow &option : g_aLongOptions)
            bToolOption = bToolOption || (option.pszValue != nullptr && strcmp(option.pszName, pszArgument) == 0);
        const OperationRow *pRow = strncmp(pszArgument, "--", 2) == 0 ? FindOperation(pszArgument + 2, strlen(pszArgument) - 2) : nullptr;
        bToolOption = bToolOption || (pRow != nullptr && pRow->pszValue != nullptr);
        if (bToolOption) {
            if (i + 1 < *pArgc)
                argv[nKept++] = argv[++i];
            continue;
        }
        for (size_t j = 0; j < extras.nOptions; ++j) {
            const OptionRow &option = extras.aOptions[j];
            const char *pszInline = nullptr;
            if (!IsOption(pszArgument, option.pszName, &pszInline))
                continue;
            --nKept;
            if (option.pszValue == nullptr && pszInline != nullptr) {
                fprintf(stderr, "Error: %s takes no value\n", option.pszName);
                exit(2);
            }
            const char *pszValue = option.pszValue == nullptr ? "" : pszInline != nullptr ? pszInline : i + 1 < *pArgc ? argv[++i] : nullptr;
            if (pszValue == nullptr || (option.pszValue != nullptr && *pszValue == '\0')) {
                fprintf(stderr, "Error: %s needs %s\n", option.pszName, option.pszValue);
                exit(2);
            }
            // An operand the row declares: the next argument where it is no switch or option (a word
            // that starts with / is one where it is a directory).
            const char *pszOperand = nullptr;
            struct stat st;
            if (option.pszOperand != nullptr && i + 1 < *pArgc && argv[i + 1][0] != '-' &&
                (argv[i + 1][0] != '/' || (stat(argv[i + 1], &st) == 0 && S_ISDIR(st.st_mode))))
                pszOperand = argv[++i];
            option.pfnTake(option, pszValue, pszOperand, &g_toolOptions);
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
    for (int i = 1; i < argc; ++i) {
        char *pszArgument = argv[i];
        if (ParseLongOption(argc, argv, &i, pOptions))
            continue;
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
            pOptions->pszNamedLog = pszValue;
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
    if (const char *pszLogName = pOptions->pszNamedLog) {
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
