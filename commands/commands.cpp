// commands.cpp - the single-key command interpreter, one table row per command: board and bridge registers, debug, sleep, help.
#include "commands.h"

#include "number.h"
#include "options.h"
#include "output.h"

// A number line as the library delivers it: at most 63 characters and their end.
static const size_t kLineSize = 64;

void PromptValue(const char *pszPrompt, uint32_t *pnRemembered)
{
    char szLine[kLineSize];
    LogPrintF(pszPrompt, (unsigned)*pnRemembered);
    ReadLine(szLine);
    if (szLine[0] != '\0')
        *pnRemembered = ConvertUnsigned32(szLine);
}

// The debug command's entry: the same steps with a signed conversion.
static void PromptSignedValue(const char *pszPrompt, int32_t *pnRemembered)
{
    char szLine[kLineSize];
    LogPrintF(pszPrompt, (unsigned)*pnRemembered);
    ReadLine(szLine);
    if (szLine[0] != '\0')
        *pnRemembered = ConvertSigned32(szLine);
}

static const char *const kAddressPrompt = "Which Address (0x%X): ";
static const char *const kValuePrompt = "Which Value (0x%X): ";

static void ReadBoard(Command &command)
{
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, &command.defaults.nFirst);
    uint32_t nAddress = command.defaults.nFirst;
    uint32_t nValue = 0; // zero-extended whatever the width
    KYN_RESULT nResult;
    if (command.nWidth == 8) {
        uint8_t nByte = 0;
        nResult = KynDrvReadReg8(g_hBoard, nAddress, &nByte);
        nValue = nByte;
    } else if (command.nWidth == 16) {
        uint16_t nHalf = 0;
        nResult = KynDrvReadReg16(g_hBoard, nAddress, &nHalf);
        nValue = nHalf;
    } else {
        nResult = KynDrvReadReg32(g_hBoard, nAddress, &nValue);
    }
    CheckResult(g_hBoard, nResult);
    LogPrintF(command.pszResult, (unsigned)nAddress, (unsigned)nValue, (int)nValue);
}

// The library gets the whole remembered value; only the printed one is cut to the width.
static void WriteBoard(Command &command)
{
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, &command.defaults.nFirst);
    PromptValue(kValuePrompt, &command.defaults.nSecond);
    uint32_t nAddress = command.defaults.nFirst;
    uint32_t nValue = command.defaults.nSecond;
    KYN_RESULT nResult = command.nWidth == 8    ? KynDrvWriteReg8(g_hBoard, nAddress, nValue)
                         : command.nWidth == 16 ? KynDrvWriteReg16(g_hBoard, nAddress, nValue)
                                                : KynDrvWriteReg32(g_hBoard, nAddress, nValue);
    CheckResult(g_hBoard, nResult);
    uint32_t nMask = command.nWidth == 32 ? 0xFFFFFFFFu : (1u << command.nWidth) - 1;
    LogPrintF(command.pszResult, (unsigned)(nValue & nMask), (unsigned)nAddress);
}

// The bridge commands need a bridge; handle 0 means the board has none open.
static bool HavePlx()
{
    if (g_hPlx != 0)
        return true;
    LogPrintF("No Plx device on this board\n");
    return false;
}

static void ReadPlx(Command &command)
{
    if (!HavePlx())
        return;
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, &command.defaults.nFirst);
    uint32_t nAddress = command.defaults.nFirst;
    uint32_t nValue = 0;
    CheckResult(g_hPlx, KynDrvReadReg32(g_hPlx, nAddress, &nValue));
    LogPrintF(command.pszResult, (unsigned)nAddress, (unsigned)nValue, (int)nValue);
}

static void WritePlx(Command &command)
{
    if (!HavePlx())
        return;
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, &command.defaults.nFirst);
    PromptValue(kValuePrompt, &command.defaults.nSecond);
    uint32_t nAddress = command.defaults.nFirst;
    uint32_t nValue = command.defaults.nSecond;
    CheckResult(g_hPlx, KynDrvWriteReg32(g_hPlx, nAddress, nValue));
    LogPrintF(command.pszResult, (unsigned)nValue, (unsigned)nAddress);
}

// The dump keeps its own running address, from 0 at every dump: p's address stays as it was.
static void DumpPlx(Command &command)
{
    if (!HavePlx())
        return;
    LogPrintF("%s", command.pszTitle);
    for (uint32_t nAddress = 0; nAddress <= 0x1FC; nAddress += 4) {
        uint32_t nValue = 0;
        CheckResult(g_hPlx, KynDrvReadReg32(g_hPlx, nAddress, &nValue));
        LogPrintF(command.pszResult, (unsigned)nAddress, (unsigned)nValue, (int)nValue);
    }
}

static void DebugCommand(Command &command)
{
    int32_t nCommand = (int32_t)command.defaults.nFirst;
    PromptSignedValue("Driver Debug Command. Which Cmd? [0x%.8X] ", &nCommand);
    command.defaults.nFirst = (uint32_t)nCommand;
    LogPrintF(command.pszResult, (unsigned)nCommand);
    CheckResult(g_hBoard, KynDrvDbgDump(g_hBoard, nCommand));
}

// Console only: a pause is not part of the board's record.
static void Sleep(Command &)
{
    char szLine[kLineSize];
    ScreenPrintF("Enter milliseconds to sleep :");
    ReadLine(szLine);
    if (szLine[0] == '\0')
        return;
    int32_t nMilliseconds = ConvertSigned32(szLine);
    ScreenPrintF("Sleeping %d milliseconds\n", (int)nMilliseconds);
    // A library may take a negative count as a very long unsigned one.
    if (nMilliseconds >= 0)
        OsaThreadSleep(nMilliseconds);
}

static void Help(Command &);

// Every command, the help text's in its order first. A new command is one more row.
static Command g_aCommands[] = {
    {'?', " ?   Display Help text\n", Help, nullptr, nullptr, 0, {}},
    {'h', " h   Ditto\n", Help, nullptr, nullptr, 0, {}},
    {'q', " q   Quit\n", nullptr, nullptr, nullptr, 0, {}},
    {'r', " r   KynDrvRead8 from board\n", ReadBoard, "Read from a 8-bit register in the KYN Board device.\n",
     "Brd Address 0x%X = 0x%.2X (%d decimal)\n", 8, {}},
    {'w', " w   KynDrvWriteReg8 to board\n", WriteBoard, "Write to a 8-bit register in the KYN board device.\n",
     "Wrote %.2X to Brd Address 0x%X\n", 8, {}},
    {'i', " i   KynDrvRead16 from board\n", ReadBoard, "Read from a 16-bit register in the KYN Board device.\n",
     "Brd Address 0x%X = 0x%.4X (%d decimal)\n", 16, {}},
    {'o', " o   KynDrvWriteReg16 to board\n", WriteBoard, "Write to a 16-bit register in the KYN board device.\n",
     "Wrote %.4X to Brd Address 0x%X\n", 16, {}},
    {'R', " R   KynDrvRead32 from board\n", ReadBoard, "Read from a 32-bit register in the KYN Board device.\n",
     "Brd Address 0x%X = 0x%.8X (%d decimal)\n", 32, {}},
    {'W', " W   KynDrvWriteReg32 to board\n", WriteBoard, "Write to a 32-bit register in the KYN board device.\n",
     "Wrote %.8X to Brd Address 0x%X\n", 32, {}},
    {'p', " p   KynDrvRead32 from Pci bridge device\n", ReadPlx,
     "Read from a 32-bit register in the PCI Bridge device.\n", "Plx Address 0x%X = 0x%.8X (%d decimal)\n", 32, {}},
    {'d', " d   Issue Debug Command KynDrvDbgDump() to board\n", DebugCommand, nullptr,
     "Issuing Driver Debug Command 0x%.8X\n", 0, {}},
    {'t', " t   Print current time\n", PrintCurrentTime, nullptr, nullptr, 0, {}},
    {'T', " T   Prompt for timestamp in hex. Print it in readable format.\n", PromptTimestamp, nullptr, nullptr, 0, {}},
    {'M', " M   Memory Read/Write Test.\n", MemoryTest, "Memory Read/Write test.\n",
     "Memory test finished. ErrorCount=%d\n", 32, {}},
    // Keys that work but are not in the help.
    {'H', nullptr, Help, nullptr, nullptr, 0, {}},
    {'Q', nullptr, nullptr, nullptr, nullptr, 0, {}},
    {'S', nullptr, WritePlx, "Write to a 32-bit register in the PCI Bridge device.\n",
     "Wrote %.8X to PCI Bridge Address 0x%X\n", 32, {}},
    {'P', nullptr, DumpPlx, "Complete register dump from the PCI Bridge device.\n",
     "Plx Address 0x%X = 0x%.8X (%d decimal)\n", 32, {}},
    {'~', nullptr, Sleep, nullptr, nullptr, 0, {}},
};

static void Help(Command &)
{
    LogPrintF("Cmd  Synopsis\n");
    LogPrintF("===  ========\n");
    for (const Command &command : g_aCommands)
        if (command.pszHelp != nullptr)
            LogPrintF("%s", command.pszHelp);
}

int ExecuteCommand(signed char cKey)
{
    for (Command &command : g_aCommands) {
        if (command.cKey != cKey)
            continue;
        if (command.pfnRun == nullptr)
            return 1;
        command.pfnRun(command);
        return 0;
    }
    LogPrintF("Unknown command. Press '?' for help, 'q' to quit\n");
    return 0;
}
