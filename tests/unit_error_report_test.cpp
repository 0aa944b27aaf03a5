// unit_error_report_test.cpp - the reported code and the two fields of a failed result.
#include <gtest/gtest.h>

#include "error_report.h"

TEST(ReportedCode, KeepsTheFailureBitUpToCode29AndDropsItFrom30)
{
    struct {
        uint32_t nResult;
        uint32_t nReported;
        uint32_t nUpper;
        uint32_t nMiddle;
    } aCases[] = {
        {0x8000000Bu, 0x8000000Bu, 0, 0},      {0x8000120Bu, 0x8000000Bu, 0, 18},
        {0x8180C82Fu, 0x2Fu, 3, 200},          {0x8000001Du, 0x8000001Du, 0, 0},
        {0x8000001Eu, 0x1Eu, 0, 0},            {0xFFFFFFFFu, 0xFFu, 255, 0x7FFF},
        {0x80800C0Cu, 0x8000000Cu, 1, 12},     {0x80000000u, 0x80000000u, 0, 0},
        {0x0000000Bu, 0x0000000Bu, 0, 0},      {0x00000011u, 0x00000011u, 0, 0},
        {0x0000112Fu, 0x2Fu, 0, 0x11},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.nResult);
        EXPECT_EQ(ReportedCode((KYN_RESULT)c.nResult), c.nReported);
        EXPECT_EQ(UpperField((KYN_RESULT)c.nResult), c.nUpper);
        EXPECT_EQ(MiddleField((KYN_RESULT)c.nResult), c.nMiddle);
    }
}
