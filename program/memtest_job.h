// memtest_job.h - the memory test as a job (--memtest): the patterns memtester and memtest86+ users
// expect, each mismatch a record, a summary of stuck data bits and aliased address bits, JUnit XML.
#ifndef DUZE_MEMTEST_JOB_H
#define DUZE_MEMTEST_JOB_H

#include <string>
#include <vector>

#include "options.h"

struct BoardHandles;

// A pattern list as --patterns takes it (address,walking-ones,...), its names in aNames: false with why
// where a name is none of them.
bool ParsePatterns(const std::string &strList, std::vector<std::string> &aNames, std::string &strWhy);
struct AccessRecord;

// Runs the job over the operation's range with the options record's patterns, passes and seed: 0, or
// 3 where any word read back wrong, 2 or 255 where its JUnit report was refused or not written. An
// access that fails ends the test: its record is left in failed for the caller, and 1 returned.
int RunMemtestJob(const BoardHandles &devices, const Operation &op, AccessRecord &failed);

#endif
