// commands.h - the single-key command interpreter: one table row per command, number entry, the commands.
#ifndef DUZE_COMMANDS_H
#define DUZE_COMMANDS_H

#include <stddef.h>
#include <stdint.h>

// A command's remembered values: address and value, start and range, high and low half.
// Each command has its own, never shared, 0 at the start of the run; the debug command
// keeps a signed one in the first.
struct CommandDefaults {
    uint32_t nFirst;
    uint32_t nSecond;
};

// One command: everything about it is in its row of the table (commands.cpp).
struct Command {
    char cKey;                  // exact, case-sensitive
    const char *pszHelp;        // its line of the help text; null for keys the help leaves out
    void (*pfnRun)(Command &command); // null: the key ends the run
    const char *pszTitle;       // the line it starts with, or null
    const char *pszResult;      // the format of its result line, or null
    int nWidth;                 // register width in bits, for the board register commands
    CommandDefaults defaults;
};

// Runs the command of one key (its low 8 bits as a signed character); 1 when the run is to end.
int ExecuteCommand(signed char cKey);

// Prints the prompt with the remembered value, reads a line, and remembers a non-empty one.
void PromptValue(const char *pszPrompt, uint32_t *pnRemembered);

void MemoryTest(Command &command);
// Words a memory test over nRange bytes reads and writes: those that start below the range
// end, counted in 64 bits so that a range above 0xFFFFFFFC ends after the word at offset
// 0xFFFFFFFC instead of starting again at 0.
uint64_t MemoryTestWords(uint32_t nRange);
// One memory error line as "Memory error at Address 0x%X   (nReadVal(0x%X) != nWriteVal(0x%X))\n"
// gives it, terminated, into a buffer of kMemoryErrorLineMax bytes; returns its length.
const size_t kMemoryErrorLineMax = 96;
size_t FormatMemoryError(char *pszLine, uint32_t nAddress, uint32_t nReadVal);
// The memory test's progress line for pass nPass (0 writing, 1 reading back) after nDone of
// nWords words of it, nErrors mismatches and nElapsedMs since the test began; its length.
int FormatProgress(char *pszText, size_t nSize, int nPass, uint64_t nDone, uint64_t nWords, int32_t nErrors,
                   uint32_t nElapsedMs);

void PrintTimestamp(uint32_t nLow, uint32_t nHigh);
void PrintCurrentTime(Command &command);
void PromptTimestamp(Command &command);

#endif
