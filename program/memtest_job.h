// memtest_job.h - the memory test as a job (--memtest): the patterns memtester and memtest86+ users
// expect, each mismatch a record, a summary of stuck data bits and aliased address bits, JUnit XML.
#ifndef DUZE_MEMTEST_JOB_H
#define DUZE_MEMTEST_JOB_H

#include <string>

struct BoardHandles;

// A pattern list as --patterns takes it (address,walking-ones,...): false with why where a name is
// none of them.
bool ParsePatterns(const std::string &strList, std::string &strWhy);
// Runs the job of the options record: 0, or 3 where any word read back wrong.
int RunMemtestJob(const BoardHandles &devices);

#endif
