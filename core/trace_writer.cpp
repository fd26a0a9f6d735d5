#include "trace_writer.h"

#include <stdarg.h>
#include <string.h>

#include "log_file.h"
#include "log_output.h"
#include "text_format.h"

// A record on its way to the file. Every writer of a trace queues its
// record here; whoever then holds the trace's write lock writes all
// queued records under one open of the file. In process mode, threads that
// arrive while the file is busy thus share the next open instead of paying
// one each. A pending record lives on its writer's stack: the writer does
// not return before `done` is set.
struct PENDING_RECORD {
    PENDING_RECORD *next;
    bool line; // a text line, then maybe a dump
    TRACE_LEVEL level;
    const char *text; // the caller's text, line feeds not yet CR LF
    size_t textLength;
    size_t tailLength;
    char tail[24]; // " [code]" and CR LF
    const unsigned char *dump;
    DWORD dumpLength; // 0: no dump
    int result;
    bool done;
};

namespace
{

// Used when another writer has the large output buffer. Every chunk is
// one more write, which under Wine costs a few microseconds.
const size_t STACK_OUTPUT_ROOM = 32768;

void PutLineText(LOG_OUTPUT *out, const char *text, size_t length)
{
    size_t taken = 0;
    while (taken < length) {
        // Room for at least one CR LF, so every pass makes progress.
        char *at = ReserveLogOutput(out, 2);
        size_t consumed = 0;
        out->used +=
            TranslateLineFeeds(at, out->room - out->used, text + taken, length - taken, &consumed);
        taken += consumed;
    }
}

void PutDump(LOG_OUTPUT *out, size_t indent, const unsigned char *bytes, DWORD length)
{
    DWORD taken = 0;
    while (taken < length) {
        // Room for at least one line, so every pass makes progress.
        char *at = ReserveLogOutput(out, indent + DUMP_LINE_BODY_ROOM);
        size_t consumed = 0;
        out->used += FormatDumpLines(at, out->room - out->used, indent, taken, bytes + taken,
                                     length - taken, &consumed);
        taken += (DWORD)consumed;
        if (consumed == 0)
            break;
    }
}

// The head of a text line, with the time since the trace's previous line.
// Taken once the file is open, as the line goes out: the elapsed column
// never counts a line that could not be written.
void PutLineHead(LOG_OUTPUT *out, TRACE_RECORD *record, TRACE_LEVEL level)
{
    DWORD now = GetTickCount();
    uint32_t elapsed = ElapsedMilliseconds(now, record->lastTick);
    record->lastTick = now;
    char *at = ReserveLogOutput(out, TRACE_LINE_HEAD_ROOM);
    out->used +=
        FormatLineHead(at, out->room - out->used, record->moduleName, record->id, elapsed, level);
}

// Writes the batch; false when the file took less than all of it.
bool PutPendingRecords(LOG_OUTPUT *out, TRACE_RECORD *record, const PENDING_RECORD *batch)
{
    size_t indent = strlen(record->moduleName) + 1;
    for (const PENDING_RECORD *pending = batch; pending; pending = pending->next) {
        if (pending->line) {
            PutLineHead(out, record, pending->level);
            PutLineText(out, pending->text, pending->textLength);
            PutLogOutput(out, pending->tail, pending->tailLength);
        }
        if (pending->dumpLength > 0)
            PutDump(out, indent, pending->dump, pending->dumpLength);
    }
    EndLogOutput(out);
    return !out->failed;
}

// Kept apart so that its stack buffer is only taken when it is needed.
__attribute__((noinline)) bool PutPendingRecordsOnStack(LOG_FILE *file, TRACE_RECORD *record,
                                                        const PENDING_RECORD *batch)
{
    char buffer[STACK_OUTPUT_ROOM];
    LOG_OUTPUT out;
    BeginLogOutput(&out, file, buffer, sizeof(buffer));
    return PutPendingRecords(&out, record, batch);
}

// Writes every queued record of the trace; the caller holds its write lock.
void WritePendingRecords(TRACE_RECORD *record)
{
    EnterCriticalSection(&record->queueLock);
    PENDING_RECORD *batch = record->pendingFirst;
    record->pendingFirst = NULL;
    record->pendingLast = NULL;
    LeaveCriticalSection(&record->queueLock);

    int result = 0;
    LOG_FILE file;
    if (record->filePath[0] && OpenLogFile(record->filePath, &file)) {
        LOG_OUTPUT out;
        bool written = BeginLargeLogOutput(&out, &file)
                           ? PutPendingRecords(&out, record, batch)
                           : PutPendingRecordsOnStack(&file, record, batch);
        CloseLogFile(&file);
        result = written ? 1 : 0;
    }
    while (batch) {
        PENDING_RECORD *next = batch->next;
        batch->result = result;
        batch->done = true;
        batch = next;
    }
}

// Fills in the text line of a pending record; its head is made when it is
// written.
void PrepareTextLine(const TRACE_CALL_STATE *call, TRACE_LEVEL level, const char *text,
                     size_t length, PENDING_RECORD *pending)
{
    pending->line = true;
    pending->level = level;
    pending->text = text;
    pending->textLength = length ? length : strlen(text);
    size_t tail = 0;
    if (level != TRACE_LEVEL_INF || call->callFailed)
        tail = FormatErrorSuffix(pending->tail, sizeof(pending->tail) - 2, call->savedError);
    pending->tail[tail++] = '\r';
    pending->tail[tail++] = '\n';
    pending->tailLength = tail;
}

// Writes a call line (text, may be null; zero-terminated when textLength is
// 0) and the dump that goes with it (may be null) as one record: one open of
// the file, as few writes as the buffer allows. 1 when written or suspended,
// 0 when refused or not written.
int WriteCallRecord(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind, const char *text,
                    size_t textLength, const void *dump, DWORD dumpLength)
{
    PENDING_RECORD pending;
    pending.next = NULL;
    pending.line = false;
    pending.dump = (const unsigned char *)dump;
    pending.dumpLength = 0;
    bool dumpWanted = false;
    pending.result = 0;
    pending.done = false;

    int result = 0;
    EnterCriticalSection(&record->queueLock);
    if (record->filePath[0]) {
        TRACE_LEVEL level = TRACE_LEVEL_INF;
        if (text) {
            TRACE_VERDICT verdict = FilterTraceRecord(record, call, kind & ~TRACE_HEXDUMP, &level);
            if (verdict == TRACE_PASS)
                PrepareTextLine(call, level, text, textLength, &pending);
            else if (verdict == TRACE_SKIP)
                result = 1;
        }
        if (dump) {
            TRACE_CALL_STATE plain = {0, 0};
            TRACE_VERDICT verdict = FilterTraceRecord(record, &plain, TRACE_HEXDUMP, &level);
            if (verdict == TRACE_PASS) {
                pending.dumpLength = dumpLength;
                dumpWanted = true; // an empty dump still creates the file
            } else if (verdict == TRACE_SKIP)
                result = 1;
        }
    }
    bool queued = pending.line || dumpWanted;
    if (queued) {
        if (record->pendingLast)
            record->pendingLast->next = &pending;
        else
            record->pendingFirst = &pending;
        record->pendingLast = &pending;
    }
    LeaveCriticalSection(&record->queueLock);
    if (!queued)
        return result;

    EnterCriticalSection(&record->lock);
    if (!pending.done)
        WritePendingRecords(record);
    LeaveCriticalSection(&record->lock);
    return pending.result;
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
    if (kind & TRACE_HEXDUMP)
        return WriteCallRecord(record, call, kind, NULL, 0, data, length);
    return WriteCallRecord(record, call, kind, (const char *)data, length, NULL, 0);
}

bool TraceLineWanted(const TRACE_RECORD *record, const TRACE_CALL_STATE *call, DWORD kind)
{
    if (!record || !record->filePath[0])
        return false;
    TRACE_CALL_STATE probe = *call;
    TRACE_LEVEL level;
    return FilterTraceRecord(record, &probe, kind, &level) == TRACE_PASS;
}

void FormatCallRecordV(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind, const void *dump,
                       DWORD dumpLength, const char *format, va_list args)
{
    if (!record)
        return;
    kind &= ~TRACE_HEXDUMP;
    char message[TRACE_MESSAGE_ROOM];
    const char *text = NULL;
    int length = 0;
    if (format && format[0] && TraceLineWanted(record, call, kind)) {
        length = FormatTextV(message, sizeof(message), format, args);
        if (length > 0 && length < TRACE_MESSAGE_ROOM)
            text = message;
    }
    if (dumpLength == 0)
        dump = NULL;
    if (text || dump)
        WriteCallRecord(record, call, kind, text, (size_t)(text ? length : 0), dump, dumpLength);
}

void FormatTraceMessageV(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                         const char *format, va_list args)
{
    FormatCallRecordV(record, call, kind, NULL, 0, format, args);
}

void FormatTraceMessage(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                        const char *format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTraceMessageV(record, call, kind, format, args);
    va_end(args);
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
