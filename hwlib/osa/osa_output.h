// osa_output.h - the console's output: every text the console shows goes through here, held in a buffer
// for a file or pipe, written at once to a terminal, its failure kept and reported.
#ifndef KYN_OSA_OUTPUT_H
#define KYN_OSA_OUTPUT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

// Formats and shows text; its length, or -1 with errno set once the console cannot be written.
int32_t OsaOutputV(const char *pszFormat, va_list args);
int32_t OsaOutputText(const char *pText, size_t nLength);
// Writes what is held; false (errno set) when the console cannot be written.
bool OsaOutputFlush();
// At exit: what is held is written; when an interrupt ends the run, only as long as the
// console takes it.
void OsaOutputFlushAtExit(bool bEndingOnSignal);

#endif
