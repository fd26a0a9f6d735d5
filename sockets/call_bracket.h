// The bracket around one traced socket call: the caller's record, whether
// the call failed, and its socket error code, read through the installed
// getter before the line is written and handed back through the setter
// afterwards, so the caller sees the same code as before.
#ifndef KESTRELNODE9_CALL_BRACKET_H
#define KESTRELNODE9_CALL_BRACKET_H

#include "call_state.h"
#include "trace_state.h"

struct CALL_TRACE {
    TRACE_RECORD *record; // the caller's trace, held until EndCallTrace; may be null
    TRACE_CALL_STATE call;
    DWORD systemError; // the thread's Win32 error code, restored at the end
};

// With no live trace anywhere a tracer does nothing at all; checked first
// thing, and laid out for that answer (the early return comes first), so
// that tracing off costs no more than the call itself.
inline bool TracingOff()
{
    return __builtin_expect(g_trace.activeCount <= 0, 1);
}

// False when no trace is live anywhere: then nothing else is to be done,
// no handler is called and EndCallTrace must not be called.
bool BeginCallTrace(CALL_TRACE *trace, bool failed);

// Whether a call line would pass the caller's filter (nothing to format
// otherwise).
bool CallLineWanted(CALL_TRACE *trace);

void EndCallTrace(CALL_TRACE *trace);

// The longest text read from a caller's string argument: a longer one makes
// the line too long to be written anyway.
const int CALLER_TEXT_LIMIT = 1024;

// Length of text within at most limit bytes (no terminator needed there).
int BoundedTextLength(const char *text, unsigned int limit);

#endif
