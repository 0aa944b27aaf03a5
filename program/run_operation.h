// run_operation.h - the one runner: an operation, parsed and resolved, run on the run's devices
// through the access layer, each of its records handed to the report. It never ends the run: it
// says what the operation came to, and the caller (a one-shot run, a batch) decides what follows.
#ifndef DUZE_RUN_OPERATION_H
#define DUZE_RUN_OPERATION_H

#include <stdint.h>

#include <string>

#include "KynHwDll.h"
#include "options.h"

struct BoardHandles;
struct ProgramExtras;

struct OperationOutcome {
    int nStatus = 0;        // 0; 1 a failed access; 2 refused; 3 a memory test found errors; 255 a report not written
    KYN_HANDLE hDevice = 0; // a failed library call: its device and result, for the error line
    KYN_RESULT nResult = 0;
    std::string strError;   // else the tool's own reason, where there is one
    bool bErrorWord = false; // an option's run shows it after "Error: "
};

// Runs one operation: an option's (nLine 0) logs each access as the key's command does, a batch
// line's logs its answers.
OperationOutcome RunOperation(const Operation &op, const BoardHandles &devices, const ProgramExtras &extras);

// Why a bridge access lies past the bridge's register space, where the library tells its size; or "".
std::string BridgeRangeProblem(const Operation &op, const BoardHandles &devices);

// An attribute of a device where the library has it, else the default.
uint32_t NumberAttribute(KYN_HANDLE hDevice, uint32_t nId, uint32_t nDefault);
std::string TextAttribute(KYN_HANDLE hDevice, uint32_t nId, const std::string &strDefault);

// The dumps (dumps.cpp): every register of a map, and registers as lspci -xxx shows them.
OperationOutcome DumpMap(const Operation &op, const BoardHandles &devices);
OperationOutcome HexDump(const Operation &op, const BoardHandles &devices);
OperationOutcome BridgeHexDump(const Operation &op, const BoardHandles &devices);

#endif
