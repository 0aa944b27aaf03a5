// progress_line.cpp - the progress line of a long job: when it is drawn, what it says, that it is gone
// before any other output, and how each host draws it without touching the text around it: on
// POSIX on the row below the cursor, which is saved and restored; on Windows over the cursor's row,
// whose text is read from the console and written back. Never wider than the terminal.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#if defined(_WIN32)
#include <windows.h>

#include <algorithm>
#include <initializer_list>
#else
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "KynHwDll.h"
#include "tool_host.h"
#include "progress_line.h"

namespace {

// The drawing goes through the library's console, as all the tool's screen text does.
void ToConsole(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    OsaConsolePrintF(pszFormat, args);
    va_end(args);
}

// Whether a line can be drawn: standard output is a terminal or console the tool knows how to
// draw on. Draw turns *pbShown true before the line's text goes out: an interrupt may end the run
// inside that write, and the way out must still find a line to take away. Erase leaves the screen
// as it was before the line was drawn.
#if defined(_WIN32)
// What the cursor's row held when the progress line was drawn over it, read from the console
// itself, and how wide the line was drawn.
char g_szRowText[512];
int g_nRowLength = 0;
int g_nDrawnWidth = 0;

bool CanDraw()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    return GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) && info.dwSize.X >= 20;
}

// Over the cursor's row: whatever the row holds (prompts, an echoed answer, a wrapped line's
// last part) is read from the console first and written back when the line goes.
void Draw(const char *pszText, bool *pbShown)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleScreenBufferInfo(hOut, &info) || info.dwSize.X < 2)
        return;
    if (!*pbShown) {
        DWORD nRead = 0;
        COORD rowStart = {0, info.dwCursorPosition.Y};
        DWORD nWanted = std::min<DWORD>((DWORD)info.dwCursorPosition.X, sizeof g_szRowText - 1);
        if (!ReadConsoleOutputCharacterA(hOut, g_szRowText, nWanted, rowStart, &nRead))
            nRead = 0;
        g_nRowLength = (int)nRead;
        g_nDrawnWidth = 0;
    }
    int nWidth = std::min(std::max({(int)strlen(pszText), g_nDrawnWidth, g_nRowLength}), (int)info.dwSize.X - 1);
    g_nDrawnWidth = nWidth;
    *pbShown = true;
    ToConsole("\r%-*.*s", nWidth, nWidth, pszText);
}

void Erase()
{
    ToConsole("\r%*s\r%.*s", g_nDrawnWidth, "", g_nRowLength, g_szRowText);
}

#else
// A terminal that knows the cursor sequences (save, restore, index, reverse index, erase below)
// and tells its width.
bool CanDraw()
{
    const char *pszTerm = getenv("TERM");
    struct winsize size;
    return isatty(STDOUT_FILENO) != 0 && pszTerm != nullptr && *pszTerm != '\0' && strcmp(pszTerm, "dumb") != 0 &&
           ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20;
}

// On the row below the cursor, which keeps its place: nothing on the cursor's row is touched,
// whatever the console echoed there. The first draw makes that row (the screen scrolls when
// the cursor is on its last row); the text stops a column short of the edge, so it never wraps.
// Everything below the cursor's row is erased, not only that row: a terminal narrowed meanwhile
// may have wrapped the last line drawn onto the rows under it.
void Draw(const char *pszText, bool *pbShown)
{
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2)
        return;
    bool bFirst = !*pbShown;
    *pbShown = true;
    ToConsole("%s\0337\033D\r\033[J%.*s\0338", bFirst ? "\033D\033M" : "", (int)size.ws_col - 1, pszText);
}

void Erase()
{
    ToConsole("\0337\033D\r\033[J\0338");
}

#endif

// A test at a terminal only, and only where the host can draw the line without touching the text.
bool g_bProgress = false;
bool g_bShown = false;
uint32_t g_nFirstDrawMs = 1000, g_nRedrawMs = 250;
uint32_t g_nStart = 0, g_nNext = 0;
uint64_t g_nWords = 0; // per pass

} // namespace

void SetProgressTiming(uint32_t nFirstDrawMs, uint32_t nRedrawMs)
{
    g_nFirstDrawMs = nFirstDrawMs;
    g_nRedrawMs = nRedrawMs;
}

int FormatProgress(char *pszText, size_t nSize, int nPass, uint64_t nDone, uint64_t nWords, int32_t nErrors,
                   uint32_t nElapsedMs)
{
    uint64_t nAllDone = (uint64_t)nPass * nWords + nDone, nAll = 2 * nWords;
    uint64_t nPerSecond = nElapsedMs > 0 ? nAllDone * 1000 / nElapsedMs : 0;
    uint64_t nLeft = nPerSecond > 0 ? (nAll - nAllDone + nPerSecond - 1) / nPerSecond : 0;
    return snprintf(pszText, nSize, "%s: %u%% done, %llu words/s, %d errors, %u:%02u:%02u left",
                    nPass == 0 ? "Writing" : "Reading back", (unsigned)(nWords > 0 ? nDone * 100 / nWords : 100),
                    (unsigned long long)nPerSecond, (int)nErrors, (unsigned)(nLeft / 3600), (unsigned)(nLeft / 60 % 60),
                    (unsigned)(nLeft % 60));
}

void ProgressBegin(uint64_t nWords)
{
    g_bProgress = CanDraw();
    g_bShown = false;
    g_nWords = nWords;
    g_nStart = HostMilliseconds();
    g_nNext = g_nStart + g_nFirstDrawMs;
}

void ProgressUpdate(int nPass, uint64_t nDone, int32_t nErrors)
{
    if (!g_bProgress)
        return;
    uint32_t nNow = HostMilliseconds();
    if ((int32_t)(nNow - g_nNext) < 0)
        return;
    g_nNext = nNow + g_nRedrawMs;
    char szText[128];
    FormatProgress(szText, sizeof szText, nPass, nDone, g_nWords, nErrors, nNow - g_nStart);
    Draw(szText, &g_bShown);
}

void ProgressHide()
{
    if (!g_bShown)
        return;
    g_bShown = false;
    Erase();
}

void ProgressEnd()
{
    ProgressHide();
    g_bProgress = false;
}
