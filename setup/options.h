// options.h - the run's options record, filled from the command line, read by the rest of the tool.
#ifndef DUZE_OPTIONS_H
#define DUZE_OPTIONS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "duze_limits.h"


// What an operation of a script does: one row of the operation table each (operations.cpp).
enum OperationKind {
    kOpAccess,        // a register read or write: the key of its command says which
    kOpSleep,         // nNumber milliseconds
    kOpDump,          // every register of the board's map
    kOpBridgeDump,    // the same of the bridge's
    kOpHexdump,       // board registers nStart, nLength bytes, as lspci -xxx shows them
    kOpBridgeHexdump, // the bridge's whole register space so
    kOpMemtest,       // the memory test job over nStart, nLength bytes
    kOpDecode,        // result code nNumber's fields and text
    kOpList,          // the boards (or PCI functions) that open
    kOpNames,         // the register names of the board's map (nNumber 1) or the bridge's (2)
};

// One operation, from an option or a batch's line: parsed once, its names resolved once, run once.
struct Operation {
    OperationKind eKind = kOpAccess;
    const char *pszVerb = ""; // its verb ("read"), as a batch spells it
    int nLine = 0;            // the batch's line, or 0 for an option
    // An access: the key of the command it stands for, its address and, for a write, its value.
    char cKey = 0;
    uint32_t nAddress = 0;
    uint32_t nValue = 0;
    std::string strName;   // a register's name instead of the address, looked up in the map; or empty
    uint32_t nMapBits = 0; // the named register's width in the map (64: read and written as two words); 0 for none
    uint32_t nValueHigh = 0; // a 32-bit write by name: the value's upper half, for a 64-bit register
    // A write of some bits alone (VALUE:MASK, or NAME.FIELD=VALUE): the register is read, the bits
    // of nMask replaced, and written back; bits whose write would act (a write-one-to-clear field
    // beside it) are written as the write that does nothing.
    bool bMasked = false;
    uint32_t nMask = 0xFFFFFFFFu;
    std::string strField;         // NAME.FIELD: the field's name, the register's in strName
    uint32_t nForceZero = 0, nForceOne = 0;
    bool bNoRead = false;         // a write-only register: the bits not written are its reset value's
    uint32_t nUnread = 0;
    // A range (memtest, hexdump), or a number (sleep's milliseconds, decode's code, names' map).
    uint32_t nStart = 0, nLength = 0;
    uint32_t nNumber = 0;
};

// How a script's run shows what it does: lines of text, or JSON Lines records (--json).
enum ReportForm { kTextReport, kJsonReport };

// A program's own option as given (the PCI program's --device, --compare DIR DIR2): for the program
// to act on, as its row's handler took it.
struct ProgramValue {
    const char *pszName;
    std::string strValue, strOperand;
};

struct ToolOptions {
    const char *pszCommandString; // null when none was given
    bool bQuiet;                  // the first failed library call ends the run without asking
    char szLogFileName[DUZE_LOG_NAME_MAX + 1];
    int32_t nBoardType;
    uint32_t nBoardNumber;
    bool bLogNamed;                     // /L or --log: only then does a one-shot run write a log
    const char *pszNamedLog;            // the last /L's or --log's name, checked once all arguments are read
    std::vector<Operation> aOperations; // what the options ask, in the order they were given
    // The register maps (--map, --map-base, --bridge-map; DUZE_MAP, DUZE_MAP_BASE, DUZE_BRIDGE_MAP
    // where the command line names none): null for none.
    const char *pszMapFile;
    const char *pszMapBase;
    const char *pszBridgeMapFile;
    bool bFields;                       // --fields: each one-shot value's register line after it
    const char *pszBatchFile;           // --batch FILE (- standard input): one command a line; or null
    ReportForm eReport;                 // --json: one JSON object a line for each record, else text
    bool bStopOnError;                  // --stop-on-error: a batch ends at its first failed or malformed line
    uint32_t nMemPasses;                // --passes N
    uint32_t nSeed;                     // --seed N, for the random pattern
    std::vector<std::string> aPatterns; // --patterns, each a known name; empty for the default
    const char *pszJunitFile;           // --junit FILE, or null
    std::vector<ProgramValue> aProgramValues; // the program's options, in their order
};

// Whether the run is one-shot: operations or a batch instead of the key loop.
inline bool IsOneShot(const ToolOptions &options)
{
    return !options.aOperations.empty() || options.pszBatchFile != nullptr;
}

// Whether the run opens the board: a key loop, a batch, or an operation on the board.
inline bool OpensBoard(const ToolOptions &options)
{
    bool bOpens = !IsOneShot(options) || options.pszBatchFile != nullptr;
    for (const Operation &op : options.aOperations)
        bOpens = bOpens || (op.eKind != kOpDecode && op.eKind != kOpList && op.eKind != kOpNames);
    return bOpens;
}

// One record, for the whole run.
extern ToolOptions g_toolOptions;

#endif
