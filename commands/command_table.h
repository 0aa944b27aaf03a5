// command_table.h - the single-key commands: one constant row each, describing the command, and the
// values each remembers between runs of it; the interpreter that runs a key's command.
#ifndef DUZE_COMMAND_TABLE_H
#define DUZE_COMMAND_TABLE_H

#include <stddef.h>
#include <stdint.h>

#include "KynHwDll.h"

// A command's remembered values: address and value, start and range, high and low half. Each
// command has its own, never shared, 0 at the start of the run; the debug command keeps a
// signed one in the first.
struct CommandDefaults {
    uint32_t nFirst;
    uint32_t nSecond;
};

enum CommandDevice { kNoDevice, kBoard, kBridge };
enum CommandOutcome { kGoOn, kEndTheRun };
// The register access a command makes from what it is asked: none, a read, a write.
enum CommandAccess { kNoAccess, kReadAccess, kWriteAccess };

// The devices the run opened, which the commands act on: the board, whether or not its opening
// succeeded, and its bridge, 0 where the board has none (the bridge commands test it).
struct BoardHandles {
    KYN_HANDLE hBoard;
    KYN_HANDLE hBridge;
};

// What a command is: everything about it but what it remembers.
struct Command {
    char cKey;                // exact, case-sensitive
    const char *pszHelp;      // its line of the help text; null for keys the help leaves out
    const char *pszTitle;     // the line it starts with, or null
    const char *pszResult;    // the format of its result line, or null; "%.*X" takes the width's digits
    int nWidth;               // register width in bits
    CommandDevice eDevice;    // the device its registers are on
    CommandAccess eAccess;    // the one access it makes, for the one-shot options and a batch
    CommandOutcome (*pfnRun)(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
};

// Runs the command of one key (its low 8 bits as a signed character) on the run's devices.
CommandOutcome ExecuteCommand(signed char cKey, const BoardHandles &devices);

// After a register's result line, where the command's device has a map and a register starts at
// nAddress: its name and fields, with a warning where a write goes against the map.
struct MapRegister;

// The line of each register of the map at the address (every one where several share it), or of
// pNamed alone where the user named it.
void ShowMapLine(const Command &command, uint32_t nAddress, uint32_t nValue, bool bWrite,
                 const MapRegister *pNamed = nullptr);

// The row of a key's command; null for an unknown key.
const Command *FindCommand(char cKey);
// A read or write command's result line for an access it made, its map line after it: what the key
// prints, for a script's access the log shows as the key's.
void ShowRegisterLine(const Command &command, uint32_t nAddress, uint32_t nValue, const MapRegister *pNamed = nullptr);

// The commands' actions (register_commands.cpp, memory_command.cpp, timestamps.cpp).
CommandOutcome ReadRegister(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
CommandOutcome WriteRegister(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
CommandOutcome DumpBridge(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
CommandOutcome IssueDebugCommand(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
CommandOutcome SleepForAWhile(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
CommandOutcome TestMemory(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
CommandOutcome ShowCurrentTime(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);
CommandOutcome ShowEnteredTimestamp(const Command &command, CommandDefaults &remembered, const BoardHandles &devices);

// Words a memory test over nRange bytes reads and writes: those that start below the range end,
// counted in 64 bits so that a range above 0xFFFFFFFC ends after the word at offset 0xFFFFFFFC
// instead of starting again at 0.
uint64_t MemoryTestWords(uint32_t nRange);
// One memory error line as "Memory error at Address 0x%X   (nReadVal(0x%X) != nWriteVal(0x%X))\n"
// gives it, terminated, into a buffer of kMemoryErrorLineMax bytes; returns its length.
const size_t kMemoryErrorLineMax = 96;
size_t FormatMemoryError(char *pszLine, uint32_t nAddress, uint32_t nReadVal);

// Whether a memory test of this run found a word that did not read back: the run then ends with
// status 3 where it would have ended 0, so a script sees the failure.
bool MemoryTestFoundErrors();

// One timestamp as local month, day and time with milliseconds, without a line end.
void PrintTimestamp(uint32_t nLow, uint32_t nHigh);

#endif
