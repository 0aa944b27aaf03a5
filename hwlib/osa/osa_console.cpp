// osa_console.cpp - the Osa console both hardware libraries share, its host-independent part: command
// string, key and line reads, formatted output, upper-casing, local time; the host layer supplies the
// keyboard, the terminal, interrupts, the clock and sleep.
#include <errno.h>
#include <stdlib.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "osa_host.h"
#include "osa_library.h"
#include "osa_output.h"
#include "osa_trace.h"

namespace {

// A line's characters: the interface's 64-byte buffer, less the line's end.
const size_t kLineChars = kDuzeLineSize - 1;

// Command string handed over by OsaConsoleInput; read before the keyboard.
const char *g_pszInput = nullptr;
// How lines end where the interface leaves it to the library.
OsaConsoleRules g_rules;

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
        if (c == ';' || (c == '\n' && !g_rules.bLinesEndOnlyAtSemicolon))
            break;
        if (c == '\r' && !g_rules.bLinesEndOnlyAtSemicolon) {
            if (*g_pszInput == '\n')
                ++g_pszInput;
            break;
        }
        if (nLength < kLineChars)
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
        OsaCheckSignal();
        if (!ferror(stdin)) {
            g_nInputGone = OSA_KEY_END_OF_INPUT;
            return g_nInputGone;
        }
        // Input left non-blocking by whoever shares it: wait for it as for any other.
        if (errno == EAGAIN && !OsaHostWaitInput() && errno != EINTR)
            errno = EIO;
        if (errno != EINTR && errno != EAGAIN) {
            g_nInputGone = OSA_KEY_READ_ERROR;
            return g_nInputGone;
        }
        clearerr(stdin);
    }
}

// A line from a pipe or file ends at LF, CR or CR LF, or at the end of the input, so that a
// script's last line needs no line end; past 63 characters the rest is dropped. False when the
// input is gone before the line began, or a failed read cut it short, or a connection that can
// drop ended before the line's end: what came may be half of a number.
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
        if (nLength < kLineChars)
            pszBuffer[nLength++] = (char)c;
    }
    pszBuffer[nLength] = '\0';
    return c != OSA_KEY_READ_ERROR && !(c == OSA_KEY_END_OF_INPUT && OsaHostInputCanDrop());
}

// Echoed line editing at the keyboard: Backspace removes, Enter ends, Ctrl-D or Ctrl-Z on
// an empty line is the end of input, past 63 characters keys are dropped. Tabs are kept, as
// from a pipe: a line of blanks is not empty. Only Enter finishes a line: one that a lost
// keyboard cut short is no line.
bool ReadLineFromKeyboard(char *pszBuffer)
{
    size_t nLength = 0;
    for (;;) {
        int c = OsaHostReadKey();
        // Arrows and function keys have no place in a number: both their codes are dropped.
        if (c == 0 || c == 0xE0) {
            c = OsaHostReadKey();
            if (c >= 0)
                continue;
        }
        if (c < 0)
            g_nInputGone = c;
        else if ((c == 0x04 || c == 0x1A) && nLength == 0)
            g_nInputGone = OSA_KEY_END_OF_INPUT;
        if (g_nInputGone != 0 || c == '\n' || c == '\r') {
            if (g_nInputGone != 0 || !g_rules.bEchoWithoutLineEnd)
                OsaOutputText("\n", 1);
            break;
        }
        if (c == 0x7F || c == 0x08) {
            if (nLength > 0) {
                --nLength;
                OsaOutputText("\b \b", 3);
            }
        } else if ((c >= 0x20 || c == '\t') && nLength < kLineChars) {
            pszBuffer[nLength++] = (char)c;
            char cEcho = (char)c;
            OsaOutputText(&cEcho, 1);
        }
    }
    pszBuffer[nLength] = '\0';
    return g_nInputGone == 0;
}

// Key codes handed over by the library, returned before any other input.
std::vector<int32_t> g_anInjectedKeys;
size_t g_nInjectedKeysUsed = 0;

} // namespace

void (*volatile g_pfnOsaOnInterrupt)() = nullptr;

namespace {

// The library's hook before every key or line read (OsaOnInput), or null.
void (*g_pfnOnInput)() = nullptr;

} // namespace

void OsaOnInput(void (*pfnOnInput)())
{
    g_pfnOnInput = pfnOnInput;
}

void OsaOnInterrupt(void (*pfnOnInterrupt)())
{
    g_pfnOsaOnInterrupt = pfnOnInterrupt;
}

void OsaSetConsoleRules(const OsaConsoleRules &rules)
{
    g_rules = rules;
}

void OsaInjectKeys(const std::vector<int32_t> &anKeys)
{
    g_anInjectedKeys = anKeys;
    g_nInjectedKeysUsed = 0;
}

void OsaLibraryPrint(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    OsaOutputV(pszFormat, args);
    va_end(args);
}

extern "C" {

// The trace starts here, so that a trace file that cannot be made stops the run before the
// tool has opened anything.
void KYNHW_CALL OsaConsoleInit(void)
{
    KynLibStartConsole();
    if (OsaTracing())
        OsaTrace("ConsoleInit()\n");
    OsaHostConsoleInit();
}

void KYNHW_CALL OsaConsoleExit(void)
{
    if (OsaTracing())
        OsaTrace("ConsoleExit()\n");
    OsaOutputFlush();
    OsaHostConsoleExit();
}

void KYNHW_CALL OsaThreadSleep(int32_t nMilliseconds)
{
    if (OsaTracing())
        OsaTrace("ThreadSleep(%d)\n", (int)nMilliseconds);
    OsaHostSleep(nMilliseconds);
}

int32_t KYNHW_CALL OsaConsolePrintF(const char *pszFormat, va_list args)
{
    int32_t nLength = OsaOutputV(pszFormat, args);
    // After the text: what the tool gave the log before this call is shown too.
    OsaCheckSignal();
    return nLength;
}

void KYNHW_CALL OsaConsoleInput(const char *pszText)
{
    g_pszInput = pszText;
}

int32_t KYNHW_CALL OsaConsoleGetCh(void)
{
    OsaCheckSignal();
    if (g_pfnOnInput != nullptr)
        g_pfnOnInput();
    if (g_nInjectedKeysUsed < g_anInjectedKeys.size())
        return g_anInjectedKeys[g_nInjectedKeysUsed++];
    // The command string's keys are single keys: its 0xE0 must not take the next one with it.
    if (InputLeft()) {
        int c = (unsigned char)*g_pszInput++;
        return c == 0xE0 || c == 0 ? 0x100 | c : c;
    }
    if (g_nInputGone != 0)
        return g_nInputGone;
    // Whoever answers through a pipe or at the keyboard sees the prompt first; an interrupt that
    // came while it was written ends the run before the read waits.
    OsaOutputFlush();
    OsaCheckSignal();
    if (!OsaHostKeyboardInput())
        return ReadStreamChar();
    int c = OsaHostReadKey();
    if (c < 0)
        g_nInputGone = c;
    return c;
}

char *KYNHW_CALL OsaConsoleGetStr(char *pszBuffer)
{
    OsaCheckSignal();
    if (g_pfnOnInput != nullptr)
        g_pfnOnInput();
    if (InputLeft()) {
        ReadLineFromInput(pszBuffer);
        return pszBuffer;
    }
    pszBuffer[0] = '\0';
    if (g_nInputGone != 0)
        return nullptr;
    OsaOutputFlush();
    OsaCheckSignal();
    bool bLine = OsaHostKeyboardInput() ? ReadLineFromKeyboard(pszBuffer) : ReadLineFromStream(pszBuffer);
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
    if (pnSeconds == nullptr || *pnSeconds >= 1833029933770ull || !OsaHostLocalTime((int64_t)*pnSeconds, &local))
        return nullptr;
    s_time.nSecond = local.tm_sec;
    s_time.nMinute = local.tm_min;
    s_time.nHour = local.tm_hour;
    s_time.nDayOfMonth = local.tm_mday;
    s_time.nMonth = local.tm_mon;
    return &s_time;
}

} // extern "C"
