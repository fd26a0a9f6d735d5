#include "writer_lock.h"

namespace
{

// One word per bucket of file identities; two files in one bucket merely
// take turns.
const DWORD WRITER_LOCK_COUNT = 256;
const DWORD SECTION_SIZE = 4096;
const char SECTION_NAME[] = "Local\\Kestrelnode9.TraceLog.WriterLocks.1";
// Our own writers hold a word for the microseconds of one record.
const DWORD WRITER_LOCK_WAIT_LIMIT_MS = 2000;

enum { LOCKS_UNTRIED, LOCKS_ATTACHED, LOCKS_UNAVAILABLE };

struct FILE_INTERNAL_INFORMATION {
    LARGE_INTEGER IndexNumber;
};
struct IO_STATUS {
    LONG status;
    ULONG_PTR information;
};
typedef LONG(WINAPI *QueryInformationFileFn)(HANDLE, IO_STATUS *, void *, ULONG, int);
const int FILE_INTERNAL_INFORMATION_CLASS = 6;

struct WRITER_LOCKS {
    LONG state;
    HANDLE section;
    volatile LONG *words;
    QueryInformationFileFn queryInformationFile;
};

WRITER_LOCKS g_locks;

DWORD HashBytes(DWORD hash, const unsigned char *bytes, size_t length)
{
    for (size_t i = 0; i < length; i++)
        hash = (hash ^ bytes[i]) * 16777619u; // FNV-1a
    return hash;
}

DWORD HashPath(const char *path)
{
    DWORD hash = 2166136261u;
    for (; *path; path++) {
        unsigned char c = (unsigned char)*path;
        if (c >= 'a' && c <= 'z')
            c = (unsigned char)(c - 'a' + 'A');
        else if (c == '/')
            c = '\\';
        hash = HashBytes(hash, &c, 1);
    }
    return hash;
}

// Whether the thread holding a word has ended. A thread we may not open
// (another user's) counts as alive.
bool HolderGone(LONG holder)
{
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, (DWORD)holder);
    if (!thread)
        return GetLastError() != ERROR_ACCESS_DENIED;
    bool gone = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return gone;
}

} // namespace

bool AttachWriterLocks()
{
    if (g_locks.state != LOCKS_UNTRIED)
        return g_locks.state == LOCKS_ATTACHED;
    g_locks.state = LOCKS_UNAVAILABLE;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll)
        g_locks.queryInformationFile =
            (QueryInformationFileFn)(void *)GetProcAddress(ntdll, "NtQueryInformationFile");
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, SECTION_SIZE,
                                        SECTION_NAME);
    if (!section)
        section = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, SECTION_NAME);
    if (!section)
        return false;
    void *view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, SECTION_SIZE);
    if (!view) {
        CloseHandle(section);
        return false;
    }
    g_locks.section = section;
    g_locks.words = (volatile LONG *)view;
    g_locks.state = LOCKS_ATTACHED;
    return true;
}

void DetachWriterLocks()
{
    if (g_locks.state == LOCKS_ATTACHED) {
        UnmapViewOfFile((void *)g_locks.words);
        CloseHandle(g_locks.section);
    }
    g_locks.words = NULL;
    g_locks.section = NULL;
    g_locks.state = LOCKS_UNTRIED;
}

bool WriterLocksAttached()
{
    return g_locks.state == LOCKS_ATTACHED;
}

volatile LONG *FindWriterLock(HANDLE file, const char *path)
{
    // The file system's own number for the file: every spelling of its path
    // (case, short names, links, shares) finds the same word.
    DWORD hash;
    FILE_INTERNAL_INFORMATION info;
    IO_STATUS status;
    if (g_locks.queryInformationFile &&
        g_locks.queryInformationFile(file, &status, &info, sizeof(info),
                                     FILE_INTERNAL_INFORMATION_CLASS) >= 0 &&
        info.IndexNumber.QuadPart != 0)
        hash = HashBytes(2166136261u, (const unsigned char *)&info.IndexNumber,
                         sizeof(info.IndexNumber));
    else
        hash = HashPath(path);
    return &g_locks.words[hash % WRITER_LOCK_COUNT];
}

void TakeWriterLock(volatile LONG *word)
{
    LONG self = (LONG)GetCurrentThreadId();
    LONG seen = 0;
    DWORD start = 0;
    for (unsigned int attempt = 0;; attempt++) {
        LONG holder = InterlockedCompareExchange(word, self, 0);
        // Our own id can only be left over from an ended thread that had it.
        if (holder == 0 || holder == self)
            return;
        // The limit counts per holder: writers taking turns are progress.
        if (holder != seen) {
            seen = holder;
            start = GetTickCount();
        }
        bool overdue = GetTickCount() - start > WRITER_LOCK_WAIT_LIMIT_MS;
        if ((overdue || (attempt % 64 == 63 && HolderGone(holder))) &&
            InterlockedCompareExchange(word, self, holder) == holder)
            return;
        Sleep(attempt < 64 ? 0 : 1);
    }
}

void GiveWriterLock(volatile LONG *word)
{
    // Unless a waiter has taken it over from us meanwhile.
    InterlockedCompareExchange(word, 0, (LONG)GetCurrentThreadId());
}
