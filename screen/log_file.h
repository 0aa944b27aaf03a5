// log_file.h - the log file (log_file.cpp): opened once, written through its own buffer, every write,
// commit and close checked. The screen (screen.h) is its only user.
#ifndef DUZE_LOG_FILE_H
#define DUZE_LOG_FILE_H

#include <stddef.h>

// Opens the log file, emptied and held for the run; false when it cannot be, with a reason
// in *ppszWhy where the tool refused it (in use, a pipe nobody reads), else null. At the first
// failed write, commit or close, pfnFailed gets the log's name and the reason, once.
bool LogFileOpen(const char *pszName, const char **ppszWhy, void (*pfnFailed)(const char *pszName, const char *pszReason));

// Whether the log is open and takes text: it has not failed.
bool LogFileWritable();

// The log's copy of a message; nothing once the log is closed or could not be written.
void LogFileWrite(const char *pText, size_t nLength);

// Before a read that may wait: the log's text goes to the system, and to disk when
// bCommit (a person is at the keyboard and the machine may hang while the tool waits).
void LogFileFlush(bool bCommit);

// Closes the log; returns nStatus, or -1 when any of the log could not be written.
int LogFileClose(int nStatus);

#endif
