// report.cpp - the text and the JSON form of every record a script's run shows, side by side, so that
// a new record is one pair of forms here and the run's code never asks which form was chosen.
#include "report.h"

#include <stdarg.h>
#include <stdio.h>

#include "error_report.h"
#include "options.h"
#include "printable.h"
#include "register_map.h"
#include "screen.h"

namespace {

bool g_bJson = false;
// A batch line's last JSON record so far, held until the next one or the line's end, which marks it.
std::string g_strHeld;
bool g_bHeldLogged = false;

void Write(const std::string &strText, bool bLog)
{
    if (bLog)
        LogPrintF("%s", strText.c_str());
    ShowResultLine("%s", strText.c_str());
}

// A line on standard output, and in the log where the caller's log has no line of its own for it.
// A batch line's records in JSON are held one back: the last of a line gets its end mark.
void Emit(std::string strText, bool bLog, int nLine = 0)
{
    if (!g_bJson || nLine <= 0) {
        Write(strText, bLog);
        return;
    }
    if (!g_strHeld.empty())
        Write(g_strHeld, g_bHeldLogged);
    g_strHeld = std::move(strText);
    g_bHeldLogged = bLog;
}

std::string Format(const char *pszFormat, ...) DUZE_PRINTF(1, 2);
std::string Format(const char *pszFormat, ...)
{
    char szLine[512];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    return szLine;
}

// The bits set, "3,8", or "none".
std::string Bits(uint32_t nBits)
{
    std::string strBits;
    for (int i = 0; i < 32; ++i)
        if ((nBits >> i) & 1)
            strBits += (strBits.empty() ? "" : ",") + std::to_string(i);
    return strBits.empty() ? "none" : strBits;
}

// A hex dump's JSON record holds at most this many bytes (a configuration space's 4 KiB): a larger
// dump is several records, each with its start.
const size_t kHexRecordBytes = 4096;

// The hex dump under way: its bytes, for the JSON record written at its end.
struct HexDumpState {
    int nLine = 0;
    bool bBridge = false;
    std::string strHeader;
    uint32_t nStart = 0;
    std::vector<int> anBytes;
    std::string strText;
};
HexDumpState g_hex;

} // namespace

void ChooseReport(ReportForm eForm)
{
    g_bJson = eForm == kJsonReport;
}

void ReportAccess(AccessRecord &record, const std::vector<const MapRegister *> &apRegisters, bool bFields)
{
    bool bFailed = record.nResult < 0;
    if (g_bJson) {
        // A failed access has no value for the map's fields to describe: its register's name alone.
        if (!apRegisters.empty() && !bFailed)
            NameAccess(record, *apRegisters[0]);
        else if (!apRegisters.empty())
            record.strName = apRegisters[0]->strName;
        Emit(AccessJson(record) + "\n", record.nLine > 0, record.nLine);
        return;
    }
    bool bBatch = record.nLine > 0;
    if (bFailed) {
        if (bBatch)
            Emit("error: line " + std::to_string(record.nLine) + ": " + record.strError + "\n", true);
        return;
    }
    if (record.nWidth == 64 && !record.bWrite)
        Emit(Format("0x%.8X%.8X\n", (unsigned)(record.nValue >> 32), (unsigned)record.nValue), bBatch);
    else if (!record.bWrite)
        Emit(Format("0x%.*X\n", record.nWidth / 4, (unsigned)record.nValue), bBatch);
    else if (bBatch)
        Emit("ok\n", true);
    for (size_t i = 0; bFields && i < apRegisters.size(); ++i)
        Emit(DescribeRegister(*apRegisters[i], record.nValue, record.bWrite), bBatch);
}

void ReportRefusal(int nLine, const std::string &strWhy)
{
    if (nLine > 0)
        Emit((g_bJson ? LineErrorJson(nLine, Printable(strWhy)) : "error: line " + std::to_string(nLine) + ": " + Printable(strWhy)) +
                 "\n",
             true, nLine);
}

void ReportSleep(int nLine, uint32_t nMilliseconds)
{
    if (nLine > 0)
        Emit(g_bJson ? SleepJson(nLine, nMilliseconds) + "\n" : "ok\n", true, nLine);
}

void ReportDecode(int nLine, uint32_t nCode)
{
    KYN_RESULT nResult = (KYN_RESULT)nCode;
    if (nResult >= 0) {
        Emit(g_bJson ? DecodeJson(nCode, "", false, "", nLine) + "\n"
                     : Format("0x%.8X is no failure: results of 0 and above are successes\n", (unsigned)nCode),
             true, nLine);
        return;
    }
    std::string strReported = Format("%#lX [%d.%d]", (unsigned long)ReportedCode(nResult), (int)UpperField(nResult),
                                     (int)MiddleField(nResult));
    Emit(g_bJson ? DecodeJson(nCode, strReported, true, LibraryText(nResult), nLine) + "\n"
                 : strReported + ": " + LibraryText(nResult) + "\n",
         true, nLine);
}

void ReportList(int nLine, const std::vector<std::string> &aLines,
                const std::vector<std::vector<std::pair<std::string, std::string>>> &aListed)
{
    if (g_bJson) {
        for (const auto &listed : aListed)
            Emit(ListedJson(listed, nLine) + "\n", true, nLine);
        return;
    }
    for (const std::string &strLine : aLines)
        Emit(strLine + "\n", true);
}

void ReportName(int nLine, bool bBridge, const std::string &strName)
{
    Emit(g_bJson ? NameJson(nLine, bBridge, Printable(strName)) + "\n" : Printable(strName) + "\n", false, nLine);
}

void ReportDump(const DumpRecord &record)
{
    if (g_bJson) {
        Emit(DumpJson(record) + "\n", true, record.nLine);
        return;
    }
    const char *pszDevice = record.bBridge ? "Plx" : "Brd";
    const std::string kNotOnBoard = "not on the board: ";
    if (record.nResult < 0) {
        if (record.nLine > 0)
            Emit("error: line " + std::to_string(record.nLine) + ": " + record.strError + "\n", true);
    } else if (record.strSkipped.compare(0, kNotOnBoard.size(), kNotOnBoard) == 0) {
        Emit(Format("SVD address 0x%llX not on the board  ", (unsigned long long)record.nSvdAddress) + record.strName + ": " +
                 record.strSkipped.substr(kNotOnBoard.size()) + "\n",
             true);
    } else if (!record.bRead) {
        Emit(Format("%s Address 0x%X not read  ", pszDevice, (unsigned)record.nAddress) + record.strName + ": " +
                 record.strSkipped + "\n",
             true);
    } else {
        int nDigits = record.nBits <= 8 ? 2 : record.nBits <= 16 ? 4 : record.nBits <= 32 ? 8 : 16;
        std::string strReset = record.bReset ? Format(" (reset 0x%.*llX)", nDigits, (unsigned long long)record.nReset) : "";
        Emit(Format("%s Address 0x%X = 0x%.*llX", pszDevice, (unsigned)record.nAddress, nDigits,
                    (unsigned long long)record.nValue) + strReset + record.strFields,
             true);
    }
}

void ReportHexBegin(int nLine, bool bBridge, const std::string &strHeader, uint32_t nStart)
{
    g_hex = HexDumpState();
    g_hex.nLine = nLine;
    g_hex.bBridge = bBridge;
    g_hex.strHeader = strHeader;
    g_hex.nStart = nStart;
    if (!g_bJson)
        Emit(strHeader + "\n", true);
}

void ReportHexLine(uint32_t nOffset, const std::vector<int> &anBytes)
{
    if (g_bJson) {
        // A large dump is several records of at most kHexRecordBytes each: memory stays bounded.
        if (g_hex.anBytes.size() >= kHexRecordBytes) {
            Emit(HexdumpJson(g_hex.nLine, g_hex.bBridge, g_hex.strHeader, g_hex.nStart, g_hex.anBytes) + "\n", true, g_hex.nLine);
            g_hex.nStart += (uint32_t)g_hex.anBytes.size();
            g_hex.anBytes.clear();
        }
        g_hex.anBytes.insert(g_hex.anBytes.end(), anBytes.begin(), anBytes.end());
        return;
    }
    std::string strLine = Format("%02x:", (unsigned)nOffset);
    for (int nByte : anBytes)
        strLine += nByte < 0 ? " --" : Format(" %02x", (unsigned)nByte);
    Emit(strLine + "\n", true);
}

void ReportHexEnd(bool bWhole)
{
    if (g_bJson)
        Emit(HexdumpJson(g_hex.nLine, g_hex.bBridge, g_hex.strHeader, g_hex.nStart, g_hex.anBytes) + "\n", true, g_hex.nLine);
    else if (bWhole)
        Emit("\n", true);
    g_hex = HexDumpState();
}

void ReportMismatch(int nLine, const char *pszPattern, uint32_t nPass, uint32_t nAddress, uint32_t nExpected, uint32_t nRead)
{
    if (g_bJson) {
        Emit(MismatchJson(pszPattern, nPass, nAddress, nExpected, nRead, nLine) + "\n", false, nLine);
        return;
    }
    Emit(Format("mismatch: %s pass %u address 0x%X expected 0x%.8X read 0x%.8X xor 0x%.8X bits %s\n", pszPattern, (unsigned)nPass,
                (unsigned)nAddress, (unsigned)nExpected, (unsigned)nRead, (unsigned)(nRead ^ nExpected),
                Bits(nRead ^ nExpected).c_str()),
         false);
}

void ReportMemtest(int nLine, const MemtestSummary &summary)
{
    if (g_bJson) {
        Emit(MemtestJson(summary.nStart, summary.nLength, summary.aPatterns, summary.nPasses, summary.nMismatches,
                         summary.nStuckHigh, summary.nStuckLow, summary.nAliasBits, nLine) +
                 "\n",
             false, nLine);
        return;
    }
    std::string strPatterns;
    for (const std::string &strName : summary.aPatterns)
        strPatterns += (strPatterns.empty() ? "" : ",") + strName;
    Emit(Format("memtest: 0x%X bytes from 0x%X, patterns ", (unsigned)summary.nLength, (unsigned)summary.nStart) + strPatterns +
             Format(", %u pass%s: %llu mismatch%s; stuck high: bits %s; stuck low: bits %s; aliased address bits: %s\n",
                    (unsigned)summary.nPasses, summary.nPasses == 1 ? "" : "es", (unsigned long long)summary.nMismatches,
                    summary.nMismatches == 1 ? "" : "es", Bits(summary.nStuckHigh).c_str(), Bits(summary.nStuckLow).c_str(),
                    Bits(summary.nAliasBits).c_str()),
         false);
}

void ReportLineEnd(int nLine)
{
    if (!g_bJson)
        return;
    bool bLog = g_strHeld.empty() || g_bHeldLogged;
    if (g_strHeld.empty())
        g_strHeld = NoneJson(nLine) + "\n";
    // The mark before the record's closing brace and its line end.
    g_strHeld.resize(g_strHeld.size() - 2);
    g_strHeld += ",\"end\":true}\n";
    Write(g_strHeld, bLog);
    g_strHeld.clear();
}

void ReportOpenFailure(KYN_RESULT nResult)
{
    if (g_bJson)
        Write(OpenFailureJson(g_toolOptions.nBoardType, g_toolOptions.nBoardNumber, nResult, LibraryText(nResult)) + "\n", false);
}

std::string CompareLine(const CompareRecord &record)
{
    if (g_bJson)
        return CompareJson(record);
    std::string strLine = record.nBar >= 0 ? Format("BAR%d 0x%08X: 0x%08X -> 0x%08X", record.nBar, (unsigned)record.nAddress,
                                                    (unsigned)record.nBefore, (unsigned)record.nAfter)
                                           : Format("config 0x%03X: 0x%08X -> 0x%08X", (unsigned)record.nAddress,
                                                    (unsigned)record.nBefore, (unsigned)record.nAfter);
    if (record.pRegister == nullptr)
        return strLine;
    // The fields whose values differ: "EN=0->1 MODE=0x2->0x3 (A->B)".
    std::string strFields;
    std::vector<FieldValue> aBefore = MapFieldValues(*record.pRegister, record.nBefore);
    std::vector<FieldValue> aAfter = MapFieldValues(*record.pRegister, record.nAfter);
    for (size_t i = 0; i < aBefore.size(); ++i) {
        const MapField &field = *aBefore[i].pField;
        uint64_t nOld = aBefore[i].nValue, nNew = aAfter[i].nValue;
        if (field.nLsb >= 32 || nOld == nNew)
            continue;
        strFields += (strFields.empty() ? "" : " ") + field.strName + "=" +
                     Format(field.nWidth == 1 ? "%llu->%llu" : "0x%llX->0x%llX", (unsigned long long)nOld, (unsigned long long)nNew);
        const std::string &strOld = aBefore[i].strEnum, &strNew = aAfter[i].strEnum;
        if (!strOld.empty() || !strNew.empty())
            strFields += " (" + (strOld.empty() ? "?" : strOld) + "->" + (strNew.empty() ? "?" : strNew) + ")";
    }
    return strLine + "  " + record.pRegister->strName + (strFields.empty() ? "" : ": " + strFields);
}
