// register_map.h - names for registers and their fields, read from a CMSIS-SVD file: what the board's
// (and its bridge's) addresses are called, and what a value's fields say.
#ifndef DUZE_REGISTER_MAP_H
#define DUZE_REGISTER_MAP_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

enum MapAccess { kMapReadWrite, kMapReadOnly, kMapWriteOnly, kMapWriteOnce, kMapReadWriteOnce };

// An enumerated value: the field's value matches where its bits under nCare equal nValue's (a value
// with don't-care bits, #1x0, cares for fewer than all).
struct MapValue {
    uint64_t nValue = 0;
    uint64_t nCare = ~0ull;
    std::string strName;
};

struct MapField {
    std::string strName;
    uint32_t nLsb = 0;
    uint32_t nWidth = 1;
    MapAccess eAccess = kMapReadWrite;
    std::string strReadAction;      // a read changes it ("clear"); empty for none
    std::string strModifiedWrite;   // what a write does to it ("oneToClear"); empty: it is set
    std::vector<MapValue> aValues;  // enumerated values, in the file's order
    std::string strDefault;         // the isDefault value's name: any value none of the others has
};

struct MapRegister {
    std::string strName;  // PERIPHERAL.REGISTER, clusters adding theirs: PWM.CHANNEL[3].TOPCMP
    uint64_t nSvdAddress = 0; // its address in the file
    // On the board: from the map's base, within the board's 32-bit addresses. nAddress, the board's
    // address (the SVD address less the base), holds only then.
    bool bOnBoard = true;
    uint32_t nAddress = 0;
    uint32_t nBits = 32;  // 1 to 64; a 64-bit register is two 32-bit words, the low one first
    MapAccess eAccess = kMapReadWrite;
    uint64_t nReset = 0;
    bool bReset = false;  // the map gives a reset value
    std::string strReadAction; // the register's own, or its fields'
    std::vector<MapField> aFields;
};

// One map: its registers in the order of their SVD addresses (those on the board, a run of them, in
// the order of their board addresses too), and their names for look-ups.
struct RegisterMap {
    std::string strFile;
    std::vector<MapRegister> aRegisters;
    size_t nFirstOnBoard = 0, nEndOnBoard = 0; // the run of registers on the board
    uint64_t nBase = 0;                        // the SVD address that is the board's address 0
    // The names for look-ups: full names and the short names only one register has, as the map spells
    // them; full and short names in upper case, each with every register that has it.
    std::unordered_map<std::string, size_t> exact;
    std::unordered_multimap<std::string, size_t> folded;
    // What the file does that its format's readers take with a warning, one of each kind: "line N: what".
    std::vector<std::string> aWarnings;
};

// Reads an SVD text. strBase is the SVD address that is register address 0, or empty for the lowest
// baseAddress. False with strError ("FILE line N: what is wrong") for a text that is no well-formed
// XML, no SVD, contradicts itself, nests deeper than kMapDepthMax or expands past its limits.
bool ReadRegisterMap(const std::string &strFile, const std::string &strText, const std::string &strBase,
                     RegisterMap &map, std::string &strError);

// Called now and then while a large map is read: the tool lets an interrupt end the run there.
void SetMapReadPoll(void (*pfnPoll)());

// The register that starts at board address nAddress (the first, where several do), or null: a
// search, not a scan.
const MapRegister *FindMapRegister(const RegisterMap &map, uint32_t nAddress);
// Every register that starts there, in the file's order.
std::vector<const MapRegister *> MapRegistersAt(const RegisterMap &map, uint32_t nAddress);
// The register of a name: its full name, or its name alone where only one register has it, as the map
// spells it; else in any case, where that names one register. A name several registers answer to
// names none: they are in *papCandidates (address order), and the caller says it is ambiguous.
const MapRegister *FindMapRegisterByName(const RegisterMap &map, const std::string &strName,
                                         std::vector<const MapRegister *> *papCandidates = nullptr);
// "NAME is ambiguous: UART0.ENABLE, SPI0.ENABLE" (the first eight).
std::string AmbiguousName(const std::string &strName, const std::vector<const MapRegister *> &apCandidates);

// A map file's text: false with why (a missing file, not a regular file, larger than kMapFileMax).
const long kMapFileMax = 64L << 20;
bool ReadMapFile(const std::string &strFile, std::string &strText, std::string &strWhy);

// The file of a map named by its short name, as the tool ships it (pci-config: the PCI configuration
// header), where no file has that name; else the name itself.
std::string ShippedMapFile(const std::string &strName);
// Holds a map file (or another input, a batch's) open for the run, before the library's trace and the
// log are opened, so that none of them empties it: they refuse a file the run holds (where the host
// can tell).
void HoldMapFile(const std::string &strFile);

// The run's maps, the board's and the bridge's: read once at start; null where none was named.
bool LoadRunMap(bool bBridge, const std::string &strFile, const std::string &strBase, std::string &strError);
const RegisterMap *RunMap(bool bBridge);

// The line a register's value gets: "  UART.CTRL: EN=1 MODE=0x2 (LOOPBACK)", ending in a line end. For a
// write, a field that a write does not simply set says what it does: "IRQ=1 [oneToClear]". With
// bMarkReset, a field whose value is not its reset value's is marked with a *.
std::string DescribeRegister(const MapRegister &reg, uint64_t nValue, bool bWrite = false, bool bMarkReset = false);
// Why a register of the map is not on the board (below the map's base, past the board's 32-bit
// addresses from it, past its nWindow bytes of registers where that is known, else 0), or "".
std::string MapNotOnBoard(const RegisterMap &map, const MapRegister &reg, uint32_t nWindow);
// An enumerated value's name for a field's value, or "".
std::string MapValueName(const MapField &field, uint64_t nField);
// A value's fields one by one, for records: each field, its value and its enumerated value's name.
struct FieldValue {
    const MapField *pField;
    uint64_t nValue;
    std::string strEnum;
};
std::vector<FieldValue> MapFieldValues(const MapRegister &reg, uint64_t nValue);

// Whether two texts are the same but for the case of their letters; a text in upper case.
bool SameLetters(const std::string &strText, const std::string &strOther);
std::string Upper(std::string str);

#endif
