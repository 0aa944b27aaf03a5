// unit_board_table_test.cpp - the board-type table, and the simulated driver's agreement with it.
#include <gtest/gtest.h>

#include "board_table.h"
#include "sim_internal.h"

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
