// batch.h - a batch run: one operation a line, as its option takes it, each answered at once, in
// text or JSON Lines.
#ifndef DUZE_BATCH_H
#define DUZE_BATCH_H

struct BoardHandles;
struct ProgramExtras;

// Reads the batch (--batch FILE, or - for standard input) to its end, answering each line; returns
// the worst status of its lines: 0, 1 for a failed access, 2 for a malformed line, 3 for a memory
// test's errors. Each line is parsed, resolved and run as its option is.
int RunBatch(const BoardHandles &devices, const ProgramExtras &extras);

#endif
