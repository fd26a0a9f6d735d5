// The exports that open, nest, close and configure a trace.
#include "trace_file.h"
#include "trace_state.h"
#include "trace_writer.h"

#include "text_format.h"
#include "writer_lock.h"

namespace
{

const char *ModeText()
{
    return g_trace.processMode ? "process" : "thread";
}

DWORD StoredFlags(DWORD flags)
{
    return flags ? flags : TRACE_HEXDUMP;
}

// The host program's name as the lines show it: the executable's base name
// without its extension, in upper case; the key in hexadecimal when the
// name can't be had.
void FillModuleName(TRACE_RECORD *record)
{
    char path[MAX_PATH + 1];
    DWORD length = record->module ? GetModuleFileNameA(record->module, path, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH) {
        FormatText(record->moduleName, sizeof(record->moduleName), "%08X",
                   (unsigned int)record->id);
        return;
    }
    path[length] = '\0';
    const char *base = path;
    for (const char *p = path; *p; p++) {
        if (*p == '\\')
            base = p + 1;
    }
    char name[MAX_PATH + 1];
    CopyText(name, sizeof(name), base);
    char *dot = NULL;
    for (char *p = name; *p; p++) {
        if (*p == '.')
            dot = p;
    }
    if (dot)
        *dot = '\0';
    CopyText(record->moduleName, sizeof(record->moduleName), name);
    for (char *p = record->moduleName; *p; p++) {
        if (*p >= 'a' && *p <= 'z')
            *p = (char)(*p - 'a' + 'A');
    }
}

void WriteStateLine(TRACE_RECORD *record, const char *format, bool started)
{
    char timestamp[32];
    GetTimestampString(timestamp);
    TRACE_CALL_STATE call = {0, 0};
    if (started) {
        char version[64];
        GetModuleVersionString(version);
        FormatTraceMessage(record, &call, 0, format, ModeText(), record->id, timestamp,
                           g_trace.windowsVersion.dwMajorVersion,
                           g_trace.windowsVersion.dwMinorVersion,
                           g_trace.windowsVersion.dwBuildNumber, version);
    } else {
        FormatTraceMessage(record, &call, 0, format, ModeText(), record->id, timestamp);
    }
}

int StartTraceLocked(const char *fileName, DWORD flags)
{
    bool overwrite = false;
    if (flags & TRACE_PROCESS) {
        flags &= ~TRACE_PROCESS;
        InterlockedExchange(&g_trace.processMode, 1);
    }
    if (flags & TRACE_OVERWRITE) {
        flags &= ~TRACE_OVERWRITE;
        overwrite = true;
    }
    DWORD key = GetTraceKey();

    int slot = FindRecordSlot(key);
    if (slot >= 0) {
        TRACE_RECORD *record = g_trace.records[slot];
        if (fileName && fileName[0] && !SetTraceFileName(record, fileName))
            return 0;
        record->refCount++;
        record->flags = StoredFlags(flags);
        return 1;
    }

    for (slot = 0; slot < g_trace.slotCount && g_trace.records[slot]; slot++) {
    }
    if (slot == g_trace.slotCount) {
        if (g_trace.slotCount == TRACE_MAX_RECORDS)
            return 0;
        g_trace.slotCount++;
    }
    // Before the first record exists, so that every writer finds it ready.
    AttachWriterLocks();
    TRACE_RECORD *record = (TRACE_RECORD *)LocalAlloc(LPTR, sizeof(TRACE_RECORD));
    if (!record)
        return 0;
    InitializeCriticalSection(&record->lock);
    // Held for a fraction of a microsecond: a short spin is cheaper than a
    // sleep and a wake-up.
    InitializeCriticalSectionAndSpinCount(&record->queueLock, 1000);
    record->users = 1; // the table's hold
    record->id = key;
    record->flags = StoredFlags(flags);
    record->lastTick = GetTickCount();
    record->refCount = 1;
    record->module = GetModuleHandleA(NULL);
    FillModuleName(record);
    g_trace.slotKeys[slot] = key;
    g_trace.records[slot] = record;
    IndexRecordSlot(slot);
    InterlockedIncrement(&g_trace.activeCount);

    if (!SetTraceFileName(record, fileName))
        return 0;
    if (overwrite) {
        DWORD attributes = GetFileAttributesA(record->filePath);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY))
            DeleteFileA(record->filePath);
    }
    WriteStateLine(record, "started %s 0x%04lX trace on %s Windows x86-%ld.%ld.%ld [%s]", true);
    return 1;
}

int StopTraceLocked()
{
    int slot = FindRecordSlot(GetTraceKey());
    if (slot < 0)
        return 0;
    TRACE_RECORD *record = g_trace.records[slot];
    if (--record->refCount > 0)
        return 1;
    WriteStateLine(record, "stopped %s 0x%04lX trace on %s", false);
    if (InterlockedDecrement(&g_trace.activeCount) == 0)
        g_trace.slotCount = 0;
    UnindexRecordSlot(slot);
    g_trace.records[slot] = NULL;
    // Writers still holding the record finish with it; the last one frees it.
    ReleaseTraceRecord(record);
    InterlockedExchange(&g_trace.processMode, 0);
    return 1;
}

} // namespace

extern "C" int WINAPI TraceStart(const char *fileName, DWORD flags)
{
    EnterCriticalSection(&g_trace.lock);
    int result = StartTraceLocked(fileName, flags);
    LeaveCriticalSection(&g_trace.lock);
    return result;
}

extern "C" int WINAPI TraceStop(void)
{
    EnterCriticalSection(&g_trace.lock);
    int result = StopTraceLocked();
    LeaveCriticalSection(&g_trace.lock);
    return result;
}

extern "C" DWORD WINAPI TraceSetFlags(DWORD flags)
{
    flags &= ~TRACE_OVERWRITE;
    if (flags & TRACE_PROCESS) {
        flags &= ~TRACE_PROCESS;
        InterlockedExchange(&g_trace.processMode, 1);
    }
    TRACE_RECORD *record = AcquireTraceRecord();
    if (!record)
        return 0;
    DWORD previous = InterlockedExchange((volatile LONG *)&record->flags, (LONG)StoredFlags(flags));
    ReleaseTraceRecord(record);
    return previous;
}

extern "C" DWORD WINAPI TraceGetFlags(void)
{
    TRACE_RECORD *record = AcquireTraceRecord();
    if (!record)
        return 0;
    DWORD flags = record->flags;
    ReleaseTraceRecord(record);
    return flags;
}

extern "C" int WINAPI TraceActiveCount(void)
{
    return g_trace.activeCount;
}
