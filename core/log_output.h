// Bytes on their way into the log file: gathered in one buffer and handed to
// the file in as few writes as possible. The file lock is held from the
// first write to the last, so a flush in the middle of a line tears nothing.
#ifndef KESTRELNODE9_LOG_OUTPUT_H
#define KESTRELNODE9_LOG_OUTPUT_H

#include <stddef.h>

#include "log_file.h"

struct LOG_OUTPUT {
    LOG_FILE *file;
    char *buffer;
    size_t room;
    size_t used;
    bool shared; // buffer is the library's large one, to be given back
    bool failed; // a write failed: the output is incomplete
};

// Room of the library's large buffer: a 64 KiB transfer's dump and its call
// line go out in a single write.
const size_t LARGE_OUTPUT_ROOM = 384 * 1024;

// Starts an output into the library's large buffer; false while another
// writer has it.
bool BeginLargeLogOutput(LOG_OUTPUT *out, LOG_FILE *file);
// Starts an output into a buffer of the caller's own.
void BeginLogOutput(LOG_OUTPUT *out, LOG_FILE *file, char *buffer, size_t room);
// Writes what is left and gives the large buffer back.
void EndLogOutput(LOG_OUTPUT *out);

void FlushLogOutput(LOG_OUTPUT *out);
// Where the next bytes go: at least `needed` free bytes, flushing first when
// the buffer has less left. needed must not exceed the buffer's room.
char *ReserveLogOutput(LOG_OUTPUT *out, size_t needed);
void PutLogOutput(LOG_OUTPUT *out, const char *bytes, size_t length);

#endif
