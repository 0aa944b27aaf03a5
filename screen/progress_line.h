// progress_line.h - the progress line of a long job, drawn and taken away without touching the text
// around it; the console takes it away before any other text is shown.
#ifndef DUZE_PROGRESS_LINE_H
#define DUZE_PROGRESS_LINE_H

#include <stddef.h>
#include <stdint.h>

// The progress line of a long job (the memory test), at a terminal only: first shown after a
// second, redrawn four times a second, never wider than the terminal, never in the log, and gone
// before any other output and on every way out, so that the screen reads as if it never was.
// nWords is the job's words per pass; pass 0 writes, pass 1 reads back.
void ProgressBegin(uint64_t nWords);
void ProgressUpdate(int nPass, uint64_t nDone, int32_t nErrors);
void ProgressEnd();
// The progress line's text: pass, share done, speed, errors and time left; its length.
int FormatProgress(char *pszText, size_t nSize, int nPass, uint64_t nDone, uint64_t nWords, int32_t nErrors,
                   uint32_t nElapsedMs);
// For tests of the drawing: when the line first shows and how often it is redrawn.
void SetProgressTiming(uint32_t nFirstDrawMs, uint32_t nRedrawMs);

// Takes the progress line off the screen, if it is shown; it returns at its next redraw.
void ProgressHide();

#endif
