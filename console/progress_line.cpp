// progress_line.cpp - the progress line of a long job: when it is drawn, what it says, and that it
// is gone before any other output; where and how it is drawn is the host's (host_posix.cpp,
// host_win32.cpp), which never makes it wider than the terminal.
#include <stdio.h>

#include "console.h"
#include "host.h"
#include "progress_line.h"

namespace {

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
    g_bProgress = HostProgressPossible();
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
    HostProgressDraw(szText, &g_bShown);
}

void ProgressHide()
{
    if (!g_bShown)
        return;
    g_bShown = false;
    HostProgressErase();
}

void ProgressEnd()
{
    ProgressHide();
    g_bProgress = false;
}
