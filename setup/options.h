// options.h - the run's options record, filled from the command line, read by the rest of the tool.
#ifndef DUZE_OPTIONS_H
#define DUZE_OPTIONS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "duze_limits.h"


// One register access given on the command line (--read, --write16, ...), run in order after the
// start-up: the key of the command it stands for, its address and, for a write, its value.
struct OneShotAccess {
    char cKey = 0;
    uint32_t nAddress = 0;
    uint32_t nValue = 0;
    std::string strName; // a register's name instead of the address, looked up in the map; or empty
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
};

struct ToolOptions {
    const char *pszCommandString; // null when none was given
    bool bQuiet;                  // the first failed library call ends the run without asking
    char szLogFileName[DUZE_LOG_NAME_MAX + 1];
    int32_t nBoardType;
    uint32_t nBoardNumber;
    bool bLogNamed;                     // /L or --log: only then does a one-shot run write a log
    std::vector<OneShotAccess> aAccesses;
    bool bList;                         // --list: the boards that open
    bool bDecode;                       // --decode: nDecode's fields and text
    uint32_t nDecode;
    // The register maps (--map, --map-base, --bridge-map; DUZE_MAP, DUZE_MAP_BASE, DUZE_BRIDGE_MAP
    // where the command line names none): null for none.
    const char *pszMapFile;
    const char *pszMapBase;
    const char *pszBridgeMapFile;
    bool bDump;                         // --dump: every register of the board's map, read
    bool bBridgeDump;                   // --bridge-dump: the same for the bridge's map
    bool bFields;                       // --fields: each one-shot value's register line after it
    const char *pszBatchFile;           // --batch FILE (- standard input): one command a line; or null
    bool bJson;                         // --json: one JSON object a line for each access, decoding, answer
    bool bStopOnError;                  // --stop-on-error: a batch ends at its first failed or malformed line
    bool bMemtest;                      // --memtest START:LENGTH: the memory test as a job
    uint32_t nMemStart;
    uint32_t nMemLength;
    uint32_t nMemPasses;                // --passes N
    uint32_t nSeed;                     // --seed N, for the random pattern
    const char *pszJunitFile;           // --junit FILE, or null
    bool bBridgeHexdump;                // --bridge-hexdump: the bridge's registers as lspci -xxx shows them
    bool bHexdump;                      // --hexdump START:LENGTH: board registers the same way
    uint32_t nHexStart;
    uint32_t nHexLength;
    int nNames;                         // --names: 1 the board map's register names, 2 the bridge map's
};

// Whether the run is one-shot: accesses, a list or a decoding instead of the key loop.
inline bool IsOneShot(const ToolOptions &options)
{
    return !options.aAccesses.empty() || options.bList || options.bDecode || options.bDump || options.bBridgeDump ||
           options.pszBatchFile != nullptr || options.bMemtest ||
           options.bBridgeHexdump ||
           options.bHexdump || options.nNames != 0;
}

// Whether the run opens the board: a key loop, or one-shot accesses or a dump.
inline bool OpensBoard(const ToolOptions &options)
{
    return !IsOneShot(options) || !options.aAccesses.empty() || options.bDump || options.bBridgeDump || options.bBridgeHexdump ||
           options.bHexdump || options.pszBatchFile != nullptr || options.bMemtest;
}

// One record, for the whole run.
extern ToolOptions g_toolOptions;

#endif
