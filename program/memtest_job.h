// memtest_job.h - the memory test as a job (--memtest): the patterns memtester and memtest86+ users
// expect, each mismatch a record, a summary of stuck data bits and aliased address bits, JUnit XML.
#ifndef DUZE_MEMTEST_JOB_H
#define DUZE_MEMTEST_JOB_H

#include <string>

struct BoardHandles;

// A pattern list as --patterns takes it (address,walking-ones,...): false with why where a name is
// none of them.
bool ParsePatterns(const std::string &strList, std::string &strWhy);
struct AccessRecord;

// Runs the job of the options record: 0, or 3 where any word read back wrong. An access that fails
// ends the run as any one-shot access does (with --json its record first); with pFailed (a batch's
// line) it ends the test alone: its record is left there for the caller to answer, and 1 returned.
int RunMemtestJob(const BoardHandles &devices, AccessRecord *pFailed = nullptr);

#endif
