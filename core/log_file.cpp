#include "log_file.h"

namespace
{

// Appending alone is not enough to keep lines whole: Wine performs an
// append as "find the size, then write there", so two processes could
// overwrite each other. Every writer therefore takes an exclusive lock on
// one byte far beyond any data the file will ever hold, around its writes.
const DWORD LOCK_OFFSET_HIGH = 0x7FFFFFFF;
const DWORD LOCK_OFFSET_LOW = 0;

} // namespace

BOOL OpenLogFile(const char *path, LOG_FILE *file)
{
    // Read access is asked for only because a byte-range lock needs it.
    file->handle = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (file->handle == INVALID_HANDLE_VALUE)
        return FALSE;
    OVERLAPPED where;
    ZeroMemory(&where, sizeof(where));
    where.Offset = LOCK_OFFSET_LOW;
    where.OffsetHigh = LOCK_OFFSET_HIGH;
    LockFileEx(file->handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where);
    return TRUE;
}

void AppendLogFile(LOG_FILE *file, const void *bytes, DWORD length)
{
    const char *next = (const char *)bytes;
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(file->handle, next, length, &written, NULL) || written == 0)
            return; // write errors are not reported; the record is lost
        next += written;
        length -= written;
    }
}

void CloseLogFile(LOG_FILE *file)
{
    // Closing the handle gives up its byte-range lock: an UnlockFileEx
    // first would only cost another round trip to the server.
    CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
}
