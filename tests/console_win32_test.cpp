// console_win32_test.cpp - drives DuzeDevazu.exe at a Windows console with key events, as a person does.
//
// Usage: console_tests.exe TOOL.exe RUN-DIRECTORY REPORT-FILE [SCENARIO,...]
// The program shares its console with the tool it starts: keys go in with WriteConsoleInputW,
// the screen comes back with ReadConsoleOutputCharacterW. Under wine it needs a terminal on
// its standard input to have a console at all (make test-windows runs it under script(1)).
// Each scenario of the table runs in a fresh directory; the report says PASS or FAIL for
// each, with the difference, and the exit status is the number of failures.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "expected_text.h"

namespace {

HANDLE g_hInput;
HANDLE g_hScreen;
// The console's input mode as found, given back before every scenario.
DWORD g_nInputMode = 0;

// One step of a scenario: 'k' types keys, 'w' waits until the screen shows a text,
// 'c' types Ctrl-C, 'p' pauses for a number of milliseconds.
struct Step {
    char cAction;
    std::string strText;
};

struct Scenario {
    const char *pszName;
    const char *pszArgs;
    const char *pszSettings; // KYNSIM_* settings, blank-separated
    std::vector<Step> aSteps;
    int nStatus;
    std::string strScreen; // what the screen shows past the banner; empty: not compared
    std::string strLog;    // the log; "screen": the screen's rows, every one of them in the log
};

// Keys that are no characters, written in the key texts as \x01 followed by a letter.
struct SpecialKey {
    char cName;
    WORD nVirtualKey;
};
const SpecialKey g_aSpecialKeys[] = {{'U', VK_UP},    {'D', VK_DOWN}, {'L', VK_LEFT}, {'R', VK_RIGHT},
                                     {'N', VK_NEXT},  {'H', VK_HOME}, {'B', VK_BACK}};
const char kSpecial = '\x01';

std::string Special(char cName)
{
    return std::string(1, kSpecial) + cName;
}

const std::string kStartup = std::string("Log file is  DuzeDevazu.log\nBoard number 0\n"
                                         "Library version 4.12.0 (simulated) (filename libkynhwsim.a, static linked)\n") +
                             kExpectedAfterLibraryLine;
const std::string kHelp = kExpectedHelp;
const std::string kUnknown = EXPECTED_UNKNOWN;
const std::string kR32 = "Read from a 32-bit register in the KYN Board device.\nWhich Address (0x0): ";
const std::string kMisaligned =
    "ERROR(0X31 [1.4]) Dev(20,6,0): Register address is not aligned to the access width. \n"
    EXPECTED_QUESTION;

std::vector<Scenario> Scenarios()
{
    return {
        // Command keys act at once and are not echoed; a number line is echoed, Backspace edits it.
        {"KeysAndLines", "", "",
         {{'w', "Press 'h' for help"}, {'k', "h"}, {'w', " M   Memory"}, {'k', "i12" + Special('B') + "6\r"},
          {'w', "(0 decimal)"}, {'k', "q"}},
         0,
         kStartup + kHelp + "Read from a 16-bit register in the KYN Board device.\nWhich Address (0x0): 16\n"
                            "Brd Address 0x10 = 0x0000 (0 decimal)\n",
         kStartup + kHelp + "Read from a 16-bit register in the KYN Board device.\nWhich Address (0x0): "
                            "Brd Address 0x10 = 0x0000 (0 decimal)\n"},
        // Page Down, Down, Right, Up and Home run no command; an arrow in a number line is
        // dropped. (wine's _getch gives nothing for the function keys, which come as 0 and a
        // scan code elsewhere; the terminal tests try F1.)
        {"KeysThatAreNoLetters", "", "",
         {{'w', "Press 'h' for help"},
          {'k', Special('N') + Special('D') + Special('R') + Special('U') + Special('H')},
          {'k', "R" + Special('L') + "4\r"},
          {'w', "(0 decimal)"},
          {'k', "q"}},
         0, kStartup + kUnknown + kUnknown + kUnknown + kUnknown + kUnknown + kR32 + "4\nBrd Address 0x4 = 0x00000000 (0 decimal)\n",
         kStartup + kUnknown + kUnknown + kUnknown + kUnknown + kUnknown + kR32 + "Brd Address 0x4 = 0x00000000 (0 decimal)\n"},
        // An arrow at the exit question is no yes, and its second code runs no command.
        {"ArrowAtTheQuestion", "", "",
         {{'w', "Press 'h' for help"}, {'k', "R3\r"}, {'w', "(Y/N)"}, {'k', Special('D')}, {'w', "(0 decimal)"}, {'k', "q"}},
         0, "", kStartup + kR32 + kMisaligned + "Brd Address 0x3 = 0x00000000 (0 decimal)\n"},
        // Ctrl-C ends the run at once wherever it comes: waiting for a key, in a line, in a sleep.
        {"CtrlCAtAKey", "", "", {{'w', "Press 'h' for help"}, {'c', ""}}, 130, kStartup, kStartup},
        {"CtrlCInALine", "", "", {{'w', "Press 'h' for help"}, {'k', "W12"}, {'w', "(0x0): 12"}, {'c', ""}}, 130,
         kStartup + "Write to a 32-bit register in the KYN board device.\nWhich Address (0x0): 12\n",
         kStartup + "Write to a 32-bit register in the KYN board device.\nWhich Address (0x0): "},
        {"CtrlCInASleep", "", "", {{'w', "Press 'h' for help"}, {'k', "~100000\r"}, {'w', "Sleeping 100000"}, {'c', ""}},
         130, kStartup + "Enter milliseconds to sleep :100000\nSleeping 100000 milliseconds\n", kStartup},
        // A long test shows its progress in place, and the screen then reads as without it.
        {"ProgressOfALongTest", "-ZM0;0x20000000;q", "KYNSIM_MEMORY=address",
         {{'w', "% done, "}, {'w', "Memory test finished"}}, 0,
         kStartup + "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): "
                    "Memory test finished. ErrorCount=0\n",
         kStartup + "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): "
                    "Memory test finished. ErrorCount=0\n"},
        // In a long failing memory test: the log holds every line the screen showed.
        {"CtrlCInAMemoryTest", "-ZM0;0x4000000;q", "KYNSIM_MEMORY=zero",
         {{'w', "Memory error at Address 0x400 "}, {'p', "200"}, {'c', ""}}, 130, "", "screen"},
    };
}

// The screen's rows, without their trailing blanks and without the empty rows at its end.
std::string ReadScreen()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(g_hScreen, &info))
        return "";
    int nWidth = info.dwSize.X, nHeight = info.dwSize.Y;
    std::wstring strCells((size_t)nWidth * nHeight, L' ');
    DWORD nRead = 0;
    ReadConsoleOutputCharacterW(g_hScreen, &strCells[0], (DWORD)strCells.size(), COORD{0, 0}, &nRead);
    std::string strScreen;
    for (int y = 0; y < nHeight; ++y) {
        std::wstring strRow = strCells.substr((size_t)y * nWidth, nWidth);
        size_t nEnd = strRow.find_last_not_of(L' ');
        for (size_t x = 0; nEnd != std::wstring::npos && x <= nEnd; ++x)
            strScreen += strRow[x] < 0x80 ? (char)strRow[x] : '?';
        strScreen += '\n';
    }
    while (strScreen.size() >= 2 && strScreen.compare(strScreen.size() - 2, 2, "\n\n") == 0)
        strScreen.pop_back();
    return strScreen;
}

// Text as the screen shows it: lines longer than the screen is wide go on in the next row.
std::string Wrapped(const std::string &strText)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    size_t nWidth = GetConsoleScreenBufferInfo(g_hScreen, &info) ? (size_t)info.dwSize.X : 80;
    std::string strRows;
    for (size_t nStart = 0; nStart < strText.size();) {
        size_t nEnd = strText.find('\n', nStart);
        std::string strLine = strText.substr(nStart, nEnd - nStart);
        do {
            std::string strRow = strLine.substr(0, nWidth);
            strRows += strRow.substr(0, strRow.find_last_not_of(' ') + 1) + "\n";
            strLine.erase(0, nWidth);
        } while (!strLine.empty());
        nStart = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    }
    return strRows;
}

void ClearScreen()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(g_hScreen, &info);
    DWORD nDone = 0;
    FillConsoleOutputCharacterW(g_hScreen, L' ', (DWORD)(info.dwSize.X * info.dwSize.Y), COORD{0, 0}, &nDone);
    SetConsoleCursorPosition(g_hScreen, COORD{0, 0});
    FlushConsoleInputBuffer(g_hInput);
}

void PressKey(WORD nVirtualKey, wchar_t cChar, DWORD nControls)
{
    INPUT_RECORD aEvents[2];
    memset(aEvents, 0, sizeof aEvents);
    for (int i = 0; i < 2; ++i) {
        KEY_EVENT_RECORD &key = aEvents[i].Event.KeyEvent;
        aEvents[i].EventType = KEY_EVENT;
        key.bKeyDown = i == 0;
        key.wRepeatCount = 1;
        key.wVirtualKeyCode = nVirtualKey;
        key.wVirtualScanCode = (WORD)MapVirtualKeyW(nVirtualKey, 0);
        key.uChar.UnicodeChar = cChar;
        key.dwControlKeyState = nControls;
    }
    DWORD nWritten = 0;
    WriteConsoleInputW(g_hInput, aEvents, 2, &nWritten);
}

void TypeKeys(const std::string &strKeys)
{
    for (size_t i = 0; i < strKeys.size(); ++i) {
        char c = strKeys[i];
        if (c == kSpecial && i + 1 < strKeys.size()) {
            char cName = strKeys[++i];
            for (const SpecialKey &key : g_aSpecialKeys)
                if (key.cName == cName)
                    PressKey(key.nVirtualKey, key.nVirtualKey == VK_BACK ? L'\b' : 0,
                             key.nVirtualKey == VK_BACK ? 0 : ENHANCED_KEY);
        } else if (c == '\r') {
            PressKey(VK_RETURN, L'\r', 0);
        } else {
            SHORT nScan = VkKeyScanW((wchar_t)c);
            PressKey((WORD)(nScan & 0xFF), (wchar_t)c, (nScan & 0x100) != 0 ? SHIFT_PRESSED : 0);
        }
        Sleep(5);
    }
}

// Waits for text on the screen with a deadline a slow, busy machine meets: wine's console shows
// a few dozen lines a second.
const DWORD kDeadlineMs = 60000;

bool WaitForScreen(const std::string &strText)
{
    for (DWORD nWaited = 0; nWaited < kDeadlineMs; nWaited += 10) {
        if (ReadScreen().find(strText) != std::string::npos)
            return true;
        Sleep(10);
    }
    return false;
}

std::string ReadFileText(const std::string &strPath)
{
    std::string strText;
    FILE *pFile = fopen(strPath.c_str(), "rb");
    if (pFile == nullptr)
        return "(no file)";
    char acBuffer[4096];
    for (size_t n; (n = fread(acBuffer, 1, sizeof acBuffer, pFile)) > 0;)
        strText.append(acBuffer, n);
    fclose(pFile);
    // The log is a text file with CR LF line ends.
    std::string strPlain;
    for (size_t i = 0; i < strText.size(); ++i)
        if (!(strText[i] == '\r' && i + 1 < strText.size() && strText[i + 1] == '\n'))
            strPlain += strText[i];
    return strPlain;
}

// The environment block: this program's own, with the scenario's settings and UTC.
std::vector<char> Environment(const std::string &strSettings)
{
    std::vector<char> acBlock;
    char *pszAll = GetEnvironmentStringsA();
    for (const char *psz = pszAll; *psz != '\0'; psz += strlen(psz) + 1)
        if (strncmp(psz, "KYNSIM_", 7) != 0 && strncmp(psz, "TZ=", 3) != 0)
            acBlock.insert(acBlock.end(), psz, psz + strlen(psz) + 1);
    FreeEnvironmentStringsA(pszAll);
    std::string strAdded = "TZ=UTC " + strSettings;
    for (size_t nStart = 0; nStart < strAdded.size();) {
        size_t nEnd = strAdded.find(' ', nStart);
        if (nEnd == std::string::npos)
            nEnd = strAdded.size();
        if (nEnd > nStart) {
            acBlock.insert(acBlock.end(), strAdded.begin() + nStart, strAdded.begin() + nEnd);
            acBlock.push_back('\0');
        }
        nStart = nEnd + 1;
    }
    acBlock.push_back('\0');
    return acBlock;
}

// Every row the screen still shows, from the first that is a line of the log, is in the log
// in the same order; the log may hold one line more, which it got before the console did.
bool ScreenRowsInLog(std::string strScreen, const std::string &strLog, std::string &strWhy)
{
    // A progress line the interrupt left standing is no line of the log.
    size_t nLastRow = strScreen.rfind('\n', strScreen.size() - 2) + 1;
    if (strScreen.compare(nLastRow, 9, "Writing: ") == 0 || strScreen.compare(nLastRow, 14, "Reading back: ") == 0)
        strScreen.erase(nLastRow);
    for (size_t nRow = 0; nRow < strScreen.size(); nRow = strScreen.find('\n', nRow) + 1) {
        std::string strRow = strScreen.substr(nRow, strScreen.find('\n', nRow) + 1 - nRow);
        size_t nAt = strLog.find("\n" + strRow);
        if (strRow.size() < 2 || nAt == std::string::npos)
            continue;
        std::string strShown = strScreen.substr(nRow);
        std::string strRest = strLog.substr(nAt + 1);
        if (strRest.compare(0, strShown.size(), strShown) != 0)
            strWhy = "the screen shows what the log does not have";
        else if (std::count(strRest.begin() + (long)strShown.size(), strRest.end(), '\n') > 1)
            strWhy = "the log has more than one line past the screen";
        return strWhy.empty();
    }
    strWhy = "no row of the screen is in the log";
    return false;
}

// wine's console keeps a read of a program that ended while it waited (the tool that Ctrl-C ends
// from its handler thread while _getch waits), and that read takes the next input event, which
// would be the next scenario's first key. A focus event written in its place is taken instead;
// one that stays in the buffer shows that no such read is left. Returns how many were taken.
int DrainReadsOfEndedPrograms()
{
    int nTaken = 0;
    for (int nTry = 0; nTry < 100; ++nTry) {
        FlushConsoleInputBuffer(g_hInput);
        INPUT_RECORD probe;
        memset(&probe, 0, sizeof probe);
        probe.EventType = FOCUS_EVENT;
        probe.Event.FocusEvent.bSetFocus = TRUE;
        DWORD nWritten = 0, nWaiting = 0;
        WriteConsoleInputW(g_hInput, &probe, 1, &nWritten);
        if (!GetNumberOfConsoleInputEvents(g_hInput, &nWaiting) || nWaiting > 0)
            break;
        ++nTaken;
    }
    FlushConsoleInputBuffer(g_hInput);
    return nTaken;
}

bool RunScenario(const Scenario &scenario, const std::string &strTool, const std::string &strRunDir, FILE *pReport)
{
    std::string strDir = strRunDir + "\\" + scenario.pszName;
    CreateDirectoryA(strDir.c_str(), nullptr);
    DeleteFileA((strDir + "\\DuzeDevazu.log").c_str());
    ClearScreen();
    // Each scenario from the console's own input mode and an empty input buffer, whatever the
    // one before left.
    SetConsoleMode(g_hInput, g_nInputMode);
    if (int nTaken = DrainReadsOfEndedPrograms())
        fprintf(pReport, "note %s: %d read(s) of an ended program were still waiting (wine)\n", scenario.pszName,
                nTaken);

    std::string strCommand = "\"" + strTool + "\" " + scenario.pszArgs;
    std::vector<char> acEnvironment = Environment(scenario.pszSettings);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(strTool.c_str(), &strCommand[0], nullptr, nullptr, FALSE, 0, acEnvironment.data(),
                        strDir.c_str(), &startup, &process)) {
        fprintf(pReport, "FAIL %s: the tool does not start (%lu)\n", scenario.pszName, GetLastError());
        return false;
    }
    std::string strWhy;
    for (const Step &step : scenario.aSteps) {
        if (step.cAction == 'k')
            TypeKeys(step.strText);
        else if (step.cAction == 'c')
            PressKey('C', 3, LEFT_CTRL_PRESSED);
        else if (step.cAction == 'p')
            Sleep((DWORD)atoi(step.strText.c_str()));
        else if (step.cAction == 'w' && !WaitForScreen(step.strText) && strWhy.empty())
            strWhy = "never showed '" + step.strText + "'";
    }
    DWORD nStatus = 0;
    if (WaitForSingleObject(process.hProcess, kDeadlineMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
        if (strWhy.empty())
            strWhy = "did not end";
    }
    GetExitCodeProcess(process.hProcess, &nStatus);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::string strScreen = ReadScreen();
    const std::string kBanner = "DuzeDevazu " DUZE_VERSION " - register test tool for KYN interface boards\n";
    std::string strPastBanner = strScreen.compare(0, kBanner.size(), kBanner) == 0 ? strScreen.substr(kBanner.size()) : strScreen;
    std::string strLog = ReadFileText(strDir + "\\DuzeDevazu.log");
    if (strWhy.empty() && (int)nStatus != scenario.nStatus)
        strWhy = "ended with status " + std::to_string(nStatus) + ", not " + std::to_string(scenario.nStatus);
    if (strWhy.empty() && !scenario.strScreen.empty() && strPastBanner != Wrapped(scenario.strScreen))
        strWhy = "the screen differs";
    if (strWhy.empty() && scenario.strLog == "screen")
        ScreenRowsInLog(strScreen, strLog, strWhy);
    else if (strWhy.empty() && strLog != scenario.strLog)
        strWhy = "the log differs";
    if (strWhy.empty()) {
        fprintf(pReport, "PASS %s\n", scenario.pszName);
        return true;
    }
    fprintf(pReport, "FAIL %s: %s\n--- screen:\n%s--- log:\n%s--- expected screen:\n%s--- expected log:\n%s---\n",
            scenario.pszName, strWhy.c_str(), strScreen.c_str(), strLog.c_str(), scenario.strScreen.c_str(),
            scenario.strLog.c_str());
    return false;
}

// Ctrl-C reaches every program on the console; this one stays.
BOOL WINAPI KeepRunning(DWORD)
{
    return TRUE;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: console_tests TOOL.exe RUN-DIRECTORY REPORT-FILE [SCENARIO,...]\n");
        return 100;
    }
    FILE *pReport = fopen(argv[3], "w");
    if (pReport == nullptr)
        return 101;
    g_hInput = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    g_hScreen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    DWORD nMode = 0;
    if (!GetConsoleMode(g_hInput, &nMode)) {
        fprintf(pReport, "FAIL no console: run this program with a terminal on its standard input\n");
        fclose(pReport);
        return 102;
    }
    g_nInputMode = nMode;
    SetConsoleCtrlHandler(KeepRunning, TRUE);
    CreateDirectoryA(argv[2], nullptr);
    int nFailed = 0;
    for (const Scenario &scenario : Scenarios()) {
        if (argc == 5 && ("," + std::string(argv[4]) + ",").find("," + std::string(scenario.pszName) + ",") == std::string::npos)
            continue;
        if (!RunScenario(scenario, argv[1], argv[2], pReport))
            ++nFailed;
        fflush(pReport);
    }
    ClearScreen();
    fprintf(pReport, "%d of %d failed\n", nFailed, (int)Scenarios().size());
    fclose(pReport);
    return nFailed;
}
