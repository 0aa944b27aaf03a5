// unit_number_test.cpp - number entry gives the 32-bit results of base-0 strtoul and strtol on every host;
// the memory test's word count and error line, and the progress line's text.
#include <gtest/gtest.h>

#include "command_table.h"
#include "screen.h"
#include "progress_line.h"
#include "number_entry.h"

TEST(ConvertUnsigned32, Base0RulesWith32BitResults)
{
    struct {
        const char *pszText;
        uint32_t nValue;
    } aCases[] = {
        {"10", 10},
        {"0x10", 16},
        {"0X1f", 31},
        {"010", 8},
        {"08", 0},
        {"0", 0},
        {"", 0},
        {"   ", 0},
        {"xyz", 0},
        {"12xyz", 12},
        {"  \t42", 42},
        {"+7", 7},
        {"-1", 0xFFFFFFFFu},
        {"-0x10", 0xFFFFFFF0u},
        {"-4294967295", 1},
        {"4294967295", 0xFFFFFFFFu},
        {"4294967296", 0xFFFFFFFFu},
        {"-4294967296", 0xFFFFFFFFu},
        {"0xFFFFFFFF", 0xFFFFFFFFu},
        {"0x100000000", 0xFFFFFFFFu},
        {"99999999999999999999999999", 0xFFFFFFFFu},
        {"0x", 0},
        {"0xg", 0},
        {"0x0000000000000000001", 1},
        {"- 1", 0},
        {"--1", 0},
        {"1 2", 1},
        {"\xff" "1", 0},
    };
    for (const auto &c : aCases)
        EXPECT_EQ(ConvertUnsigned32(c.pszText), c.nValue) << "'" << c.pszText << "'";
}

TEST(ConvertSigned32, SaturatesAtTheSigned32BitLimits)
{
    struct {
        const char *pszText;
        int32_t nValue;
    } aCases[] = {
        {"1", 1},
        {"-1", -1},
        {"0x7FFFFFFF", 0x7FFFFFFF},
        {"0x80000000", 0x7FFFFFFF},
        {"4294967295", 0x7FFFFFFF},
        {"-2147483648", INT32_MIN},
        {"-0x80000000", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-99999999999999999999", INT32_MIN},
        {"-0x80000001", INT32_MIN},
        {"-0x7FFFFFFF", -0x7FFFFFFF},
        {"2147483648", 0x7FFFFFFF},
        {"0xab", 0xAB},
        {"010", 8},
        {"", 0},
        {"abc", 0},
        {"  -0x10z", -16},
    };
    for (const auto &c : aCases)
        EXPECT_EQ(ConvertSigned32(c.pszText), c.nValue) << "'" << c.pszText << "'";
}


TEST(FormatMemoryError, GivesTheBytesOfTheFormat)
{
    const uint32_t anValues[] = {0, 1, 9, 0xA, 0xF, 0x10, 0xFF, 0x100, 0xABCDEF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (uint32_t nAddress : anValues) {
        for (uint32_t nRead : anValues) {
            char szExpected[kMemoryErrorLineMax], szLine[kMemoryErrorLineMax];
            int nExpected = snprintf(szExpected, sizeof szExpected,
                                     "Memory error at Address 0x%X   (nReadVal(0x%X) != nWriteVal(0x%X))\n",
                                     (unsigned)nAddress, (unsigned)nRead, (unsigned)nAddress);
            EXPECT_EQ(FormatMemoryError(szLine, nAddress, nRead), (size_t)nExpected);
            EXPECT_STREQ(szLine, szExpected);
        }
    }
}

TEST(FormatProgress, PassPercentRateErrorsAndTimeLeftForBothPasses)
{
    struct {
        int nPass;
        uint64_t nDone, nWords;
        int32_t nErrors;
        uint32_t nElapsedMs;
        const char *pszText;
    } aCases[] = {
        {0, 4096, 16384, 0, 1000, "Writing: 25% done, 4096 words/s, 0 errors, 0:00:07 left"},
        {1, 16384, 16384, 3, 2000, "Reading back: 100% done, 16384 words/s, 3 errors, 0:00:00 left"},
        {1, 1, 3, 0, 1000, "Reading back: 33% done, 4 words/s, 0 errors, 0:00:01 left"},
        {0, 0, 1u << 30, 0, 0, "Writing: 0% done, 0 words/s, 0 errors, 0:00:00 left"},
        {0, 1000000, 1u << 30, 0, 1000, "Writing: 0% done, 1000000 words/s, 0 errors, 0:35:47 left"},
        {0, 1, 1u << 30, 0, 4000, "Writing: 0% done, 0 words/s, 0 errors, 0:00:00 left"},
        {1, 1u << 29, 1u << 30, 2147483647, 60000, "Reading back: 50% done, 26843545 words/s, 2147483647 errors, 0:00:21 left"},
        {0, 100, 36000100, 0, 1000, "Writing: 0% done, 100 words/s, 0 errors, 200:00:01 left"},
    };
    for (const auto &c : aCases) {
        char szText[128];
        EXPECT_EQ(FormatProgress(szText, sizeof szText, c.nPass, c.nDone, c.nWords, c.nErrors, c.nElapsedMs),
                  (int)strlen(c.pszText));
        EXPECT_STREQ(szText, c.pszText);
    }
}

TEST(MemoryTestWords, EveryWordThatStartsInTheRangeAndNoMore)
{
    const struct {
        uint32_t nRange;
        uint64_t nWords;
    } aCases[] = {{0, 0}, {1, 1}, {4, 1}, {5, 2}, {0x10, 4}, {0xFFFFFFF8u, 0x3FFFFFFEu}, {0xFFFFFFF9u, 0x3FFFFFFFu}, {0xFFFFFFFCu, 0x3FFFFFFFu},
                  {0xFFFFFFFDu, 0x40000000u}, {0xFFFFFFFFu, 0x40000000u}};
    for (const auto &c : aCases)
        EXPECT_EQ(MemoryTestWords(c.nRange), c.nWords) << c.nRange;
}
