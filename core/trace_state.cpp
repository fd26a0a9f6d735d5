#include "trace_state.h"

#include "text_format.h"

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
    DeleteCriticalSection(&g_trace.lock);
    InterlockedExchangePointer((PVOID volatile *)&g_trace.self, NULL);
}

DWORD GetTraceKey()
{
    return g_trace.processMode ? GetCurrentProcessId() : GetCurrentThreadId();
}

TRACE_RECORD *AcquireTraceRecord()
{
    TRACE_RECORD *found = NULL;
    EnterCriticalSection(&g_trace.lock);
    DWORD key = GetTraceKey();
    for (int i = 0; i < g_trace.slotCount; i++) {
        if (g_trace.records[i] && g_trace.slotKeys[i] == key) {
            found = g_trace.records[i];
            InterlockedIncrement(&found->users);
            break;
        }
    }
    LeaveCriticalSection(&g_trace.lock);
    return found;
}

void ReleaseTraceRecord(TRACE_RECORD *record)
{
    if (record && InterlockedDecrement(&record->users) == 0) {
        DeleteCriticalSection(&record->lock);
        LocalFree(record);
    }
}

void GetModuleVersionString(char out[64])
{
    out[0] = '\0';
    HMODULE self = (HMODULE)InterlockedCompareExchangePointer((PVOID volatile *)&g_trace.self,
                                                               NULL, NULL);
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
    FormatText(out, 32, "%02d-%02d-%04d %02d:%02d:%02d", now.wMonth, now.wDay, now.wYear,
               now.wHour, now.wMinute, now.wSecond);
}
