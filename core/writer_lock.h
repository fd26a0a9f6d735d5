// The lock that keeps the writers of one log file from interleaving, across
// threads and processes: a word in a small section of memory shared by every
// process of the session that uses this library, found by the file's
// identity. Taking and giving it back costs an interlocked instruction each,
// where a byte-range lock on the file costs a kernel call (under Wine a
// round trip to the server) both ways.
#ifndef KESTRELNODE9_WRITER_LOCK_H
#define KESTRELNODE9_WRITER_LOCK_H

#include <windows.h>

// Maps the shared section; false when it can't be had, in which case the
// log file falls back to byte-range locks. Called under the library lock
// before the first trace exists; later calls only report the outcome.
bool AttachWriterLocks();
void DetachWriterLocks();
bool WriterLocksAttached();

// The lock word of an open log file (path: its full path, used only when the
// file system can't name the file's identity).
volatile LONG *FindWriterLock(HANDLE file, const char *path);

// Waits for the word. A holder that has died is replaced at once; one that
// holds it past the wait limit is presumed stuck and replaced too, so that a
// lost holder costs each writer a bounded wait rather than every line.
void TakeWriterLock(volatile LONG *word);
void GiveWriterLock(volatile LONG *word);

#endif
