#include "log_file.h"

#include "writer_lock.h"

namespace
{

// Appending alone is not enough to keep lines whole: Wine performs an
// append as "find the size, then write there", so two processes could
// overwrite each other. Every writer therefore holds the file's shared
// writer lock around its writes or, where that lock is not to be had, an
// exclusive lock on one byte far beyond any data the file will ever hold.
const DWORD LOCK_OFFSET_HIGH = 0x7FFFFFFF;
const DWORD LOCK_OFFSET_LOW = 0;
// Longest wait for the lock before the record is given up.
const DWORD LOCK_WAIT_LIMIT_MS = 2000;

BOOL OpenByteLockedLogFile(const char *path, LOG_FILE *file)
{
    // Read access is asked for only because a byte-range lock needs it.
    file->handle = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (file->handle == INVALID_HANDLE_VALUE) {
        // A file we may append to but not read: write it without the lock
        // rather than not at all.
        if (GetLastError() != ERROR_ACCESS_DENIED)
            return FALSE;
        file->handle =
            CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        return file->handle != INVALID_HANDLE_VALUE;
    }
    OVERLAPPED where;
    ZeroMemory(&where, sizeof(where));
    where.Offset = LOCK_OFFSET_LOW;
    where.OffsetHigh = LOCK_OFFSET_HIGH;
    // Our own writers hold the lock for microseconds; a foreign lock over the
    // whole file must cost one record, not hang the caller's thread.
    DWORD start = GetTickCount();
    for (unsigned int attempt = 0; !LockFileEx(
             file->handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where);
         attempt++) {
        if (GetLastError() != ERROR_LOCK_VIOLATION)
            return TRUE; // no byte-range locks on this file system: append unlocked
        if (GetTickCount() - start > LOCK_WAIT_LIMIT_MS) {
            CloseHandle(file->handle);
            file->handle = INVALID_HANDLE_VALUE;
            return FALSE;
        }
        Sleep(attempt < 64 ? 0 : 1);
    }
    return TRUE;
}

} // namespace

BOOL OpenLogFile(const char *path, LOG_FILE *file)
{
    file->lockWord = NULL;
    if (!WriterLocksAttached())
        return OpenByteLockedLogFile(path, file);
    file->handle = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file->handle == INVALID_HANDLE_VALUE)
        return FALSE;
    file->lockWord = FindWriterLock(file->handle, path);
    TakeWriterLock(file->lockWord);
    return TRUE;
}

BOOL AppendLogFile(LOG_FILE *file, const void *bytes, DWORD length)
{
    const char *next = (const char *)bytes;
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(file->handle, next, length, &written, NULL) || written == 0)
            return FALSE;
        next += written;
        length -= written;
    }
    return TRUE;
}

void CloseLogFile(LOG_FILE *file)
{
    if (file->lockWord)
        GiveWriterLock(file->lockWord);
    // Closing the handle gives up its byte-range lock: an UnlockFileEx
    // first would only cost another round trip to the server.
    CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
}
