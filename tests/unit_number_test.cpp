// unit_number_test.cpp - number entry gives the 32-bit results of base-0 strtoul and strtol on every host.
#include <gtest/gtest.h>

#include "number.h"

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
        {"010", 8},
        {"", 0},
        {"abc", 0},
        {"  -0x10z", -16},
    };
    for (const auto &c : aCases)
        EXPECT_EQ(ConvertSigned32(c.pszText), c.nValue) << "'" << c.pszText << "'";
}
