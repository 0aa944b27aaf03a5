// board_table.h - the board types the tool knows: one row each, from which the option letters, the
// usage text and the opening messages all come.
#ifndef DUZE_BOARD_TABLE_H
#define DUZE_BOARD_TABLE_H

#include <stdint.h>

struct BoardType {
    int32_t nCode;
    char cLetter;             // option-T letter
    const char *pszOpening;   // printed when the board is opened
    const char *pszUsageName; // its usage line: "<letter>  = Use <name>"; null for a letter the usage leaves out
    int nUsageLine;           // its line's place in the usage text
    int nLetterListPlace;     // its letter's place in the usage's list of letters
    bool bBridge;             // has a PCI bridge device to open
    bool bCpld;               // has a CPLD build text
};

extern const BoardType g_aBoardTypeTable[];
extern const int g_nBoardTypeCount;

// The row of a board type code, or of an option letter; null when there is none.
const BoardType *FindBoardType(int32_t nCode);
const BoardType *FindBoardLetter(char cLetter);

// The rows the usage text shows, in its order of lines, or in its list of letters: the row at
// place nPlace (from 0), or null past the last.
const BoardType *BoardAtUsageLine(int nPlace);
const BoardType *BoardAtLetterListPlace(int nPlace);

#endif
