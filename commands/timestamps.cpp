// timestamps.cpp - the t and T commands: library timestamps shown as local month, day and time.
#include "command_table.h"
#include "screen.h"
#include "number_entry.h"

// 100-ns intervals between 1601-01-01 and 1970-01-01.
static const uint64_t kEpochDifference = 116444736000000000ull;

void PrintTimestamp(uint32_t nLow, uint32_t nHigh)
{
    // A value before 1970 wraps to a count the local-time conversion refuses.
    uint64_t nSince1970 = (((uint64_t)nHigh << 32) | nLow) - kEpochDifference;
    uint64_t nSeconds = nSince1970 / 10000000u;
    const OSA_LOCAL_TIME *pTime = OsaStdLocalTime(&nSeconds);
    if (pTime == nullptr) {
        LogPrintF("Error: Invalid timestamp (before Jan 1, 1970)\n");
        return;
    }
    uint32_t nMilliseconds = (uint32_t)(nSince1970 / 10000u - nSeconds * 1000u);
    LogPrintF("%.2d-%.2d %.2d:%.2d:%.2d.%.3d ", (int)(pTime->nMonth + 1), (int)pTime->nDayOfMonth,
              (int)pTime->nHour, (int)pTime->nMinute, (int)pTime->nSecond, (int)nMilliseconds);
}

CommandOutcome ShowCurrentTime(const Command &, CommandDefaults &, const BoardHandles &)
{
    uint64_t nTime = 0;
    // A failed query leaves no time to show: 0 prints the invalid-timestamp line, never a made-up time.
    if (KynDrvGetCurrentTime(&nTime) < 0)
        nTime = 0;
    PrintTimestamp((uint32_t)nTime, (uint32_t)(nTime >> 32));
    LogPrintF("\n");
    return kGoOn;
}

// The high half is asked for first and remembered first.
CommandOutcome ShowEnteredTimestamp(const Command &, CommandDefaults &remembered, const BoardHandles &)
{
    PromptValue("Enter High 32-bit value of timestamp (0x%.8X): ", &remembered.nFirst);
    PromptValue("Enter Low 32-bit value of timestamp (0x%.8X): ", &remembered.nSecond);
    PrintTimestamp(remembered.nSecond, remembered.nFirst);
    LogPrintF("\n");
    return kGoOn;
}
