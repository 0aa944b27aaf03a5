// cmdline.cpp - fills the options record from the command line and prints the usage text.
#include <stdlib.h>
#include <string.h>

#include "number.h"
#include "options.h"
#include "output.h"

void SetDefaultOptions(ToolOptions *pOptions)
{
    pOptions->pszCommandString = nullptr;
    pOptions->bQuiet = false;
    strcpy(pOptions->szLogFileName, "DuzeDevazu.log");
    pOptions->nBoardType = 6;
    pOptions->nBoardNumber = 0;
}

void PrintUsage()
{
    static const char *const s_apszLines[] = {
        "\nCommand line switches:\n",
        " /B<boardNo>    : Board number (Default is %d)\n",
        " /T[B|2|T|E|8|P|4|M|S|G|9|F|3|6|H|A|J|C|R|D|I|K|X|Q|V] : Board Type used for the demo, where\n",
        "                    B  = Use Vesk-1-PCI-Basic Board\n",
        "                    2  = Use Vesk-2-PCI Board\n",
        "                    9  = Use Zimbro-PCI Board\n",
        "                    T  = Use Vesk-2-PCI-Plus Board\n",
        "                    E  = Use Vesk-2-PCI-Express Board\n",
        "                    8  = Use Vesk-8-PCI Board\n",
        "                    P  = Use Vesk-8-PCI-Plus Board\n",
        "                    4  = Use Vesk-4-PCI-Plus Board\n",
        "                    M  = Use Vesk-2-PCMCIA Board\n",
        "                    S  = Use Carvanel Board\n",
        "                    G  = Use Sondo-16-PCI-Plus Board\n",
        "                    F  = Use Sondo-16-PCIe Board\n",
        "                    3  = Use Sondo-16-PCI-Basic_32 Board\n",
        "                    6  = Use Sondo-16-PCI-Basic_64 Board\n",
        "                    H  = Use Nolva-2-PC104 Board\n",
        "                    A  = Use Lisk-6-PCI-Plus Board\n",
        "                    J  = Use Lisk-6-PCI Board\n",
        "                    C  = Use Vesk-2-ExpressCard Board\n",
        "                    R  = Use Vesk-4-ExpressCard Board\n",
        "                    D  = Use Dravo-PCI-Express Board\n",
        "                    I  = Use Dravo-4-CSI Board\n",
        "                    K  = Use Dravo-4M-CSI Board\n",
        "                    X  = Use Dravo-8-CSI Board\n",
        "                    Q  = Use Dravo-8M-CSI Board\n",
        "                    V  = Use Dravo-DMP (hosted DMP)\n",
        " /L<fileName>   : Log file name\n",
        " /Z<str>        : Command string (overrides keyboard input)\n",
        " /Q             : Exit without prompting on errors\n",
    };
    for (const char *pszLine : s_apszLines)
        LogPrintF(pszLine, 0); // only the board-number line has a number: the default, 0
}

[[noreturn]] static void UnknownSwitch(const char *pszArgument)
{
    LogPrintF("Error: Unknown command line switch %s\n", pszArgument);
    PrintUsage();
    EndRun(1, kKeepLibrary);
}

void ParseCommandLine(int argc, char **argv, ToolOptions *pOptions)
{
    SetDefaultOptions(pOptions);
    for (int i = 1; i < argc; ++i) {
        char *pszArgument = argv[i];
        // Z is tested before upper-casing so the command string keeps its case.
        if (pszArgument[0] != '\0' && pszArgument[1] == 'Z') {
            pOptions->pszCommandString = pszArgument + 2;
            continue;
        }
        OsaStdStrUpr(pszArgument);
        if (pszArgument[0] != '-' && pszArgument[0] != '/')
            UnknownSwitch(pszArgument);
        const char *pszValue = pszArgument + 2;
        switch (pszArgument[1]) {
        case 'L': {
            // A longer name would not fit the record; refusing it beats opening a cut-off name.
            size_t nLength = strlen(pszValue);
            if (nLength > DUZE_LOG_NAME_MAX) {
                LogPrintF("Error: Log file name is %lu characters long, at most %d are allowed\n",
                          (unsigned long)nLength, DUZE_LOG_NAME_MAX);
                EndRun(1, kKeepLibrary);
            }
            memcpy(pOptions->szLogFileName, pszValue, nLength + 1);
            break;
        }
        case 'Q':
            pOptions->bQuiet = true;
            break;
        case 'B':
            pOptions->nBoardNumber = ConvertUnsigned32(pszValue);
            break;
        case 'T': {
            const BoardType *pFound = nullptr;
            for (int j = 0; j < g_nBoardTypeCount && pFound == nullptr; ++j)
                if (pszValue[0] != '\0' && g_aBoardTypeTable[j].cLetter == pszValue[0])
                    pFound = &g_aBoardTypeTable[j];
            if (pFound == nullptr)
                UnknownSwitch(pszArgument);
            pOptions->nBoardType = pFound->nCode;
            break;
        }
        default:
            UnknownSwitch(pszArgument);
        }
    }
}
