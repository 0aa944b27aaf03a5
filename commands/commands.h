// commands.h - the single-key command interpreter, its remembered values and number entry.
#ifndef DUZE_COMMANDS_H
#define DUZE_COMMANDS_H

#include <stddef.h>
#include <stdint.h>

// One remembered value per command and field, never shared, 0 at the start of the run.
struct CommandDefaults {
    uint32_t nRead8Address;
    uint32_t nWrite8Address, nWrite8Value;
    uint32_t nRead16Address;
    uint32_t nWrite16Address, nWrite16Value;
    uint32_t nRead32Address;
    uint32_t nWrite32Address, nWrite32Value;
    uint32_t nPlxReadAddress;
    uint32_t nPlxWriteAddress, nPlxWriteValue;
    int32_t nDebugCommand;
    uint32_t nMemStart, nMemRange;
    uint32_t nTimeHigh, nTimeLow;
};

extern CommandDefaults g_commandDefaults;

// Runs the command of one key (its low 8 bits as a signed character); 1 when the run is to end.
int ExecuteCommand(signed char cKey);

// Prints the prompt with the remembered value, reads a line, and remembers a non-empty one.
void PromptValue(const char *pszPrompt, uint32_t *pnRemembered);

void MemoryTest();
// One memory error line as "Memory error at Address 0x%X   (nReadVal(0x%X) != nWriteVal(0x%X))\n"
// gives it, terminated, into a buffer of kMemoryErrorLineMax bytes; returns its length.
const size_t kMemoryErrorLineMax = 96;
size_t FormatMemoryError(char *pszLine, uint32_t nAddress, uint32_t nReadVal);
// The memory test's progress line for pass nPass (0 writing, 1 reading back) after nDone of
// nWords words of it, nErrors mismatches and nElapsedMs since the test began; its length.
int FormatProgress(char *pszText, size_t nSize, int nPass, uint64_t nDone, uint64_t nWords, int32_t nErrors,
                   uint32_t nElapsedMs);
void PrintTimestamp(uint32_t nLow, uint32_t nHigh);
void PrintCurrentTime();
void PromptTimestamp();

#endif
