// batch.cpp - a batch: one command a line, from a file or standard input, each answered at once (and the
// answer handed to the system before the next line is read), in text or JSON Lines: a program keeps
// one run open over a pipe or SSH and talks to it.
#include "batch.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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

// One line into szLine (at most nSize - 1 bytes): its length, NUL bytes counted, line end kept; 0 at
// the end of the input. fgets does the reading: the buffer holds no NUL past what it wrote, so its
// terminator is the last NUL, and a line of its own NULs is seen whole.
size_t ReadLine(FILE *pFile, char *szLine, size_t nSize)
{
    if (fgets(szLine, (int)nSize, pFile) == nullptr)
        return 0;
    const char *pEnd = (const char *)memchr(szLine, '\n', nSize);
    if (pEnd == nullptr || pEnd[1] != '\0') {
        pEnd = szLine + nSize - 1;
        while (pEnd > szLine && *pEnd != '\0')
            --pEnd;
        return (size_t)(pEnd - szLine);
    }
    return (size_t)(pEnd - szLine) + 1;
}

// What is not a batch: a character device that is no terminal (/dev/zero never ends a line).
bool NoBatch(FILE *pFile)
{
    struct stat st;
    return fstat(fileno(pFile), &st) == 0 && S_ISCHR(st.st_mode) && !isatty(fileno(pFile));
}

int RunBatch(const BoardHandles &devices, const ProgramExtras &extras)
{
    bool bStandardInput = strcmp(g_toolOptions.pszBatchFile, "-") == 0;
    FILE *pFile = bStandardInput ? stdin : fopen(g_toolOptions.pszBatchFile, "r");
    if (pFile == nullptr) {
        LogPrintFailureF("Error: --batch '%s' cannot be read: %s\n", Printable(g_toolOptions.pszBatchFile).c_str(),
                         strerror(errno));
        return 2;
    }
    if (NoBatch(pFile)) {
        LogPrintFailureF("Error: --batch '%s' cannot be read: it is a device, not a file or a pipe\n",
                         Printable(g_toolOptions.pszBatchFile).c_str());
        if (!bStandardInput)
            fclose(pFile);
        return 2;
    }
    int nWorst = 0;
    // Bytes past the last line's are never NUL: ReadLine finds each line's end by that.
    char szChunk[kBatchLineMax + 2];
    memset(szChunk, 1, sizeof szChunk);
    size_t nLength = 0;
    for (int nLine = 1; (nLength = ReadLine(pFile, szChunk, sizeof szChunk)) != 0; ++nLine) {
        std::string strLine(szChunk, nLength);
        memset(szChunk, 1, nLength + 1);
        bool bWhole = strLine.back() == '\n';
        if (!bWhole && strLine.size() > kBatchLineMax) {
            // The rest of a line too long to be a command, an interrupt let act now and then; a line
            // with no end in sight (a device of zeros) ends the batch.
            size_t nDropped = 0;
            int c = 0;
            while ((c = fgetc(pFile)) != EOF && c != '\n' && ++nDropped < kBatchDropMax)
                if (nDropped % 65536 == 0)
                    LetInterruptsAct();
            bool bEndless = c != EOF && c != '\n';
            ReportRefusal(nLine, "the line is longer than " + std::to_string(kBatchLineMax) + " bytes" +
                                     (bEndless ? ", and has no end within 1 MiB: the batch ends there" : ""));
            nWorst = 2;
            if (bEndless) {
                ReportLineEnd(nLine);
                break;
            }
        } else if (memchr(strLine.data(), '\0', strLine.size()) != nullptr) {
            // A NUL would hide the rest of the line from the parser: the line is refused whole.
            ReportRefusal(nLine, "the line holds a NUL byte");
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
