// one_shot.cpp - a run for scripts: the operations of the command line, each parsed and resolved
// before the library is touched, then run in order through the one runner; read values alone on
// standard output; the first failure ends the run with its error line and status 1.
#include "one_shot.h"

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "batch.h"
#include "command_line.h"
#include "command_table.h"
#include "error_report.h"
#include "json_records.h"
#include "operations.h"
#include "options.h"
#include "printable.h"
#include "report.h"
#include "run_operation.h"
#include "screen.h"
#include "startup.h"

namespace {

// The order a one-shot run's operations run in, whatever order the command line gave them: what
// needs no library first, then the list, then the board's accesses in their order, the dumps and the
// memory test; a batch after those, a board hex dump last.
int Phase(const Operation &op)
{
    switch (op.eKind) {
    case kOpNames:
        return 0;
    case kOpDecode:
        return 1;
    case kOpList:
        return 2;
    case kOpAccess:
    case kOpSleep:
        return 3;
    case kOpDump:
        return 4;
    case kOpBridgeDump:
        return 5;
    case kOpBridgeHexdump:
        return 6;
    case kOpMemtest:
        return 7;
    case kOpHexdump:
        return 9;
    }
    return 9;
}
const int kBatchPhase = 8;

// A script's mistake, before the library is touched: status 2.
[[noreturn]] void Refuse(const std::string &strWhy)
{
    fprintf(stderr, "Error: %s\n", Printable(strWhy).c_str());
    fflush(stderr);
    EndRun(2, kKeepLibrary);
}

// Where an operation did not succeed, the run ends: a failed access with the error line the key's
// command shows (the record, where there is one, is already out), anything else with its status.
void EndUnlessSucceeded(const OperationOutcome &outcome)
{
    if (outcome.nStatus == 0)
        return;
    if (outcome.nStatus != 1)
        EndRun(outcome.nStatus, kReleaseThenConsole);
    if (outcome.nResult < 0)
        CheckResult(outcome.hDevice, outcome.nResult); // quiet: the run ends there
    LogPrintFailureF("%s%s\n", outcome.bErrorWord ? "Error: " : "", outcome.strError.c_str());
    EndRun(1, kReleaseThenConsole);
}

// The operations of phases [nFrom, nTo).
void RunPhases(const std::vector<Operation> &aOperations, int nFrom, int nTo, const BoardHandles &devices,
               const ProgramExtras &extras)
{
    for (const Operation &op : aOperations)
        if (Phase(op) >= nFrom && Phase(op) < nTo)
            EndUnlessSucceeded(RunOperation(op, devices, extras));
}

} // namespace

int RunOneShot(const ProgramExtras &extras)
{
    // No question is asked: the first failure ends the run with status 1.
    SetQuietErrors(true);
    std::vector<Operation> aOperations = g_toolOptions.aOperations;
    std::stable_sort(aOperations.begin(), aOperations.end(),
                     [](const Operation &a, const Operation &b) { return Phase(a) < Phase(b); });
    for (Operation &op : aOperations) {
        std::string strWhy;
        if (!ResolveOperation(op, strWhy))
            Refuse(strWhy);
    }
    const BoardHandles noDevices = {0, 0};
    RunPhases(aOperations, 0, 2, noDevices, extras);
    bool bList = std::any_of(aOperations.begin(), aOperations.end(), [](const Operation &op) { return op.eKind == kOpList; });
    if (bList || OpensBoard(g_toolOptions))
        OpenLogAndShowIdentity();
    RunPhases(aOperations, 2, 3, noDevices, extras);
    if (!OpensBoard(g_toolOptions))
        return FinishRun(0, kReleaseThenConsole);
    const BoardHandles devices = OpenAndIdentifyBoard();
    SetRecordDevice(g_toolOptions.nBoardType, g_toolOptions.nBoardNumber, TextAttribute(devices.hBoard, KYN_ATTR_LOCATION, ""),
                    TextAttribute(devices.hBridge, KYN_ATTR_LOCATION, ""));
    // A bridge access past the bridge's registers is refused as setpci refuses it, before any access
    // of the run is made.
    for (const Operation &op : aOperations) {
        std::string strWhy = BridgeRangeProblem(op, devices);
        if (!strWhy.empty()) {
            LogPrintFailureF("Error: %s\n", strWhy.c_str());
            EndRun(1, kReleaseThenConsole);
        }
    }
    RunPhases(aOperations, 3, kBatchPhase, devices, extras);
    if (g_toolOptions.pszBatchFile != nullptr) {
        int nBatch = RunBatch(devices, extras);
        if (nBatch != 0)
            return FinishRun(nBatch, kReleaseThenConsole);
    }
    RunPhases(aOperations, kBatchPhase + 1, 10, devices, extras);
    return FinishRun(0, kReleaseThenConsole);
}
