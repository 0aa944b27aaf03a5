// unit_output_test.cpp - the reported code and the two fields of a failed result; the board-type table.
#include <gtest/gtest.h>

#include "board_table.h"
#include "error_report.h"
#include "sim_internal.h"

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

// Every code of the table is found, and no other: a lookup past the table's end shows in the
// sanitizer suite. The simulated driver knows the same types, with the same bridges and CPLDs,
// and every usage place is taken once.
TEST(BoardTypeTable, FindsEveryTypeAndNoOtherAndTheSimulatedDriverKnowsTheSame)
{
    for (int i = 0; i < g_nBoardTypeCount; ++i) {
        const BoardType &type = g_aBoardTypeTable[i];
        EXPECT_EQ(FindBoardType(type.nCode), &type);
        EXPECT_EQ(FindBoardLetter(type.cLetter), &type);
        if (type.pszUsageName != nullptr) {
            EXPECT_EQ(BoardAtUsageLine(type.nUsageLine), &type);
            EXPECT_EQ(BoardAtLetterListPlace(type.nLetterListPlace), &type);
        }
        const SimBoardType *pSim = nullptr;
        for (size_t j = 0; j < g_nSimBoardTypeCount; ++j)
            if ((int32_t)g_aSimBoardTypes[j].nCode == type.nCode)
                pSim = &g_aSimBoardTypes[j];
        ASSERT_NE(pSim, nullptr) << type.nCode;
        EXPECT_EQ(pSim->bBridge, type.bBridge) << type.nCode;
        EXPECT_EQ(pSim->bCpld, type.bCpld) << type.nCode;
    }
    EXPECT_EQ(g_nSimBoardTypeCount, (size_t)g_nBoardTypeCount);
    for (int32_t nCode : {0, 5, 8, 74, 76, -1, INT32_MIN})
        EXPECT_EQ(FindBoardType(nCode), nullptr) << nCode;
    for (char cLetter : {'\0', 'Z', 'L', '5', 'a'})
        EXPECT_EQ(FindBoardLetter(cLetter), nullptr) << cLetter;
}
