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

// The board register commands differ in width, title and result line only.
struct RegisterCommand {
    int nWidth; // 8, 16 or 32
    const char *pszTitle;
    const char *pszResult;
};

static const RegisterCommand kRead8 = {8, "Read from a 8-bit register in the KYN Board device.\n",
                                       "Brd Address 0x%X = 0x%.2X (%d decimal)\n"};
static const RegisterCommand kRead16 = {16, "Read from a 16-bit register in the KYN Board device.\n",
                                        "Brd Address 0x%X = 0x%.4X (%d decimal)\n"};
static const RegisterCommand kRead32 = {32, "Read from a 32-bit register in the KYN Board device.\n",
                                        "Brd Address 0x%X = 0x%.8X (%d decimal)\n"};
static const RegisterCommand kWrite8 = {8, "Write to a 8-bit register in the KYN board device.\n",
                                        "Wrote %.2X to Brd Address 0x%X\n"};
static const RegisterCommand kWrite16 = {16, "Write to a 16-bit register in the KYN board device.\n",
                                         "Wrote %.4X to Brd Address 0x%X\n"};
static const RegisterCommand kWrite32 = {32, "Write to a 32-bit register in the KYN board device.\n",
                                         "Wrote %.8X to Brd Address 0x%X\n"};

static void ReadBoard(const RegisterCommand &command, uint32_t *pnAddress)
{
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, pnAddress);
    uint32_t nAddress = *pnAddress;
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
static void WriteBoard(const RegisterCommand &command, uint32_t *pnAddress, uint32_t *pnValue)
{
    LogPrintF("%s", command.pszTitle);
    PromptValue(kAddressPrompt, pnAddress);
    PromptValue(kValuePrompt, pnValue);
    uint32_t nAddress = *pnAddress;
    uint32_t nValue = *pnValue;
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
    // A library may take a negative count as a very long unsigned one.
    if (nMilliseconds >= 0)
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
        ReadBoard(kRead8, &g_commandDefaults.nRead8Address);
        break;
    case 'w':
        WriteBoard(kWrite8, &g_commandDefaults.nWrite8Address, &g_commandDefaults.nWrite8Value);
        break;
    case 'i':
        ReadBoard(kRead16, &g_commandDefaults.nRead16Address);
        break;
    case 'o':
        WriteBoard(kWrite16, &g_commandDefaults.nWrite16Address, &g_commandDefaults.nWrite16Value);
        break;
    case 'R':
        ReadBoard(kRead32, &g_commandDefaults.nRead32Address);
        break;
    case 'W':
        WriteBoard(kWrite32, &g_commandDefaults.nWrite32Address, &g_commandDefaults.nWrite32Value);
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
