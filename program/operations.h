// operations.h - every operation a script runs, one row each: its verb (a batch line's first word,
// and the long option with -- before it), the key of the command it makes, how its argument is
// read, its line of --help. Options and batch lines are parsed here and nowhere else, and their
// names resolved here, so whatever one takes the other takes, refused with the same words.
#ifndef DUZE_OPERATIONS_H
#define DUZE_OPERATIONS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "options.h"

struct MapRegister;

struct OperationRow {
    const char *pszVerb;  // "read": the batch's word, and --read
    const char *pszValue; // its argument as --help shows it ("ADDR"), or null where it takes none
    OperationKind eKind;
    char cKey;            // an access: the key of the command it stands for
    // Reads the argument into the operation: false with why where it is none.
    bool (*pfnParse)(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);
    const char *pszHelp;
};

// The row of a verb ("read", without dashes), or null.
const OperationRow *FindOperation(const char *pszVerb, size_t nLength);
// Every row, in the order --help lists them.
const OperationRow *OperationRows(size_t *pnCount);
// "read, read16, ...": the verbs, for a batch's unknown word.
std::string OperationVerbs();

// The row's argument read into op (its kind, verb and key set too): false with why.
bool ParseOperation(const OperationRow &row, const char *pszValue, Operation &op, std::string &strWhy);

// What the run's maps make of an operation, once, before it runs: a name's address, width and
// field, a masked write's bits that must not be written back as read, the map a dump or a names
// list needs. False with why where the map cannot (no map, no such register, ambiguous, ...).
bool ResolveOperation(Operation &op, std::string &strWhy);
// The operation as the user spelled it: --dump for an option, dump in a batch.
std::string OperationName(const Operation &op);
// The registers of the map an access concerns: the one it named, or each one at its address.
std::vector<const MapRegister *> AccessRegisters(const Operation &op);

// A result code as --decode takes it: a number, or the reported code with its fields as an error
// line shows them (0X22 [1.3]), alone or in the line (ERROR(0X22 [1.3]) Dev(...): ...).
bool ParseResultCode(const char *pszText, uint32_t *pnCode);

#endif
