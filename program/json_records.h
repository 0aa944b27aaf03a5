// json_records.h - the records of the tool's machine contract (--json), one JSON object a line, as
// docs/records.schema.json describes them.
#ifndef DUZE_JSON_RECORDS_H
#define DUZE_JSON_RECORDS_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "KynHwDll.h"
#include "register_access.h"

struct MapRegister;

// The schema's version, in every record: docs/records.md says what a new version means.
const int kRecordsVersion = 2;

// The run's device, once its board is open: every access, dump and hex dump record after it names
// the board's type and number, and the slot where the library tells it.
void SetRecordDevice(int32_t nBoardType, uint32_t nBoardNumber, const std::string &strBoardSlot,
                     const std::string &strBridgeSlot);

// The record as one line of JSON, without its line end; strings escaped as JSON requires.
std::string AccessJson(const AccessRecord &record);
// A line that could not be run: its number and why. Every record but an option's carries its line.
std::string LineErrorJson(int nLine, const std::string &strError);
// A blank or comment line of a batch: answered too, so that a client reads every line's end.
std::string NoneJson(int nLine);
// The board that did not open: its type and number, the code and the library's text.
std::string OpenFailureJson(int32_t nBoardType, uint32_t nBoardNumber, KYN_RESULT nResult, const std::string &strText);
// A register of a map's dump: read (its value, and its reset value where the map gives one), or
// skipped, saying why (not on the board, write-only, a read has an effect), or a read that failed.
struct DumpRecord {
    int nLine = 0;            // the batch's line, or 0 for an option
    bool bBridge = false;
    std::string strName;
    uint64_t nSvdAddress = 0;
    bool bOnBoard = true;
    uint32_t nAddress = 0;
    uint32_t nBits = 32;
    bool bRead = false;
    uint64_t nValue = 0;
    bool bReset = false;
    uint64_t nReset = 0;
    const MapRegister *pRegister = nullptr; // its fields, for the value read
    std::string strFields;                  // the text's line of them
    std::string strSkipped;
    KYN_RESULT nResult = 0;   // a read that failed, and the library's text
    std::string strError;
};
std::string DumpJson(const DumpRecord &record);
// A batch's sleep.
std::string SleepJson(int nLine, uint32_t nMilliseconds);
// A memory test's word that read back wrong: its pattern and pass, address, expected and read values,
// their XOR and its bits.
std::string MismatchJson(const char *pszPattern, uint32_t nPass, uint32_t nAddress, uint32_t nExpected, uint32_t nRead,
                         int nLine = 0);
// A memory test's summary: its range, patterns, passes, mismatches, and the data bits stuck high or
// low in every mismatch and the address bits whose words alias.
std::string MemtestJson(uint32_t nStart, uint32_t nLength, const std::vector<std::string> &aPatterns, uint32_t nPasses,
                        uint64_t nMismatches, uint32_t nStuckHigh, uint32_t nStuckLow, uint32_t nAliasBits, int nLine = 0);
// A register two board images differ in (duzedevazu-pci --compare): the space (config, bar), the
// BAR (-1 for config), its address and both values, the map's register there or null.
struct CompareRecord {
    const char *pszSpace;
    int nBar;
    uint32_t nAddress, nBefore, nAfter;
    const MapRegister *pRegister;
};
std::string CompareJson(const CompareRecord &record);
// A decoded result code.
std::string DecodeJson(uint32_t nCode, const std::string &strReported, bool bFailure, const std::string &strText, int nLine = 0);
// One item of --list: its fields by name ("type" and "number" as numbers, the rest as text).
std::string ListedJson(const std::vector<std::pair<std::string, std::string>> &aFields, int nLine = 0);
// A register name of a map (--names).
std::string NameJson(int nLine, bool bBridge, const std::string &strName);
// A hex dump's bytes from nStart, null for one not read, with its header line.
std::string HexdumpJson(int nLine, bool bBridge, const std::string &strHeader, uint32_t nStart, const std::vector<int> &anBytes);

#endif
