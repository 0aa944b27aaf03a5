// board_table.cpp - the board types the tool knows: code, option letter, opening message, usage line,
// bridge and CPLD. A new board type is one row here (and its device in the simulated library).
#include "board_table.h"

// The usage text lists the types in its own two orders: its lines, and the letters of its /T line.
// Letter 1 is accepted but not shown; code 75 has letter F, which is the tool's own choice.
const BoardType g_aBoardTypeTable[] = {
    {6, '2', "Opening Vesk-2-PCI board\n", "Vesk-2-PCI Board", 1, 1, true, true},
    {7, 'M', "Opening Vesk-2-PCMCIA board\n", "Vesk-2-PCMCIA Board", 8, 7, true, false},
    {30, '8', "Opening Vesk-8-PCI board\n", "Vesk-8-PCI Board", 5, 4, true, true},
    {32, '9', "Opening Zimbro-PCI board\n", "Zimbro-PCI Board", 2, 10, true, true},
    {33, 'G', "Opening Sondo-16-PCI-Plus board\n", "Sondo-16-PCI-Plus Board", 10, 9, true, true},
    {35, 'B', "Opening Vesk-1-PCI-Basic board\n", "Vesk-1-PCI-Basic Board", 0, 0, true, true},
    {39, 'P', "Opening Vesk-8-PCI-Plus board\n", "Vesk-8-PCI-Plus Board", 6, 5, true, true},
    {40, 'T', "Opening Vesk-2-PCI-Plus board\n", "Vesk-2-PCI-Plus Board", 3, 2, true, true},
    {41, 'S', "Opening Carvanel board\n", "Carvanel Board", 9, 8, true, true},
    {45, '4', "Opening Vesk-4-PCI-Plus board\n", "Vesk-4-PCI-Plus Board", 7, 6, true, true},
    {46, '1', "Opening Vesk-1-PCI-Plus board\n", nullptr, -1, -1, true, true},
    {47, 'A', "Opening Lisk-6x6-PCI-Plus board\n", "Lisk-6-PCI-Plus Board", 15, 15, true, true},
    {48, 'J', "Opening Lisk-6x6-PCI board\n", "Lisk-6-PCI Board", 16, 16, true, true},
    {53, 'H', "Opening Nolva-2-PC104 board\n", "Nolva-2-PC104 Board", 14, 14, true, true},
    {54, '3', "Opening Sondo-16-PCI-Basic-32 board\n", "Sondo-16-PCI-Basic_32 Board", 12, 12, true, true},
    {55, '6', "Opening Sondo-16-PCI-Basic-64 board\n", "Sondo-16-PCI-Basic_64 Board", 13, 13, true, true},
    {57, 'E', "Opening Vesk-2-PCI-Express board\n", "Vesk-2-PCI-Express Board", 4, 3, true, true},
    {60, 'C', "Opening Vesk-2-ExpressCard board\n", "Vesk-2-ExpressCard Board", 17, 17, true, true},
    {61, 'R', "Opening Vesk-4-ExpressCard board\n", "Vesk-4-ExpressCard Board", 18, 18, true, true},
    {67, 'V', "Opening DMP Dravo (hosted DMP)\n", "Dravo-DMP (hosted DMP)", 24, 24, false, true},
    {68, 'D', "Opening Dravo-PCI-Express board\n", "Dravo-PCI-Express Board", 19, 19, true, true},
    {69, 'I', "Opening Dravo-4-CSI board\n", "Dravo-4-CSI Board", 20, 20, false, true},
    {70, 'K', "Opening Dravo-4M-CSI board\n", "Dravo-4M-CSI Board", 21, 21, false, true},
    {71, 'X', "Opening Dravo-8-CSI board\n", "Dravo-8-CSI Board", 22, 22, false, true},
    {72, 'Q', "Opening Dravo-8M-CSI board\n", "Dravo-8M-CSI Board", 23, 23, false, true},
    {75, 'F', "Opening Sondo-16-PCIe board\n", "Sondo-16-PCIe Board", 11, 11, true, true},
};

const int g_nBoardTypeCount = (int)(sizeof g_aBoardTypeTable / sizeof g_aBoardTypeTable[0]);

const BoardType *FindBoardType(int32_t nCode)
{
    for (const BoardType &type : g_aBoardTypeTable)
        if (type.nCode == nCode)
            return &type;
    return nullptr;
}

const BoardType *FindBoardLetter(char cLetter)
{
    for (const BoardType &type : g_aBoardTypeTable)
        if (cLetter != '\0' && type.cLetter == cLetter)
            return &type;
    return nullptr;
}

const BoardType *BoardAtUsageLine(int nPlace)
{
    for (const BoardType &type : g_aBoardTypeTable)
        if (type.nUsageLine == nPlace)
            return &type;
    return nullptr;
}

const BoardType *BoardAtLetterListPlace(int nPlace)
{
    for (const BoardType &type : g_aBoardTypeTable)
        if (type.nLetterListPlace == nPlace)
            return &type;
    return nullptr;
}
