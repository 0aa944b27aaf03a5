// commands.cpp - the single-key command interpreter: board and bridge registers, debug, sleep, help.
#include "commands.h"

#include "number.h"
#include "options.h"
#include "output.h"

CommandDefaults g_commandDefaults;

void PromptValue(const char *pszPrompt, uint32_t *pnRemembered)
{
    char szLine[64];
    LogPrintF(pszPrompt, (unsigned)*pnRemembered);
    ReadLine(szLine);
    if (szLine[0] != '\0')
        *pnRemembered = ConvertUnsigned32(szLine);
}

// The debug command's entry: the same steps with a signed conversion.
static void PromptSignedValue(const char *pszPrompt, int32_t *pnRemembered)
{
    char szLine[64];
    LogPrintF(pszPrompt, (unsigned)*pnRemembered);
    ReadLine(szLine);
    if (szLine[0] != '\0')
        *pnRemembered = ConvertSigned32(szLine);
}

static const char *const kAddressPrompt = "Which Address (0x%X): ";
static const char *const kValuePrompt = "Which Value (0x%X): ";

static void ReadBoard8()
{
    LogPrintF("Read from a 8-bit register in the KYN Board device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nRead8Address);
    uint32_t nAddress = g_commandDefaults.nRead8Address;
    uint8_t nValue = 0;
    CheckResult(g_hBoard, KynDrvReadReg8(g_hBoard, nAddress, &nValue));
    LogPrintF("Brd Address 0x%X = 0x%.2X (%d decimal)\n", (unsigned)nAddress, (unsigned)nValue, (int)nValue);
}

static void WriteBoard8()
{
    LogPrintF("Write to a 8-bit register in the KYN board device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nWrite8Address);
    PromptValue(kValuePrompt, &g_commandDefaults.nWrite8Value);
    uint32_t nAddress = g_commandDefaults.nWrite8Address;
    uint32_t nValue = g_commandDefaults.nWrite8Value;
    CheckResult(g_hBoard, KynDrvWriteReg8(g_hBoard, nAddress, nValue));
    LogPrintF("Wrote %.2X to Brd Address 0x%X\n", (unsigned)(nValue & 0xFFu), (unsigned)nAddress);
}

static void ReadBoard16()
{
    LogPrintF("Read from a 16-bit register in the KYN Board device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nRead16Address);
    uint32_t nAddress = g_commandDefaults.nRead16Address;
    uint16_t nValue = 0;
    CheckResult(g_hBoard, KynDrvReadReg16(g_hBoard, nAddress, &nValue));
    LogPrintF("Brd Address 0x%X = 0x%.4X (%d decimal)\n", (unsigned)nAddress, (unsigned)nValue, (int)nValue);
}

static void WriteBoard16()
{
    LogPrintF("Write to a 16-bit register in the KYN board device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nWrite16Address);
    PromptValue(kValuePrompt, &g_commandDefaults.nWrite16Value);
    uint32_t nAddress = g_commandDefaults.nWrite16Address;
    uint32_t nValue = g_commandDefaults.nWrite16Value;
    CheckResult(g_hBoard, KynDrvWriteReg16(g_hBoard, nAddress, nValue));
    LogPrintF("Wrote %.4X to Brd Address 0x%X\n", (unsigned)(nValue & 0xFFFFu), (unsigned)nAddress);
}

static void ReadBoard32()
{
    LogPrintF("Read from a 32-bit register in the KYN Board device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nRead32Address);
    uint32_t nAddress = g_commandDefaults.nRead32Address;
    uint32_t nValue = 0;
    CheckResult(g_hBoard, KynDrvReadReg32(g_hBoard, nAddress, &nValue));
    LogPrintF("Brd Address 0x%X = 0x%.8X (%d decimal)\n", (unsigned)nAddress, (unsigned)nValue, (int)nValue);
}

static void WriteBoard32()
{
    LogPrintF("Write to a 32-bit register in the KYN board device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nWrite32Address);
    PromptValue(kValuePrompt, &g_commandDefaults.nWrite32Value);
    uint32_t nAddress = g_commandDefaults.nWrite32Address;
    uint32_t nValue = g_commandDefaults.nWrite32Value;
    CheckResult(g_hBoard, KynDrvWriteReg32(g_hBoard, nAddress, nValue));
    LogPrintF("Wrote %.8X to Brd Address 0x%X\n", (unsigned)nValue, (unsigned)nAddress);
}

// The bridge commands need a bridge; handle 0 means the board has none open.
static bool HavePlx()
{
    if (g_hPlx != 0)
        return true;
    LogPrintF("No Plx device on this board\n");
    return false;
}

static void ReadPlx()
{
    if (!HavePlx())
        return;
    LogPrintF("Read from a 32-bit register in the PCI Bridge device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nPlxReadAddress);
    uint32_t nAddress = g_commandDefaults.nPlxReadAddress;
    uint32_t nValue = 0;
    CheckResult(g_hPlx, KynDrvReadReg32(g_hPlx, nAddress, &nValue));
    LogPrintF("Plx Address 0x%X = 0x%.8X (%d decimal)\n", (unsigned)nAddress, (unsigned)nValue, (int)nValue);
}

static void WritePlx()
{
    if (!HavePlx())
        return;
    LogPrintF("Write to a 32-bit register in the PCI Bridge device.\n");
    PromptValue(kAddressPrompt, &g_commandDefaults.nPlxWriteAddress);
    PromptValue(kValuePrompt, &g_commandDefaults.nPlxWriteValue);
    uint32_t nAddress = g_commandDefaults.nPlxWriteAddress;
    uint32_t nValue = g_commandDefaults.nPlxWriteValue;
    CheckResult(g_hPlx, KynDrvWriteReg32(g_hPlx, nAddress, nValue));
    LogPrintF("Wrote %.8X to PCI Bridge Address 0x%X\n", (unsigned)nValue, (unsigned)nAddress);
}

static void DumpPlx()
{
    if (!HavePlx())
        return;
    LogPrintF("Complete register dump from the PCI Bridge device.\n");
    for (uint32_t nAddress = 0; nAddress <= 0x1FC; nAddress += 4) {
        uint32_t nValue = 0;
        CheckResult(g_hPlx, KynDrvReadReg32(g_hPlx, nAddress, &nValue));
        LogPrintF("Plx Address 0x%X = 0x%.8X (%d decimal)\n", (unsigned)nAddress, (unsigned)nValue, (int)nValue);
    }
}

static void DebugCommand()
{
    PromptSignedValue("Driver Debug Command. Which Cmd? [0x%.8X] ", &g_commandDefaults.nDebugCommand);
    int32_t nCommand = g_commandDefaults.nDebugCommand;
    LogPrintF("Issuing Driver Debug Command 0x%.8X\n", (unsigned)nCommand);
    CheckResult(g_hBoard, KynDrvDbgDump(g_hBoard, nCommand));
}

// Console only: a pause is not part of the board's record.
static void Sleep()
{
    char szLine[64];
    ScreenPrintF("Enter milliseconds to sleep :");
    ReadLine(szLine);
    if (szLine[0] == '\0')
        return;
    int32_t nMilliseconds = ConvertSigned32(szLine);
    ScreenPrintF("Sleeping %d milliseconds\n", (int)nMilliseconds);
    OsaThreadSleep(nMilliseconds);
}

static void Help()
{
    static const char *const s_apszLines[] = {
        "Cmd  Synopsis\n",
        "===  ========\n",
        " ?   Display Help text\n",
        " h   Ditto\n",
        " q   Quit\n",
        " r   KynDrvRead8 from board\n",
        " w   KynDrvWriteReg8 to board\n",
        " i   KynDrvRead16 from board\n",
        " o   KynDrvWriteReg16 to board\n",
        " R   KynDrvRead32 from board\n",
        " W   KynDrvWriteReg32 to board\n",
        " p   KynDrvRead32 from Pci bridge device\n",
        " d   Issue Debug Command KynDrvDbgDump() to board\n",
        " t   Print current time\n",
        " T   Prompt for timestamp in hex. Print it in readable format.\n",
        " M   Memory Read/Write Test.\n",
    };
    for (const char *pszLine : s_apszLines)
        LogPrintF("%s", pszLine);
}

int ExecuteCommand(signed char cKey)
{
    switch (cKey) {
    case '?':
    case 'h':
    case 'H':
        Help();
        break;
    case 'q':
    case 'Q':
        return 1;
    case 'r':
        ReadBoard8();
        break;
    case 'w':
        WriteBoard8();
        break;
    case 'i':
        ReadBoard16();
        break;
    case 'o':
        WriteBoard16();
        break;
    case 'R':
        ReadBoard32();
        break;
    case 'W':
        WriteBoard32();
        break;
    case 'p':
        ReadPlx();
        break;
    case 'S':
        WritePlx();
        break;
    case 'P':
        DumpPlx();
        break;
    case 'd':
        DebugCommand();
        break;
    case 't':
        PrintCurrentTime();
        break;
    case 'T':
        PromptTimestamp();
        break;
    case 'M':
        MemoryTest();
        break;
    case '~':
        Sleep();
        break;
    default:
        LogPrintF("Unknown command. Press '?' for help, 'q' to quit\n");
        break;
    }
    return 0;
}
