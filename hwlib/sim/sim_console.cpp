// sim_console.cpp - the simulated console's host-independent part: command string, key and line reads,
// formatted output, upper-casing, local time; the host parts supply the keyboard, clock and sleep.
#include <errno.h>
#include <stdlib.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "sim_internal.h"

namespace {

// Command string handed over by OsaConsoleInput; read before the keyboard.
const char *g_pszInput = nullptr;

inline bool InputLeft()
{
    return g_pszInput != nullptr && *g_pszInput != '\0';
}

// A line from the command string ends at LF, CR, CR LF (once) or ';' - easy to type in a
// shell, and never a command key - or at the string's end.
void ReadLineFromInput(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        char c = *g_pszInput;
        if (c == '\0')
            break;
        ++g_pszInput;
        if (c == '\n' || c == ';')
            break;
        if (c == '\r') {
            if (*g_pszInput == '\n')
                ++g_pszInput;
            break;
        }
        if (nLength < 63)
            pszBuffer[nLength++] = c;
    }
    pszBuffer[nLength] = '\0';
}

// Once standard input or the keyboard has ended or failed, its code: every later read
// returns it again, as the interface promises.
int32_t g_nInputGone = 0;

// getchar, but an interrupt ends the run instead of looking like the end of input, and a
// failed read is told from the end.
int ReadStreamChar()
{
    if (g_nInputGone != 0)
        return g_nInputGone;
    for (;;) {
        int c = getchar();
        if (c != EOF)
            return c;
        SimCheckSignal();
        if (!ferror(stdin)) {
            g_nInputGone = OSA_KEY_END_OF_INPUT;
            return g_nInputGone;
        }
        if (errno != EINTR) {
            g_nInputGone = OSA_KEY_READ_ERROR;
            return g_nInputGone;
        }
        clearerr(stdin);
    }
}

// A line from a pipe or file ends at LF, CR or CR LF, or at the end of the input; past 63
// characters the rest is dropped. False when the input is gone before the line began.
bool ReadLineFromStream(char *pszBuffer)
{
    size_t nLength = 0;
    int c = ReadStreamChar();
    if (c < 0)
        return false;
    for (; c >= 0 && c != '\n'; c = ReadStreamChar()) {
        if (c == '\r') {
            int cNext = ReadStreamChar();
            if (cNext != '\n' && cNext >= 0)
                ungetc(cNext, stdin);
            break;
        }
        if (nLength < 63)
            pszBuffer[nLength++] = (char)c;
    }
    pszBuffer[nLength] = '\0';
    return true;
}

// Echoed line editing at the keyboard: Backspace removes, Enter ends, Ctrl-D or Ctrl-Z on
// an empty line is the end of input, past 63 characters keys are dropped. Tabs are kept, as
// from a pipe: a line of blanks is not empty.
bool ReadLineFromKeyboard(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        int c = SimHostReadKey();
        // Arrows and function keys have no place in a number: both their codes are dropped.
        if (c == 0 || c == 0xE0) {
            c = SimHostReadKey();
            if (c >= 0)
                continue;
        }
        if (c < 0)
            g_nInputGone = c;
        else if ((c == 0x04 || c == 0x1A) && nLength == 0)
            g_nInputGone = OSA_KEY_END_OF_INPUT;
        if (g_nInputGone != 0 || c == '\n' || c == '\r') {
            fputs("\n", stdout);
            fflush(stdout);
            break;
        }
        if (c == 0x7F || c == 0x08) {
            if (nLength > 0) {
                --nLength;
                fputs("\b \b", stdout);
            }
        } else if ((c >= 0x20 || c == '\t') && nLength < 63) {
            pszBuffer[nLength++] = (char)c;
            fputc(c, stdout);
        }
        fflush(stdout);
    }
    pszBuffer[nLength] = '\0';
    return g_nInputGone == 0 || nLength > 0;
}

FILE *g_pTrace = nullptr;
bool g_bTraceOpened = false;

void CloseTrace()
{
    if (g_pTrace != nullptr)
        fclose(g_pTrace);
    g_pTrace = nullptr;
}

} // namespace

void SimTrace(const char *pszFormat, ...)
{
    if (!g_bTraceOpened) {
        g_bTraceOpened = true;
        const std::string &strPath = SimGetSettings().strTracePath;
        if (!strPath.empty()) {
            g_pTrace = fopen(strPath.c_str(), "w");
            if (g_pTrace == nullptr)
                SimHostFatal("kynsim: bad setting KYNSIM_TRACE=" + strPath + ": cannot create the file");
            atexit(CloseTrace);
        }
    }
    if (g_pTrace == nullptr)
        return;
    va_list args;
    va_start(args, pszFormat);
    vfprintf(g_pTrace, pszFormat, args);
    va_end(args);
}

void SimConsolePrint(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vfprintf(stdout, pszFormat, args);
    va_end(args);
}

std::vector<std::pair<std::string, std::string>> SimParseEnvironment(char **ppszEnvironment)
{
    std::vector<std::pair<std::string, std::string>> aEnv;
    for (char **ppsz = ppszEnvironment; ppsz != nullptr && *ppsz != nullptr; ++ppsz) {
        if (strncmp(*ppsz, "KYNSIM_", 7) != 0)
            continue;
        const char *pszEq = strchr(*ppsz, '=');
        if (pszEq != nullptr)
            aEnv.emplace_back(std::string(*ppsz, (size_t)(pszEq - *ppsz)), std::string(pszEq + 1));
    }
    return aEnv;
}

extern "C" {

// The trace starts here, so that a trace file that cannot be made stops the run before the
// tool has opened anything.
void KYNHW_CALL OsaConsoleInit(void)
{
    SimGetSettings();
    if (SimTracing())
        SimTrace("ConsoleInit()\n");
    SimHostConsoleInit();
}

void KYNHW_CALL OsaConsoleExit(void)
{
    if (SimTracing())
        SimTrace("ConsoleExit()\n");
    fflush(stdout);
    SimHostConsoleExit();
}

void KYNHW_CALL OsaThreadSleep(int32_t nMilliseconds)
{
    if (SimTracing())
        SimTrace("ThreadSleep(%d)\n", (int)nMilliseconds);
    SimHostSleep(nMilliseconds);
}

int32_t KYNHW_CALL OsaConsolePrintF(const char *pszFormat, va_list args)
{
    int32_t nLength = vfprintf(stdout, pszFormat, args);
    // After the text: what the tool gave the log before this call is shown too.
    SimCheckSignal();
    return nLength;
}

void KYNHW_CALL OsaConsoleInput(const char *pszText)
{
    g_pszInput = pszText;
}

int32_t KYNHW_CALL OsaConsoleGetCh(void)
{
    SimCheckSignal();
    static size_t s_nKeysUsed = 0; // of the KYNSIM_KEYS codes
    const std::vector<int32_t> &anKeys = SimGetSettings().anKeys;
    if (s_nKeysUsed < anKeys.size())
        return anKeys[s_nKeysUsed++];
    if (InputLeft())
        return (unsigned char)*g_pszInput++;
    if (g_nInputGone != 0)
        return g_nInputGone;
    // Whoever answers through a pipe or at the keyboard sees the prompt first.
    fflush(stdout);
    if (!SimHostKeyboardInput())
        return ReadStreamChar();
    int c = SimHostReadKey();
    if (c < 0)
        g_nInputGone = c;
    return c;
}

char *KYNHW_CALL OsaConsoleGetStr(char *pszBuffer)
{
    SimCheckSignal();
    if (InputLeft()) {
        ReadLineFromInput(pszBuffer);
        return pszBuffer;
    }
    pszBuffer[0] = '\0';
    if (g_nInputGone != 0)
        return nullptr;
    fflush(stdout);
    bool bLine = SimHostKeyboardInput() ? ReadLineFromKeyboard(pszBuffer) : ReadLineFromStream(pszBuffer);
    return bLine ? pszBuffer : nullptr;
}

char *KYNHW_CALL OsaStdStrUpr(char *pszText)
{
    for (char *p = pszText; p != nullptr && *p != '\0'; ++p)
        if (*p >= 'a' && *p <= 'z')
            *p = (char)(*p - 'a' + 'A');
    return pszText;
}

const OSA_LOCAL_TIME *KYNHW_CALL OsaStdLocalTime(const uint64_t *pnSeconds)
{
    static OSA_LOCAL_TIME s_time; // as the C library's localtime, one record reused
    struct tm local;
    if (pnSeconds == nullptr || *pnSeconds >= 1833029933770ull || !SimHostLocalTime((int64_t)*pnSeconds, &local))
        return nullptr;
    s_time.nSecond = local.tm_sec;
    s_time.nMinute = local.tm_min;
    s_time.nHour = local.tm_hour;
    s_time.nDayOfMonth = local.tm_mday;
    s_time.nMonth = local.tm_mon;
    return &s_time;
}

} // extern "C"
