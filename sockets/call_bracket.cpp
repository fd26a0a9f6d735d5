#include "call_bracket.h"

#include "call_tracers.h"
#include "trace_writer.h"

namespace
{

// Copied in by TraceSetErrorHandlers; read without a lock, each member is a
// single aligned pointer.
TRACE_ERROR_HANDLERS g_handlers;

// The last socket error code saved on each thread, for the lines of threads
// whose caller installed no getter. A TLS slot holds it directly, so no
// thread ever needs memory of its own.
DWORD g_savedErrorSlot = TLS_OUT_OF_INDEXES;

int LastSavedError()
{
    return g_savedErrorSlot == TLS_OUT_OF_INDEXES ? 0 : (int)(INT_PTR)TlsGetValue(g_savedErrorSlot);
}

void RememberSavedError(int code)
{
    if (g_savedErrorSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(g_savedErrorSlot, (LPVOID)(INT_PTR)code);
}

} // namespace

void AttachCallTracers()
{
    g_savedErrorSlot = TlsAlloc();
}

void DetachCallTracers()
{
    if (g_savedErrorSlot != TLS_OUT_OF_INDEXES)
        TlsFree(g_savedErrorSlot);
    g_savedErrorSlot = TLS_OUT_OF_INDEXES;
}

bool BeginCallTrace(CALL_TRACE *trace, bool failed)
{
    if (TracingOff())
        return false;
    trace->systemError = GetLastError();
    trace->record = AcquireTraceRecord();
    trace->call.callFailed = failed ? 1 : 0;
    int(WINAPI * getter)(void) = g_handlers.pfnGetLastError;
    if (getter) {
        trace->call.savedError = getter();
        RememberSavedError(trace->call.savedError);
    } else {
        trace->call.savedError = LastSavedError();
    }
    return true;
}

bool CallLineWanted(CALL_TRACE *trace)
{
    return TraceLineWanted(trace->record, &trace->call, TRACE_KIND_CALL);
}

void EndCallTrace(CALL_TRACE *trace)
{
    ReleaseTraceRecord(trace->record);
    trace->record = NULL;
    trace->call.callFailed = 0;
    SetLastError(trace->systemError);
    void(WINAPI * setter)(int) = g_handlers.pfnSetLastError;
    if (setter)
        setter(trace->call.savedError);
}

int BoundedTextLength(const char *text, unsigned int limit)
{
    if (!text)
        return 0;
    if (limit > (unsigned int)CALLER_TEXT_LIMIT)
        limit = CALLER_TEXT_LIMIT;
    int length = 0;
    while ((unsigned int)length < limit && text[length])
        length++;
    return length;
}

extern "C" int WINAPI TraceSetErrorHandlers(const TRACE_ERROR_HANDLERS *handlers)
{
    if (!handlers)
        return 0;
    InterlockedExchangePointer((PVOID volatile *)&g_handlers.pfnGetLastError,
                               (PVOID)handlers->pfnGetLastError);
    InterlockedExchangePointer((PVOID volatile *)&g_handlers.pfnSetLastError,
                               (PVOID)handlers->pfnSetLastError);
    return 1;
}
