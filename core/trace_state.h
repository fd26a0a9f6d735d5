// Library state: the table of trace records keyed by thread or process, the
// library lock, and the values captured at load.
#ifndef KESTRELNODE9_TRACE_STATE_H
#define KESTRELNODE9_TRACE_STATE_H

#include <windows.h>

#include "kestrelnode9_tracelog.h"
#include "line_format.h"

struct PENDING_RECORD;

struct TRACE_RECORD {
    DWORD id;              // thread id, or process id in process mode
    HMODULE module;        // the host executable
    DWORD flags;           // never 0
    DWORD lastTick;        // tick of creation, then of the last text line
    int refCount;          // TraceStart calls not yet matched by TraceStop
    volatile LONG users;   // the table's hold plus every call using the record
    CRITICAL_SECTION lock; // held while the file is written; guards lastTick, filePath
    // Guards the queue of records waiting for the file, and filePath
    // together with lock (a change of path takes both).
    CRITICAL_SECTION queueLock;
    PENDING_RECORD *pendingFirst;
    PENDING_RECORD *pendingLast;
    char moduleName[TRACE_MODULE_NAME_ROOM];
    char filePath[256];
};

// Library-wide state; zero at load.
struct TRACE_LIBRARY {
    CRITICAL_SECTION lock; // recursive; guards the table and its counters
    HMODULE self;
    OSVERSIONINFOA windowsVersion;
    volatile LONG processMode;
    volatile LONG activeCount;
    int slotCount;
    DWORD slotKeys[TRACE_MAX_RECORDS];
    TRACE_RECORD *records[TRACE_MAX_RECORDS];
    // Open-addressing index from key to slot+1 (0: empty), so that a lookup
    // costs the same whether one or 256 traces are live.
    short keyIndex[2 * TRACE_MAX_RECORDS];
};

extern TRACE_LIBRARY g_trace;

void AttachTraceLibrary(HMODULE self);
void DetachTraceLibrary();

DWORD GetTraceKey();

// Table operations; the caller holds the library lock.
int FindRecordSlot(DWORD key);    // the live slot of key, or -1
void IndexRecordSlot(int slot);   // after records[slot] and slotKeys[slot] are set
void UnindexRecordSlot(int slot); // before records[slot] is cleared

// The caller's record with a hold on it, or null. Every non-null result must
// be given back with ReleaseTraceRecord; the record stays valid until then
// even when another thread stops the trace meanwhile.
TRACE_RECORD *AcquireTraceRecord();
void ReleaseTraceRecord(TRACE_RECORD *record);

void GetModuleVersionString(char out[64]);
void GetTimestampString(char out[32]);

#endif
