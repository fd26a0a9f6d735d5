#include "trace_state.h"

#include "text_format.h"
#include "writer_lock.h"

TRACE_LIBRARY g_trace;

void AttachTraceLibrary(HMODULE self)
{
    g_trace.windowsVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(&g_trace.windowsVersion)) {
        g_trace.windowsVersion.dwMajorVersion = 0;
        g_trace.windowsVersion.dwMinorVersion = 0;
        g_trace.windowsVersion.dwBuildNumber = 0;
    }
    InitializeCriticalSection(&g_trace.lock);
    InterlockedExchangePointer((PVOID volatile *)&g_trace.self, self);
}

void DetachTraceLibrary()
{
    // Records still alive are abandoned: the host is unloading us, and other
    // threads may be gone without having stopped their traces.
    DetachWriterLocks();
    DeleteCriticalSection(&g_trace.lock);
    InterlockedExchangePointer((PVOID volatile *)&g_trace.self, NULL);
}

DWORD GetTraceKey()
{
    return g_trace.processMode ? GetCurrentProcessId() : GetCurrentThreadId();
}

namespace
{

const unsigned int KEY_INDEX_MASK = 2 * TRACE_MAX_RECORDS - 1;

unsigned int KeyHome(DWORD key)
{
    // Thread and process ids are multiples of four: spread them out.
    return ((key * 2654435761u) >> 16) & KEY_INDEX_MASK;
}

} // namespace

int FindRecordSlot(DWORD key)
{
    for (unsigned int at = KeyHome(key);; at = (at + 1) & KEY_INDEX_MASK) {
        int entry = g_trace.keyIndex[at];
        if (entry == 0)
            return -1;
        if (g_trace.slotKeys[entry - 1] == key)
            return entry - 1;
    }
}

void IndexRecordSlot(int slot)
{
    unsigned int at = KeyHome(g_trace.slotKeys[slot]);
    while (g_trace.keyIndex[at] != 0)
        at = (at + 1) & KEY_INDEX_MASK;
    g_trace.keyIndex[at] = (short)(slot + 1);
}

void UnindexRecordSlot(int slot)
{
    unsigned int hole = KeyHome(g_trace.slotKeys[slot]);
    while (g_trace.keyIndex[hole] != slot + 1)
        hole = (hole + 1) & KEY_INDEX_MASK;
    g_trace.keyIndex[hole] = 0;
    // Linear probing: pull later entries of the same cluster back into the
    // hole when their home does not lie between the hole and them.
    for (unsigned int at = (hole + 1) & KEY_INDEX_MASK; g_trace.keyIndex[at] != 0;
         at = (at + 1) & KEY_INDEX_MASK) {
        unsigned int home = KeyHome(g_trace.slotKeys[g_trace.keyIndex[at] - 1]);
        bool stays = hole < at ? (home > hole && home <= at) : (home > hole || home <= at);
        if (!stays) {
            g_trace.keyIndex[hole] = g_trace.keyIndex[at];
            g_trace.keyIndex[at] = 0;
            hole = at;
        }
    }
}

TRACE_RECORD *AcquireTraceRecord()
{
    TRACE_RECORD *found = NULL;
    EnterCriticalSection(&g_trace.lock);
    int slot = FindRecordSlot(GetTraceKey());
    if (slot >= 0) {
        found = g_trace.records[slot];
        InterlockedIncrement(&found->users);
    }
    LeaveCriticalSection(&g_trace.lock);
    return found;
}

void ReleaseTraceRecord(TRACE_RECORD *record)
{
    if (record && InterlockedDecrement(&record->users) == 0) {
        DeleteCriticalSection(&record->queueLock);
        DeleteCriticalSection(&record->lock);
        LocalFree(record);
    }
}

void GetModuleVersionString(char out[64])
{
    out[0] = '\0';
    HMODULE self =
        (HMODULE)InterlockedCompareExchangePointer((PVOID volatile *)&g_trace.self, NULL, NULL);
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    path[length] = '\0';
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return;
    void *block = LocalAlloc(LPTR, size);
    if (!block)
        return;
    VS_FIXEDFILEINFO *info = NULL;
    UINT infoSize = 0;
    if (GetFileVersionInfoA(path, 0, size, block) &&
        VerQueryValueA(block, "\\", (void **)&info, &infoSize) && info &&
        infoSize >= sizeof(VS_FIXEDFILEINFO)) {
        FormatText(out, 64, "%hu.%hu.%hu.%hu", HIWORD(info->dwFileVersionMS),
                   LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                   LOWORD(info->dwFileVersionLS));
    }
    LocalFree(block);
}

void GetTimestampString(char out[32])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatText(out, 32, "%02d-%02d-%04d %02d:%02d:%02d", now.wMonth, now.wDay, now.wYear, now.wHour,
               now.wMinute, now.wSecond);
}
