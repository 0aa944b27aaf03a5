// report.h - the one owner of what a script's run shows on standard output: each kind of record in
// its text form or as a JSON line, the form chosen once at the start. Nothing outside asks which.
// A batch's answers also go to the log; an option's result lines go to the log only where the
// command it stands for has no lines of its own there (a dump, a list, a decoding).
#ifndef DUZE_REPORT_H
#define DUZE_REPORT_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "json_records.h"
#include "options.h"
#include "register_access.h"

struct MapRegister;

// Text, or JSON Lines (--json): once, before anything is shown.
void ChooseReport(ReportForm eForm);

// An access that ran. Text: a read's value, a batch's write "ok", with --fields each register's
// line; a failure a batch's "error: line N: ..." (an option's error line is the run's end's to
// show). JSON: its record, named from apRegisters' first.
void ReportAccess(AccessRecord &record, const std::vector<const MapRegister *> &apRegisters, bool bFields);
// A line or an option that could not run, and why: for an option in text the caller shows why.
void ReportRefusal(int nLine, const std::string &strWhy);
void ReportSleep(int nLine, uint32_t nMilliseconds);
void ReportDecode(int nLine, uint32_t nCode);
// A list (--list): its lines of text, or each item's fields by name.
void ReportList(int nLine, const std::vector<std::string> &aLines,
                const std::vector<std::vector<std::pair<std::string, std::string>>> &aListed);
void ReportName(int nLine, bool bBridge, const std::string &strName);
// A register of a dump: read, skipped (strSkipped; "not on the board: ..." for one off the board) or
// failed (nResult); its fields' line as DescribeRegister gives it.
void ReportDump(const DumpRecord &record);
// A hex dump: its header, then each 16 bytes' line (-1 a byte not read), then its end: in text the
// blank line where it was whole; in JSON a record of the bytes read for every 4 KiB of them.
void ReportHexBegin(int nLine, bool bBridge, const std::string &strHeader, uint32_t nStart);
void ReportHexLine(uint32_t nOffset, const std::vector<int> &anBytes);
void ReportHexEnd(bool bWhole);
// A memory test's word that read back wrong, and its summary.
void ReportMismatch(int nLine, const char *pszPattern, uint32_t nPass, uint32_t nAddress, uint32_t nExpected, uint32_t nRead);
struct MemtestSummary {
    uint32_t nStart = 0, nLength = 0, nPasses = 1;
    std::vector<std::string> aPatterns;
    uint64_t nMismatches = 0;
    uint32_t nStuckHigh = 0, nStuckLow = 0, nAliasBits = 0;
};
void ReportMemtest(int nLine, const MemtestSummary &summary);
// A register two board images differ in: its line, text or JSON, for the comparison to print.
std::string CompareLine(const CompareRecord &record);
// A batch line's end, blank and comment lines too: in JSON its last record carries "end": true (a
// line without one gets a record of its own), so that a client reads each answer to its end.
void ReportLineEnd(int nLine);
// The board of the options did not open: in JSON its record, before the error line.
void ReportOpenFailure(KYN_RESULT nResult);

#endif
