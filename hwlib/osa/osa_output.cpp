// osa_output.cpp - the console's output: its own buffer and write loop, so that an interrupted write
// loses nothing, a console write that fails is reported, and an interrupt never waits for a console.
#include "osa_output.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "osa_host.h"
#include "osa_library.h"
#include "printable.h"

namespace {

// Text not yet written: a file or pipe gets it in large blocks, a terminal at once.
char g_acHeld[kOsaHeldBlock];
size_t g_nHeld = 0;
int g_nTerminal = -1;
// Once a write failed, the console stays failed: nothing more is written, every print says so.
bool g_bFailed = false;
int g_nFailedErrno = 0;

bool Fail(int nErrno)
{
    g_bFailed = true;
    g_nFailedErrno = nErrno;
    g_nHeld = 0;
    errno = nErrno;
    return false;
}

// Writes all of it. An interrupted write goes on where it stopped, so that the console gets
// every byte; but once an interrupt is ending the run, only as long as the console takes text:
// a console that takes nothing for a while (output stopped, a pipe nobody reads) is left.
bool WriteOut(const char *pText, size_t nLength, bool bEnding)
{
    int nStalls = 0;
    while (nLength > 0) {
        bEnding = bEnding || g_nOsaPendingSignal != 0;
        long nWritten = OsaHostWriteOutput(pText, nLength);
        if (nWritten > 0) {
            pText += nWritten;
            nLength -= (size_t)nWritten;
            nStalls = 0;
        } else if (nWritten < 0 && errno == EINTR) {
            // Woken again and again without a byte taken.
            if ((bEnding || g_nOsaPendingSignal != 0) && ++nStalls * kOsaStallMs > kOsaEndingPatienceMs)
                return true;
        } else if (nWritten < 0 && errno == EAGAIN) {
            // Standard output left non-blocking by whoever shares it: wait for room.
            if (!OsaHostWaitOutputWritable(bEnding ? kOsaEndingPatienceMs : -1))
                return bEnding && errno == ETIMEDOUT ? true : Fail(errno);
        } else {
            return Fail(nWritten == 0 ? EIO : errno);
        }
    }
    return true;
}

// A terminal shows each text at once, as a console would, a line redrawn in place included.
bool ToTerminal()
{
    if (g_nTerminal < 0)
        g_nTerminal = OsaHostOutputIsTerminal() ? 1 : 0;
    return g_nTerminal == 1;
}

} // namespace

bool OsaOutputFlush()
{
    if (g_bFailed) {
        errno = g_nFailedErrno;
        return false;
    }
    size_t nHeld = g_nHeld;
    g_nHeld = 0;
    return WriteOut(g_acHeld, nHeld, false);
}

void OsaOutputFlushAtExit(bool bEndingOnSignal)
{
    if (g_bFailed || g_nHeld == 0)
        return;
    size_t nHeld = g_nHeld;
    g_nHeld = 0;
    WriteOut(g_acHeld, nHeld, bEndingOnSignal);
}

int32_t OsaOutputText(const char *pText, size_t nLength)
{
    if (g_bFailed) {
        errno = g_nFailedErrno;
        return -1;
    }
    if (nLength > sizeof g_acHeld - g_nHeld) {
        if (!OsaOutputFlush())
            return -1;
        if (nLength > sizeof g_acHeld)
            return WriteOut(pText, nLength, false) ? (int32_t)nLength : -1;
    }
    memcpy(g_acHeld + g_nHeld, pText, nLength);
    g_nHeld += nLength;
    if ((ToTerminal() || nLength == 0) && !OsaOutputFlush())
        return -1;
    return (int32_t)nLength;
}

int32_t OsaOutputV(const char *pszFormat, va_list args)
{
    if (g_bFailed) {
        errno = g_nFailedErrno;
        return -1;
    }
    va_list argsAgain;
    va_copy(argsAgain, args);
    size_t nRoom = sizeof g_acHeld - g_nHeld;
    int nLength = vsnprintf(g_acHeld + g_nHeld, nRoom, pszFormat, args);
    int32_t nResult = nLength;
    if (nLength >= 0 && (size_t)nLength < nRoom) {
        // Formatted in place; an empty text writes what is held.
        g_nHeld += (size_t)nLength;
        if ((ToTerminal() || nLength == 0) && !OsaOutputFlush())
            nResult = -1;
    } else if (nLength >= 0) {
        // Too long for what is left: formatted again on its own.
        char *pszText = (char *)malloc((size_t)nLength + 1);
        if (pszText != nullptr) {
            vsnprintf(pszText, (size_t)nLength + 1, pszFormat, argsAgain);
            nResult = OsaOutputText(pszText, (size_t)nLength);
            free(pszText);
        } else {
            nResult = -1;
            errno = ENOMEM;
        }
    }
    va_end(argsAgain);
    return nResult;
}

void OsaFatal(const std::string &strMessage)
{
    OsaOutputFlush();
    // Names and values from outside (paths, settings) can reach the screen only as printable text.
    fprintf(stderr, "%s\n", Printable(strMessage).c_str());
    fflush(stderr);
    // Through the exit handlers: the tool's log keeps what was shown, the terminal is put back.
    exit(2);
}
