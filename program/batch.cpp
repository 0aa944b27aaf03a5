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
#include "error_report.h"
#include "json_records.h"
#include "memtest_job.h"
#include "number_entry.h"
#include "options.h"
#include "printable.h"
#include "register_access.h"
#include "register_map.h"
#include "screen.h"

namespace {

// A line longer than this is no command; the rest of it is read and dropped.
const size_t kBatchLineMax = 4096;

// The batch's verbs, each the key of the command it stands for; sleep apart.
struct BatchVerb {
    const char *pszVerb;
    char cKey;
};
const BatchVerb g_aVerbs[] = {
    {"read", 'R'},  {"read16", 'i'},  {"read8", 'r'},  {"write", 'W'}, {"write16", 'o'},
    {"write8", 'w'}, {"bridge-read", 'p'}, {"bridge-write", 'S'},
};

// One answer: on standard output at once, and in the log when one is named.
void Answer(const std::string &strLine)
{
    LogPrintF("%s\n", strLine.c_str());
    ShowResultLine("%s\n", strLine.c_str());
    // Held text goes to the system now: the program at the other end waits for this answer.
    LetInterruptsAct();
}

void AnswerLineError(int nLine, const std::string &strWhy)
{
    Answer(g_toolOptions.bJson ? LineErrorJson(nLine, Printable(strWhy)) : "error: line " + std::to_string(nLine) + ": " + Printable(strWhy));
}

// A failed access's answer: its record, or its line's error with the library's text.
void AnswerFailedAccess(const AccessRecord &record)
{
    Answer(g_toolOptions.bJson ? AccessJson(record) : "error: line " + std::to_string(record.nLine) + ": " + record.strError);
}

// One line: its worst outcome (0, 1 a failed access, 2 a line that is no command).
int RunLine(int nLine, const std::string &strLine, const BoardHandles &devices)
{
    size_t nSpace = strLine.find_first_of(" \t");
    std::string strVerb = strLine.substr(0, nSpace);
    std::string strArgument = nSpace == std::string::npos ? "" : strLine.substr(strLine.find_first_not_of(" \t", nSpace));
    if (strVerb == "sleep") {
        uint32_t nMilliseconds = 0;
        if (!ParseStrictNumber(strArgument.c_str(), 86400000u, &nMilliseconds)) {
            AnswerLineError(nLine, "'" + strArgument + "' is not a number of milliseconds (at most a day)");
            return 2;
        }
        OsaThreadSleep((int32_t)nMilliseconds);
        Answer(g_toolOptions.bJson ? SleepJson(nLine, nMilliseconds) : "ok");
        return 0;
    }
    if (strVerb == "memtest") {
        // START:LENGTH, both multiples of 4: the memory test job's records, its summary the answer.
        size_t nColon = strArgument.find(':');
        uint32_t nStart = 0, nLength = 0;
        if (nColon == std::string::npos || !ParseStrictNumber(strArgument.substr(0, nColon).c_str(), 0xFFFFFFFFu, &nStart) ||
            !ParseStrictNumber(strArgument.substr(nColon + 1).c_str(), 0xFFFFFFFFu, &nLength) || nStart % 4 != 0 ||
            nLength % 4 != 0 || nLength == 0 || (uint64_t)nStart + nLength > 0x100000000ull) {
            AnswerLineError(nLine, "'" + strArgument + "' is not START:LENGTH, multiples of 4 within 32 bits");
            return 2;
        }
        g_toolOptions.nMemStart = nStart;
        g_toolOptions.nMemLength = nLength;
        AccessRecord failed;
        int nStatus = RunMemtestJob(devices, &failed);
        if (nStatus == 1) {
            // An access of the test failed: answered as any failed access, and the batch goes on.
            failed.nLine = nLine;
            AnswerFailedAccess(failed);
        }
        LetInterruptsAct();
        return nStatus;
    }
    const BatchVerb *pVerb = nullptr;
    for (const BatchVerb &verb : g_aVerbs)
        if (strVerb == verb.pszVerb)
            pVerb = &verb;
    if (pVerb == nullptr) {
        AnswerLineError(nLine, "'" + strVerb + "' is none of read, read16, read8, write, write16, write8, bridge-read, "
                               "bridge-write, memtest, sleep");
        return 2;
    }
    OneShotAccess access;
    std::string strWhy;
    if (!ParseAccessText(pVerb->cKey, strArgument.c_str(), access, strWhy) || access.bMasked || access.nValueHigh != 0) {
        AnswerLineError(nLine, strWhy.empty() ? "'" + strArgument + "': a batch writes whole registers of 32 bits at most"
                                              : "'" + strArgument + "': " + strWhy);
        return 2;
    }
    const Command &command = *FindCommand(access.cKey);
    bool bBridge = command.eDevice == kBridge;
    const RegisterMap *pMap = RunMap(bBridge);
    const MapRegister *pRegister = nullptr;
    if (!access.strName.empty()) {
        std::vector<const MapRegister *> apCandidates;
        pRegister = pMap != nullptr ? FindMapRegisterByName(*pMap, access.strName, &apCandidates) : nullptr;
        if (pRegister == nullptr || !pRegister->bOnBoard) {
            AnswerLineError(nLine, pMap == nullptr             ? "'" + access.strName + "' is no number, and no map names registers"
                                   : !apCandidates.empty()    ? AmbiguousName(access.strName, apCandidates)
                                   : pRegister == nullptr     ? "No register " + access.strName + " in the map"
                                                              : "Register " + pRegister->strName + " is not on the board");
            return 2;
        }
        access.nAddress = pRegister->nAddress;
    } else if (pMap != nullptr) {
        pRegister = FindMapRegister(*pMap, access.nAddress);
    }
    KYN_HANDLE hDevice = bBridge ? devices.hBridge : devices.hBoard;
    AccessRecord record;
    AccessOf(command, access.nAddress, access.nValue, record);
    record.nLine = nLine;
    if (hDevice != 0)
        RunRegisterAccess(hDevice, record);
    else
        record.nResult = -1;
    // A failed access has no value for the map's fields to describe: its register's name alone.
    if (pRegister != nullptr && record.nResult >= 0)
        NameAccess(record, *pRegister);
    else if (pRegister != nullptr)
        record.strName = pRegister->strName;
    if (record.nResult < 0)
        record.strError = hDevice != 0 ? LibraryText(record.nResult) : "No Plx device on this board";
    if (record.nResult < 0) {
        AnswerFailedAccess(record);
    } else if (g_toolOptions.bJson) {
        Answer(AccessJson(record));
    } else {
        char szValue[32];
        snprintf(szValue, sizeof szValue, "0x%.*X", command.nWidth / 4, (unsigned)record.nValue);
        Answer(record.bWrite ? std::string("ok") : std::string(szValue));
    }
    return record.nResult < 0 ? 1 : 0;
}

} // namespace

int RunBatch(const BoardHandles &devices)
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
            AnswerLineError(nLine, "the line is longer than " + std::to_string(kBatchLineMax) + " characters");
            nWorst = 2;
        } else {
            while (!strLine.empty() && isspace((unsigned char)strLine.back()))
                strLine.pop_back();
            size_t nStart = strLine.find_first_not_of(" \t");
            strLine = nStart == std::string::npos ? "" : strLine.substr(nStart);
            if (strLine.empty() || strLine[0] == '#')
                continue;
            int nStatus = RunLine(nLine, strLine, devices);
            nWorst = nStatus > nWorst ? nStatus : nWorst;
        }
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
