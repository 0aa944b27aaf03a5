// batch.cpp - a batch: one command a line, from a file or standard input, each answered at once (and the
// answer handed to the system before the next line is read), in text or JSON Lines: a program keeps
// one run open over a pipe or SSH and talks to it.
#include "batch.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "command_table.h"
#include "duze_limits.h"
#include "operations.h"
#include "options.h"
#include "printable.h"
#include "report.h"
#include "run_operation.h"
#include "screen.h"

namespace {


// One line, VERB ARGUMENT, parsed, resolved and run as the option --VERB ARGUMENT is: its worst
// outcome (0, 1 a failed access, 2 a line that is no command, 3 a memory test's errors).
int RunLine(int nLine, const std::string &strLine, const BoardHandles &devices, const ProgramExtras &extras)
{
    size_t nSpace = strLine.find_first_of(" \t");
    std::string strVerb = strLine.substr(0, nSpace);
    std::string strArgument = nSpace == std::string::npos ? "" : strLine.substr(strLine.find_first_not_of(" \t", nSpace));
    const OperationRow *pRow = FindOperation(strVerb.c_str(), strVerb.size());
    if (pRow == nullptr) {
        ReportRefusal(nLine, "'" + strVerb + "' is none of " + OperationVerbs());
        return 2;
    }
    Operation op;
    std::string strWhy;
    if (!ParseOperation(*pRow, strArgument.c_str(), op, strWhy)) {
        ReportRefusal(nLine, "'" + strArgument + "': " + strWhy);
        return 2;
    }
    op.nLine = nLine;
    if (!ResolveOperation(op, strWhy)) {
        ReportRefusal(nLine, strWhy);
        return 2;
    }
    strWhy = BridgeRangeProblem(op, devices);
    if (!strWhy.empty()) {
        ReportRefusal(nLine, strWhy);
        return 1;
    }
    return RunOperation(op, devices, extras).nStatus;
}

} // namespace

int RunBatch(const BoardHandles &devices, const ProgramExtras &extras)
{
    bool bStandardInput = strcmp(g_toolOptions.pszBatchFile, "-") == 0;
    FILE *pFile = bStandardInput ? stdin : fopen(g_toolOptions.pszBatchFile, "r");
    if (pFile == nullptr) {
        LogPrintFailureF("Error: --batch '%s' cannot be read: %s\n", Printable(g_toolOptions.pszBatchFile).c_str(),
                         strerror(errno));
        return 2;
    }
    int nWorst = 0;
    char szChunk[kBatchLineMax + 2];
    for (int nLine = 1; fgets(szChunk, sizeof szChunk, pFile) != nullptr; ++nLine) {
        std::string strLine = szChunk;
        bool bWhole = !strLine.empty() && strLine.back() == '\n';
        if (!bWhole && strLine.size() > kBatchLineMax) {
            // The rest of a line too long to be a command.
            for (int c; (c = fgetc(pFile)) != EOF && c != '\n';) {
            }
            ReportRefusal(nLine, "the line is longer than " + std::to_string(kBatchLineMax) + " characters");
            nWorst = 2;
        } else {
            while (!strLine.empty() && isspace((unsigned char)strLine.back()))
                strLine.pop_back();
            size_t nStart = strLine.find_first_not_of(" \t");
            strLine = nStart == std::string::npos ? "" : strLine.substr(nStart);
            int nStatus = strLine.empty() || strLine[0] == '#' ? 0 : RunLine(nLine, strLine, devices, extras);
            nWorst = nStatus > nWorst ? nStatus : nWorst;
        }
        ReportLineEnd(nLine);
        // Held text goes to the system now: the program at the other end waits for this answer.
        LetInterruptsAct();
        if (nWorst != 0 && g_toolOptions.bStopOnError)
            break;
    }
    // A read that failed (a directory, an I/O error) is no end of the batch: the lines after it never
    // ran. An interrupt's own end follows at once.
    if (ferror(pFile) && errno != EINTR) {
        LogPrintFailureF("Error: --batch '%s' cannot be read: %s\n", Printable(g_toolOptions.pszBatchFile).c_str(),
                         strerror(errno));
        nWorst = 2;
    }
    if (!bStandardInput)
        fclose(pFile);
    return nWorst;
}
