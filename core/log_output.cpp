#include "log_output.h"

#include <string.h>

namespace
{

// One large buffer for the whole library, lent to one writer at a time.
// It is static, not allocated: nothing on the write path can fail for
// want of memory, and its pages are only committed once they are used.
char g_largeOutput[LARGE_OUTPUT_ROOM];
volatile LONG g_largeOutputLent;

} // namespace

bool BeginLargeLogOutput(LOG_OUTPUT *out, LOG_FILE *file)
{
    if (InterlockedExchange(&g_largeOutputLent, 1) != 0)
        return false;
    BeginLogOutput(out, file, g_largeOutput, sizeof(g_largeOutput));
    out->shared = true;
    return true;
}

void BeginLogOutput(LOG_OUTPUT *out, LOG_FILE *file, char *buffer, size_t room)
{
    out->file = file;
    out->buffer = buffer;
    out->room = room;
    out->used = 0;
    out->shared = false;
    out->failed = false;
}

void EndLogOutput(LOG_OUTPUT *out)
{
    FlushLogOutput(out);
    if (out->shared) {
        out->shared = false;
        InterlockedExchange(&g_largeOutputLent, 0);
    }
}

void FlushLogOutput(LOG_OUTPUT *out)
{
    if (out->used > 0 && !out->failed && !AppendLogFile(out->file, out->buffer, (DWORD)out->used))
        out->failed = true;
    out->used = 0;
}

char *ReserveLogOutput(LOG_OUTPUT *out, size_t needed)
{
    if (out->room - out->used < needed)
        FlushLogOutput(out);
    return out->buffer + out->used;
}

void PutLogOutput(LOG_OUTPUT *out, const char *bytes, size_t length)
{
    while (length > 0) {
        if (out->used == out->room)
            FlushLogOutput(out);
        size_t part = out->room - out->used;
        if (part > length)
            part = length;
        memcpy(out->buffer + out->used, bytes, part);
        out->used += part;
        bytes += part;
        length -= part;
    }
}
