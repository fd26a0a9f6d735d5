// The log file as it is used for one record: opened for appending, locked
// against the other writers of the same file (threads and processes alike)
// while the record's bytes go out, then closed again (which releases the
// lock).
#ifndef KESTRELNODE9_LOG_FILE_H
#define KESTRELNODE9_LOG_FILE_H

#include <windows.h>

struct LOG_FILE {
    HANDLE handle;
    volatile LONG *lockWord; // the shared writer lock held, or null
};

// Opens (creating when missing) and locks the file; FALSE when it can't be
// opened, for example while someone holds it without sharing.
BOOL OpenLogFile(const char *path, LOG_FILE *file);
// FALSE when the bytes could not all be written (a full disk, a foreign
// lock on the range).
BOOL AppendLogFile(LOG_FILE *file, const void *bytes, DWORD length);
void CloseLogFile(LOG_FILE *file);

#endif
