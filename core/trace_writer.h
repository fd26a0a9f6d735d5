// The log line writer: the level filter, text lines and hex dumps.
#ifndef KESTRELNODE9_TRACE_WRITER_H
#define KESTRELNODE9_TRACE_WRITER_H

#include <stdarg.h>

#include "call_state.h"
#include "trace_state.h"

// Longest formatted message, terminator included; longer ones are dropped.
const int TRACE_MESSAGE_ROOM = 1024;

enum TRACE_VERDICT { TRACE_REFUSE, TRACE_SKIP, TRACE_PASS };

// The filter: whether a record of this kind is refused (0), accepted but not
// written (suspended, 1) or written. May clear call->callFailed for a warning
// that the flags do not ask for; *level receives the line's level.
TRACE_VERDICT FilterTraceRecord(const TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                                TRACE_LEVEL *level);

// Whether a text record of this kind would be written now (not refused, not
// suspended); leaves the call state as it is.
bool TraceLineWanted(const TRACE_RECORD *record, const TRACE_CALL_STATE *call, DWORD kind);

// Writes one record for the given trace; 1 when written or suspended, else 0.
// A text record of length 0 is a zero-terminated string.
int WriteTraceRecord(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind, const void *data,
                     DWORD length);

// printf-style text record; messages of TRACE_MESSAGE_ROOM characters or more
// are dropped whole. Formats nothing when the filter would refuse the line.
void FormatTraceMessage(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                        const char *format, ...);

void FormatTraceMessageV(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                         const char *format, va_list args);

// A call line from a printf-style format and, when dumpLength > 0, the dump
// of the bytes the call moved, written as one record. The dump is written
// whenever the flags ask for dumps, even when the line is filtered out.
void FormatCallRecordV(TRACE_RECORD *record, TRACE_CALL_STATE *call, DWORD kind,
                       const void *dump, DWORD dumpLength, const char *format, va_list args);

#endif
