// command_table.cpp - every single-key command, one constant row each, and the interpreter that runs them.
#include "command_table.h"

#include "screen.h"

namespace {

CommandOutcome ShowHelp(const Command &, CommandDefaults &, const BoardHandles &);

CommandOutcome Quit(const Command &, CommandDefaults &, const BoardHandles &)
{
    return kEndTheRun;
}

// Every command, the help text's in its order first. A new command is one more row.
const Command g_aCommands[] = {
    {'?', " ?   Display Help text\n", nullptr, nullptr, 0, kNoDevice, kNoAccess, ShowHelp},
    {'h', " h   Ditto\n", nullptr, nullptr, 0, kNoDevice, kNoAccess, ShowHelp},
    {'q', " q   Quit\n", nullptr, nullptr, 0, kNoDevice, kNoAccess, Quit},
    {'r', " r   KynDrvRead8 from board\n", "Read from a 8-bit register in the KYN Board device.\n",
     "Brd Address 0x%X = 0x%.*X (%d decimal)\n", 8, kBoard, kReadAccess, ReadRegister},
    {'w', " w   KynDrvWriteReg8 to board\n", "Write to a 8-bit register in the KYN board device.\n",
     "Wrote %.*X to Brd Address 0x%X\n", 8, kBoard, kWriteAccess, WriteRegister},
    {'i', " i   KynDrvRead16 from board\n", "Read from a 16-bit register in the KYN Board device.\n",
     "Brd Address 0x%X = 0x%.*X (%d decimal)\n", 16, kBoard, kReadAccess, ReadRegister},
    {'o', " o   KynDrvWriteReg16 to board\n", "Write to a 16-bit register in the KYN board device.\n",
     "Wrote %.*X to Brd Address 0x%X\n", 16, kBoard, kWriteAccess, WriteRegister},
    {'R', " R   KynDrvRead32 from board\n", "Read from a 32-bit register in the KYN Board device.\n",
     "Brd Address 0x%X = 0x%.*X (%d decimal)\n", 32, kBoard, kReadAccess, ReadRegister},
    {'W', " W   KynDrvWriteReg32 to board\n", "Write to a 32-bit register in the KYN board device.\n",
     "Wrote %.*X to Brd Address 0x%X\n", 32, kBoard, kWriteAccess, WriteRegister},
    {'p', " p   KynDrvRead32 from Pci bridge device\n", "Read from a 32-bit register in the PCI Bridge device.\n",
     "Plx Address 0x%X = 0x%.*X (%d decimal)\n", 32, kBridge, kReadAccess, ReadRegister},
    {'d', " d   Issue Debug Command KynDrvDbgDump() to board\n", nullptr, "Issuing Driver Debug Command 0x%.8X\n", 0,
     kBoard, kNoAccess, IssueDebugCommand},
    {'t', " t   Print current time\n", nullptr, nullptr, 0, kNoDevice, kNoAccess, ShowCurrentTime},
    {'T', " T   Prompt for timestamp in hex. Print it in readable format.\n", nullptr, nullptr, 0, kNoDevice, kNoAccess,
     ShowEnteredTimestamp},
    {'M', " M   Memory Read/Write Test.\n", "Memory Read/Write test.\n", "Memory test finished. ErrorCount=%d\n", 32,
     kBoard, kNoAccess, TestMemory},
    // Keys that work but are not in the help.
    {'H', nullptr, nullptr, nullptr, 0, kNoDevice, kNoAccess, ShowHelp},
    {'Q', nullptr, nullptr, nullptr, 0, kNoDevice, kNoAccess, Quit},
    {'S', nullptr, "Write to a 32-bit register in the PCI Bridge device.\n", "Wrote %.*X to PCI Bridge Address 0x%X\n",
     32, kBridge, kWriteAccess, WriteRegister},
    {'P', nullptr, "Complete register dump from the PCI Bridge device.\n", "Plx Address 0x%X = 0x%.*X (%d decimal)\n",
     32, kBridge, kNoAccess, DumpBridge},
    {'~', nullptr, nullptr, nullptr, 0, kNoDevice, kNoAccess, SleepForAWhile},
};
const size_t kCommandCount = sizeof g_aCommands / sizeof g_aCommands[0];

// What each command remembers, by its row, for the whole run.
CommandDefaults g_aRemembered[kCommandCount];

CommandOutcome ShowHelp(const Command &, CommandDefaults &, const BoardHandles &)
{
    LogPrintF("Cmd  Synopsis\n");
    LogPrintF("===  ========\n");
    for (const Command &command : g_aCommands)
        if (command.pszHelp != nullptr)
            LogPrintF("%s", command.pszHelp);
    return kGoOn;
}

} // namespace

const Command *FindCommand(char cKey)
{
    for (const Command &command : g_aCommands)
        if (command.cKey == cKey)
            return &command;
    return nullptr;
}

CommandOutcome ExecuteCommand(signed char cKey, const BoardHandles &devices)
{
    for (size_t i = 0; i < kCommandCount; ++i)
        if (g_aCommands[i].cKey == cKey)
            return g_aCommands[i].pfnRun(g_aCommands[i], g_aRemembered[i], devices);
    LogPrintF("Unknown command. Press '?' for help, 'q' to quit\n");
    return kGoOn;
}
