// board_types.cpp - the board models the tool knows: option letter, opening message, bridge.
#include "options.h"

// Type 7 alone has no CPLD build text.
const BoardType g_aBoardTypeTable[] = {
    {6, '2', "Opening Vesk-2-PCI board\n", true, true},
    {7, 'M', "Opening Vesk-2-PCMCIA board\n", true, false},
    {30, '8', "Opening Vesk-8-PCI board\n", true, true},
    {32, '9', "Opening Zimbro-PCI board\n", true, true},
    {33, 'G', "Opening Sondo-16-PCI-Plus board\n", true, true},
    {35, 'B', "Opening Vesk-1-PCI-Basic board\n", true, true},
    {39, 'P', "Opening Vesk-8-PCI-Plus board\n", true, true},
    {40, 'T', "Opening Vesk-2-PCI-Plus board\n", true, true},
    {41, 'S', "Opening Carvanel board\n", true, true},
    {45, '4', "Opening Vesk-4-PCI-Plus board\n", true, true},
    {46, '1', "Opening Vesk-1-PCI-Plus board\n", true, true},
    {47, 'A', "Opening Lisk-6x6-PCI-Plus board\n", true, true},
    {48, 'J', "Opening Lisk-6x6-PCI board\n", true, true},
    {53, 'H', "Opening Nolva-2-PC104 board\n", true, true},
    {54, '3', "Opening Sondo-16-PCI-Basic-32 board\n", true, true},
    {55, '6', "Opening Sondo-16-PCI-Basic-64 board\n", true, true},
    {57, 'E', "Opening Vesk-2-PCI-Express board\n", true, true},
    {60, 'C', "Opening Vesk-2-ExpressCard board\n", true, true},
    {61, 'R', "Opening Vesk-4-ExpressCard board\n", true, true},
    {67, 'V', "Opening DMP Dravo (hosted DMP)\n", false, true},
    {68, 'D', "Opening Dravo-PCI-Express board\n", true, true},
    {69, 'I', "Opening Dravo-4-CSI board\n", false, true},
    {70, 'K', "Opening Dravo-4M-CSI board\n", false, true},
    {71, 'X', "Opening Dravo-8-CSI board\n", false, true},
    {72, 'Q', "Opening Dravo-8M-CSI board\n", false, true},
    {75, 'F', "Opening Sondo-16-PCIe board\n", true, true},
};

const int g_nBoardTypeCount = (int)(sizeof g_aBoardTypeTable / sizeof g_aBoardTypeTable[0]);

const BoardType *FindBoardType(int32_t nCode)
{
    for (int i = 0; i < g_nBoardTypeCount; ++i)
        if (g_aBoardTypeTable[i].nCode == nCode)
            return &g_aBoardTypeTable[i];
    return nullptr;
}
