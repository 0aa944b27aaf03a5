// memtest_job.cpp - the memory test as a job: each pattern of --patterns written over the range and read
// back, --passes times; each mismatch a record (address, expected, read, their XOR, the bad bits);
// a summary naming data bits stuck high or low in every mismatch and address bits whose words alias;
// a JUnit report for CI servers. The interactive M command is not this: its transcripts stay.
#include "memtest_job.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "command_table.h"
#include "duze_limits.h"
#include "error_report.h"
#include "options.h"
#include "printable.h"
#include "progress_line.h"
#include "register_access.h"
#include "report.h"
#include "screen.h"
#include "tool_host.h"

namespace {

// The patterns, in the order --help lists them: each word's value from its index and address.
enum PatternKind { kAddress, kAddressInverse, kWalkingOnes, kWalkingZeros, kCheckerboard, kSolid, kRandom };
struct Pattern {
    const char *pszName;
    PatternKind eKind;
};
const Pattern g_aPatterns[] = {
    {"address", kAddress},           {"address-inverse", kAddressInverse}, {"walking-ones", kWalkingOnes},
    {"walking-zeros", kWalkingZeros},
    {"checkerboard", kCheckerboard}, {"solid", kSolid},              {"random", kRandom},
};


struct Mismatch {
    uint32_t nAddress, nExpected, nRead;
};

// A word's value: the pattern at word nIndex (address nAddress), in sub-pass nHalf (checkerboard and
// solid write each value and its inverse), with the run's seed.
uint32_t Expected(PatternKind eKind, uint64_t nIndex, uint32_t nAddress, int nHalf, uint32_t nSeed)
{
    switch (eKind) {
    case kAddress:
        return nAddress;
    case kAddressInverse:
        return ~nAddress;
    case kWalkingOnes:
        return 1u << (nIndex % 32);
    case kWalkingZeros:
        return ~(1u << (nIndex % 32));
    case kCheckerboard:
        return ((nIndex & 1) != 0) != (nHalf != 0) ? 0xAAAAAAAAu : 0x55555555u;
    case kSolid:
        return nHalf != 0 ? 0u : 0xFFFFFFFFu;
    case kRandom: {
        // xorshift32 of the seed and the word: the read pass recomputes it, nothing is stored.
        uint32_t x = nSeed ^ (uint32_t)(nIndex * 0x9E3779B9u) ^ 0xA5A5A5A5u;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    }
    }
    return 0;
}

std::string Hex(uint32_t nValue)
{
    char szHex[16];
    snprintf(szHex, sizeof szHex, "0x%.8X", (unsigned)nValue);
    return szHex;
}

// What XML text may not hold as it is.
std::string XmlEscaped(const std::string &strText)
{
    std::string strOut;
    for (char c : strText)
        strOut += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
    return strOut;
}

struct CaseResult {
    std::string strName;
    uint64_t nMismatches = 0;
    std::vector<Mismatch> aFirst;
};

} // namespace

bool ParsePatterns(const std::string &strList, std::vector<std::string> &aNames, std::string &strWhy)
{
    aNames.clear();
    for (size_t nStart = 0; nStart <= strList.size();) {
        size_t nComma = strList.find(',', nStart);
        std::string strName = strList.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart);
        bool bKnown = false;
        std::string strNames;
        for (const Pattern &pattern : g_aPatterns) {
            bKnown = bKnown || strName == pattern.pszName;
            strNames += (strNames.empty() ? "" : ", ") + std::string(pattern.pszName);
        }
        if (!bKnown) {
            strWhy = "'" + strName + "' is none of " + strNames;
            return false;
        }
        aNames.push_back(strName);
        nStart = nComma == std::string::npos ? strList.size() + 1 : nComma + 1;
    }
    return true;
}

namespace {

// The patterns --patterns named; where it named none, each word's address and then its inverse: a
// memory that keeps nothing and answers each address with itself passes the first alone.
std::vector<const Pattern *> ChosenPatterns()
{
    std::vector<const Pattern *> apChosen;
    for (const std::string &strName : g_toolOptions.aPatterns)
        for (const Pattern &pattern : g_aPatterns)
            if (strName == pattern.pszName)
                apChosen.push_back(&pattern);
    if (apChosen.empty())
        apChosen = {&g_aPatterns[0], &g_aPatterns[1]};
    return apChosen;
}

// A failed access of the test: its record left for the caller, which reports it.
int AccessFailed(const RegisterAccess &access, AccessRecord &failed)
{
    ProgressEnd();
    static_cast<RegisterAccess &>(failed) = access;
    failed.strError = LibraryText(access.nResult);
    return 1;
}

} // namespace

namespace {

// What the passes found, for the summary and the report: every mismatch counted, the first kept.
struct Tally {
    std::vector<CaseResult> aCases;
    uint64_t nAll = 0;
    uint32_t nDiffered = 0, nReadOne = 0xFFFFFFFFu, nReadZero = 0xFFFFFFFFu, nAliasAll = 0xFFFFFFFFu;
    bool bAliased = false;
    uint64_t nProgress = 0;
};

// A word that read back wrong: its record and log line, and what it says of stuck and aliased bits.
void CountMismatch(const Operation &op, const Pattern &pattern, uint32_t nPass, uint32_t nAddress, uint32_t nExpected,
                   uint32_t nRead, CaseResult &result, Tally &tally)
{
    ++tally.nAll;
    ++result.nMismatches;
    tally.nDiffered |= nRead ^ nExpected;
    tally.nReadOne &= nRead;
    tally.nReadZero &= ~nRead;
    // A word that reads another word's address (the address pattern): those address bits alias.
    if (pattern.eKind == kAddress && nRead != nAddress && (nRead & 3) == 0 && nRead - op.nStart < op.nLength) {
        tally.nAliasAll &= nRead ^ nAddress;
        tally.bAliased = true;
    }
    if (result.aFirst.size() < 100)
        result.aFirst.push_back({nAddress, nExpected, nRead});
    ReportMismatch(op.nLine, pattern.pszName, nPass, nAddress, nExpected, nRead);
    LogPrintF("Memory error at Address 0x%X   (nReadVal(0x%X) != nWriteVal(0x%X))\n", (unsigned)nAddress, (unsigned)nRead,
              (unsigned)nExpected);
}

// One pattern's pass: every word written, then every word read back; 1 where an access failed.
int RunPass(KYN_HANDLE hBoard, const Operation &op, const Pattern &pattern, uint32_t nPass, Tally &tally, AccessRecord &failed)
{
    const uint64_t nWords = op.nLength / 4;
    const uint32_t nSeed = g_toolOptions.nSeed + nPass;
    CaseResult result;
    result.strName = std::string(pattern.pszName) + " pass " + std::to_string(nPass);
    int nSubPasses = pattern.eKind == kCheckerboard || pattern.eKind == kSolid ? 2 : 1;
    for (int nHalf = 0; nHalf < nSubPasses; ++nHalf) {
        uint32_t nAddress = op.nStart;
        for (uint64_t i = 0; i < nWords; ++i, nAddress += 4) {
            RegisterAccess write;
            write.bWrite = true;
            write.nAddress = nAddress;
            write.nValue = Expected(pattern.eKind, i, nAddress, nHalf, nSeed);
            if (RunRegisterAccess(hBoard, write) < 0)
                return AccessFailed(write, failed);
            if ((++tally.nProgress & 4095) == 0)
                ProgressUpdate(0, tally.nProgress, (int32_t)tally.nAll);
        }
        nAddress = op.nStart;
        for (uint64_t i = 0; i < nWords; ++i, nAddress += 4) {
            RegisterAccess read;
            read.nAddress = nAddress;
            if (RunRegisterAccess(hBoard, read) < 0)
                return AccessFailed(read, failed);
            uint32_t nRead = (uint32_t)read.nValue;
            uint32_t nExpected = Expected(pattern.eKind, i, nAddress, nHalf, nSeed);
            if ((++tally.nProgress & 4095) == 0)
                ProgressUpdate(1, tally.nProgress, (int32_t)tally.nAll);
            if (nRead != nExpected)
                CountMismatch(op, pattern, nPass, nAddress, nExpected, nRead, result, tally);
        }
    }
    tally.aCases.push_back(result);
    return 0;
}

// The JUnit report: a test case for each pattern and pass, the first mismatches in its failure. 0, or
// 2 where the file is refused (one the run reads or writes), 255 where it cannot be written.
int WriteJunit(const char *pszFile, const Tally &tally)
{
    size_t nFailed = 0;
    for (const CaseResult &result : tally.aCases)
        nFailed += result.nMismatches != 0 ? 1 : 0;
    std::string strXml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite name=\"duzedevazu memtest\" tests=\"" +
                         std::to_string(tally.aCases.size()) + "\" failures=\"" + std::to_string(nFailed) + "\">\n";
    for (const CaseResult &result : tally.aCases) {
        strXml += "  <testcase classname=\"memtest\" name=\"" + XmlEscaped(result.strName) + "\"";
        if (result.nMismatches == 0) {
            strXml += "/>\n";
            continue;
        }
        strXml += ">\n    <failure message=\"" + std::to_string(result.nMismatches) + " words read back wrong\">";
        for (const Mismatch &mismatch : result.aFirst)
            strXml += "address " + Hex(mismatch.nAddress) + " expected " + Hex(mismatch.nExpected) + " read " +
                      Hex(mismatch.nRead) + "\n";
        strXml += "</failure>\n  </testcase>\n";
    }
    strXml += "</testsuite>\n";
    std::string strWhy;
    bool bRefused = false;
    FILE *pFile = HostCreateReport(pszFile, strWhy, &bRefused);
    bool bWritten = pFile != nullptr && fwrite(strXml.data(), 1, strXml.size(), pFile) == strXml.size();
    if (pFile != nullptr && !bWritten)
        strWhy = strerror(errno);
    if (pFile != nullptr && fclose(pFile) != 0 && bWritten) {
        strWhy = strerror(errno);
        bWritten = false;
    }
    if (bWritten)
        return 0;
    LogPrintFailureF("Error: the JUnit report %s cannot be written: %s\n", Printable(pszFile).c_str(), strWhy.c_str());
    return bRefused ? 2 : 255;
}

} // namespace

int RunMemtestJob(const BoardHandles &devices, const Operation &op, AccessRecord &failed)
{
    const std::vector<const Pattern *> apChosen = ChosenPatterns();
    int nHalves = 0;
    for (const Pattern *pPattern : apChosen)
        nHalves += pPattern->eKind == kCheckerboard || pPattern->eKind == kSolid ? 2 : 1;
    ProgressBegin(op.nLength / 4 * 2 * (uint64_t)nHalves * g_toolOptions.nMemPasses);
    Tally tally;
    for (uint32_t nPass = 1; nPass <= g_toolOptions.nMemPasses; ++nPass)
        for (const Pattern *pPattern : apChosen)
            if (RunPass(devices.hBoard, op, *pPattern, nPass, tally, failed) != 0)
                return 1;
    ProgressEnd();
    // Stuck: a bit that differed, and read 1 (or 0) in every mismatching word.
    MemtestSummary summary;
    summary.nStart = op.nStart;
    summary.nLength = op.nLength;
    summary.nPasses = g_toolOptions.nMemPasses;
    for (const Pattern *pPattern : apChosen)
        summary.aPatterns.push_back(pPattern->pszName);
    summary.nMismatches = tally.nAll;
    summary.nStuckHigh = tally.nAll != 0 ? tally.nDiffered & tally.nReadOne : 0;
    summary.nStuckLow = tally.nAll != 0 ? tally.nDiffered & tally.nReadZero : 0;
    // A data bit stuck in every mismatch is said as such, not also as an aliased address bit.
    summary.nAliasBits = tally.bAliased ? tally.nAliasAll & ~(summary.nStuckHigh | summary.nStuckLow) : 0;
    ReportMemtest(op.nLine, summary);
    LogPrintF("Memory test finished. ErrorCount=%llu\n", (unsigned long long)tally.nAll);
    if (g_toolOptions.pszJunitFile != nullptr) {
        int nStatus = WriteJunit(g_toolOptions.pszJunitFile, tally);
        if (nStatus != 0)
            return nStatus;
    }
    return tally.nAll != 0 ? 3 : 0;
}
