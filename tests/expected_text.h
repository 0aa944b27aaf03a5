// expected_text.h - the tool's fixed texts as every transcript expects them, for the Linux harnesses
// and the Windows console driver alike: the exit question, the unknown-key line, the default
// board's start-up lines after the library line, and the help text.
#ifndef DUZE_EXPECTED_TEXT_H
#define DUZE_EXPECTED_TEXT_H

// String literals, so that they join the literals around them.
#define EXPECTED_QUESTION "Do you want to exit (Y/N) "
#define EXPECTED_UNKNOWN "Unknown command. Press '?' for help, 'q' to quit\n"

const char kExpectedAfterLibraryLine[] = "Connecting lib...\n"
                                         "Driver version 4.12.0 (simulated driver)\n"
                                         "Get Handle to the board device...\n"
                                         "Opening Vesk-2-PCI board\n"
                                         "Board Device Handle = 0x00000020\n"
                                         "Plx Device Handle = 0x00000021\n"
                                         "Read Serial Number to the board device...\n"
                                         "Board Serial Number: KS-006-04711\n"
                                         "Board Build Number: 2.6.1207\n"
                                         "CPLD Build:\n"
                                         "  Main CPLD: rev 3.6 (2026-02-11)\n"
                                         "  I/O CPLD:  rev 1.8 (2025-09-30)\n"
                                         "\n"
                                         "Press 'h' for help\n";

// The 32-bit board read's prompt, and the answers of the default board to a misaligned address
// and one outside its window.
const char kExpectedRead32Prompt[] = "Read from a 32-bit register in the KYN Board device.\nWhich Address (0x0): ";
const char kExpectedMisaligned[] =
    "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n" EXPECTED_QUESTION;
const char kExpectedOutside[] =
    "ERROR(0X32 [1.4]) Dev(20,6,0): Register address is outside the device window. \n" EXPECTED_QUESTION;

const char kExpectedHelp[] = "Cmd  Synopsis\n"
                             "===  ========\n"
                             " ?   Display Help text\n"
                             " h   Ditto\n"
                             " q   Quit\n"
                             " r   KynDrvRead8 from board\n"
                             " w   KynDrvWriteReg8 to board\n"
                             " i   KynDrvRead16 from board\n"
                             " o   KynDrvWriteReg16 to board\n"
                             " R   KynDrvRead32 from board\n"
                             " W   KynDrvWriteReg32 to board\n"
                             " p   KynDrvRead32 from Pci bridge device\n"
                             " d   Issue Debug Command KynDrvDbgDump() to board\n"
                             " t   Print current time\n"
                             " T   Prompt for timestamp in hex. Print it in readable format.\n"
                             " M   Memory Read/Write Test.\n";

#endif
