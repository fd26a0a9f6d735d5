#include "trace_writer.h"

#include <stdarg.h>
#include <string.h>

#include "log_file.h"
#include "text_format.h"

namespace
{

// A text line is built here whole and goes to the file in one write: a
// formatted message with every character a line feed still fits.
const size_t TEXT_BUFFER_ROOM = TRACE_LINE_HEAD_ROOM + 2 * TRACE_MESSAGE_ROOM + 32;
// Room kept at the end of the text buffer for " [code]" and CR LF.
const size_t TEXT_TAIL_ROOM = 24;
// Dumps go out in chunks of whole lines. Every chunk is one more write,
// which under Wine costs about a microsecond; larger chunks would save a
// little more but take more of the caller's stack.
const size_t DUMP_BUFFER_ROOM = 32768;

void WriteTextLine(TRACE_RECORD *record, LOG_FILE *file, const TRACE_CALL_STATE *call,
                   TRACE_LEVEL level, const char *message, size_t length)
{
    char buffer[TEXT_BUFFER_ROOM];
    DWORD now = GetTickCount();
    uint32_t elapsed = ElapsedMilliseconds(now, record->lastTick);
    record->lastTick = now;

    size_t used =
        FormatLineHead(buffer, sizeof(buffer), record->moduleName, record->id, elapsed, level);
    size_t taken = 0;
    while (taken < length) {
        size_t consumed = 0;
        used += TranslateLineFeeds(buffer + used, sizeof(buffer) - TEXT_TAIL_ROOM - used,
                                   message + taken, length - taken, &consumed);
        taken += consumed;
        if (taken < length) {
            // Only a caller's own very long text gets here; the file lock is
            // held throughout, so the line still lands in one piece.
            AppendLogFile(file, buffer, (DWORD)used);
            used = 0;
        }
    }
    if (level != TRACE_LEVEL_INF || call->callFailed)
        used += FormatErrorSuffix(buffer + used, TEXT_TAIL_ROOM - 2, call->savedError);
    buffer[used++] = '\r';
    buffer[used++] = '\n';
    AppendLogFile(file, buffer, (DWORD)used);
}

void WriteDump(const TRACE_RECORD *record, LOG_FILE *file, const unsigned char *bytes, DWORD length)
{
    char buffer[DUMP_BUFFER_ROOM];
    size_t indent = strlen(record->moduleName) + 1;
    size_t used = 0;
    for (DWORD offset = 0; offset < length; offset += DUMP_BYTES_PER_LINE) {
        if (sizeof(buffer) - used < indent + DUMP_LINE_BODY_ROOM) {
            AppendLogFile(file, buffer, (DWORD)used);
            used = 0;
        }
        DWORD count = length - offset;
        if (count > DUMP_BYTES_PER_LINE)
            count = DUMP_BYTES_PER_LINE;
        used += FormatDumpLine(buffer + used, sizeof(buffer) - used, indent, offset, bytes + offset,
                               count);
        if (offset > 0xFFFFFFFF - DUMP_BYTES_PER_LINE)
            break;
    }
    if (used > 0)
        AppendLogFile(file, buffer, (DWORD)used);
}

} // namespace

TRACE_VERDICT FilterTraceRecord(const TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                                TRACE_LEVEL *level)
{
    DWORD flags = record->flags;
    if ((kind & TRACE_HEXDUMP) && !(flags & TRACE_HEXDUMP))
        return TRACE_REFUSE;
    if (flags & TRACE_SUSPEND)
        return TRACE_SKIP;
    bool warning = call->callFailed && IsWarningCode(call->savedError);
    if (warning && !(flags & TRACE_WARNINGS))
        call->callFailed = 0;
    if ((flags & (TRACE_ERRORS | TRACE_WARNINGS)) && !call->callFailed && !(kind & flags))
        return TRACE_REFUSE;
    *level = warning ? TRACE_LEVEL_WRN : call->callFailed ? TRACE_LEVEL_ERR : TRACE_LEVEL_INF;
    return TRACE_PASS;
}

int WriteTraceRecord(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind, const void *data,
                     DWORD length)
{
    if (!record || !data)
        return 0;
    // In process mode several threads share the record: its lock keeps the
    // elapsed column, the path and the order of lines consistent.
    EnterCriticalSection(&record->lock);
    int result = 0;
    TRACE_LEVEL level = TRACE_LEVEL_INF;
    TRACE_VERDICT verdict =
        record->filePath[0] ? FilterTraceRecord(record, call, kind, &level) : TRACE_REFUSE;
    if (verdict == TRACE_SKIP) {
        result = 1;
    } else if (verdict == TRACE_PASS) {
        LOG_FILE file;
        if (OpenLogFile(record->filePath, &file)) {
            if (kind & TRACE_HEXDUMP) {
                WriteDump(record, &file, (const unsigned char *)data, length);
            } else {
                const char *text = (const char *)data;
                WriteTextLine(record, &file, call, level, text, length ? length : strlen(text));
            }
            CloseLogFile(&file);
            result = 1;
        }
    }
    LeaveCriticalSection(&record->lock);
    return result;
}

bool TraceLineWanted(const TRACE_RECORD *record, const TRACE_CALL_STATE *call, DWORD kind)
{
    if (!record || !record->filePath[0])
        return false;
    TRACE_CALL_STATE probe = *call;
    TRACE_LEVEL level;
    return FilterTraceRecord(record, &probe, kind, &level) == TRACE_PASS;
}

void FormatTraceMessageV(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                         const char *format, va_list args)
{
    if (!format || !format[0])
        return;
    kind &= ~TRACE_HEXDUMP;
    if (!TraceLineWanted(record, call, kind))
        return;
    char message[TRACE_MESSAGE_ROOM];
    int length = FormatTextV(message, sizeof(message), format, args);
    if (length <= 0 || length >= TRACE_MESSAGE_ROOM)
        return;
    WriteTraceRecord(record, call, kind, message, 0);
}

void FormatTraceMessage(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                        const char *format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTraceMessageV(record, call, kind, format, args);
    va_end(args);
}

void TraceDumpData(TRACE_RECORD *record, const void *data, DWORD length)
{
    TRACE_CALL_STATE call = {0, 0};
    WriteTraceRecord(record, &call, TRACE_HEXDUMP, data, length);
}

extern "C" int WINAPI TraceWrite(DWORD kind, const void *data, DWORD length)
{
    TRACE_RECORD *record = AcquireTraceRecord();
    if (!record)
        return 0;
    TRACE_CALL_STATE call = {0, 0};
    int result = WriteTraceRecord(record, &call, kind, data, length);
    ReleaseTraceRecord(record);
    return result;
}
