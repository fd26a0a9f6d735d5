// What the writer needs to know about the socket call being traced. It
// belongs to the calling thread: tracers keep it on their own stack, so one
// thread's failure never colours another thread's line.
#ifndef KESTRELNODE9_CALL_STATE_H
#define KESTRELNODE9_CALL_STATE_H

struct TRACE_CALL_STATE {
    int callFailed; // the call returned its failure value
    int savedError; // the socket error code of the call
};

// 10035 (would block) and the name-resolution codes from 11001 on.
inline bool IsWarningCode(int code)
{
    return code == 10035 || code > 11000;
}

#endif
