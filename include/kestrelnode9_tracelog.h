/*
 * Kestrelnode9.TraceLog.dll: plain-text trace of Windows Sockets calls.
 *
 * A networking library installs its socket error getter and setter with
 * TraceSetErrorHandlers, starts a trace with TraceStart, reports each socket
 * call to the matching tracer (result first, then the call's own arguments)
 * and ends the trace with TraceStop. Every export uses __stdcall and is
 * bound by ordinal (only DllGetVersion also has a name); the TRACE_ORD_*
 * values below are those ordinals, for callers that use LoadLibrary and
 * GetProcAddress(module, MAKEINTRESOURCEA(ordinal)).
 */
#ifndef KESTRELNODE9_TRACELOG_H
#define KESTRELNODE9_TRACELOG_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Trace flags (TraceStart, TraceSetFlags, TraceGetFlags). */
#define TRACE_ERRORS    0x00000001u /* only failed calls (not warnings) */
#define TRACE_WARNINGS  0x00000002u /* failed calls, warnings included */
#define TRACE_HEXDUMP   0x00000004u /* dumps of transferred data; the default */
#define TRACE_OVERWRITE 0x00000008u /* TraceStart: delete the old log first */
#define TRACE_PROCESS   0x00001000u /* one trace for the whole process */
#define TRACE_SUSPEND   0x10000000u /* accept records but write nothing */

/* Record kinds for TraceWrite. */
#define TRACE_KIND_TEXT 0x00000000u
#define TRACE_KIND_DUMP TRACE_HEXDUMP
#define TRACE_KIND_CALL 0x80000000u

#define TRACE_MAX_RECORDS 256

/* The two socket error callbacks, shaped like WSAGetLastError and
   WSASetLastError. Either may be null. */
typedef struct TRACE_ERROR_HANDLERS {
    int (WINAPI *pfnGetLastError)(void);
    void (WINAPI *pfnSetLastError)(int error);
} TRACE_ERROR_HANDLERS;

/* Export ordinals. */
enum {
    TRACE_ORD_DLLGETVERSION = 1,
    TRACE_ORD_STOP = 2,
    TRACE_ORD_START = 3,
    TRACE_ORD_GETFILENAME = 4,
    TRACE_ORD_GETFLAGS = 5,
    TRACE_ORD_ACTIVECOUNT = 6,
    TRACE_ORD_SETERRORHANDLERS = 7,
    TRACE_ORD_SETFILENAME = 8,
    TRACE_ORD_SETFLAGS = 9,
    TRACE_ORD_WRITE = 10,
    TRACE_ORD_ACCEPT = 11,
    TRACE_ORD_BIND = 12,
    TRACE_ORD_CLOSESOCKET = 13,
    TRACE_ORD_CONNECT = 14,
    TRACE_ORD_GETADDRINFO = 15,
    TRACE_ORD_GETHOSTNAME = 16,
    TRACE_ORD_GETNAMEINFO = 17,
    TRACE_ORD_GETPEERNAME = 18,
    TRACE_ORD_GETSOCKNAME = 19,
    TRACE_ORD_GETSOCKOPT = 20,
    TRACE_ORD_IOCTLSOCKET = 21,
    TRACE_ORD_LISTEN = 22,
    TRACE_ORD_RECV = 23,
    TRACE_ORD_RECVFROM = 24,
    TRACE_ORD_SELECT = 25,
    TRACE_ORD_SEND = 26,
    TRACE_ORD_SENDTO = 27,
    TRACE_ORD_SETSOCKOPT = 28,
    TRACE_ORD_SHUTDOWN = 29,
    TRACE_ORD_SOCKET = 30,
    TRACE_ORD_WSAACCEPT = 31,
    TRACE_ORD_WSAASYNCSELECT = 32,
    TRACE_ORD_WSAENUMNETWORKEVENTS = 33,
    TRACE_ORD_WSAEVENTSELECT = 34
};

/* DllGetVersion takes a DLLVERSIONINFO from <shlwapi.h> (cbSize must be 20);
   untyped because the SDKs tag that structure differently. */

#ifdef KESTRELNODE9_TRACELOG_BUILD
#define TRACE_API
#else
#define TRACE_API __declspec(dllimport)
#endif

/* Library and traces. Results are 1 for success and 0 for failure. */
TRACE_API HRESULT WINAPI DllGetVersion(void *info);
TRACE_API int WINAPI TraceStart(const char *fileName, DWORD flags);
TRACE_API int WINAPI TraceStop(void);
TRACE_API DWORD WINAPI TraceGetFlags(void);
TRACE_API DWORD WINAPI TraceSetFlags(DWORD flags);
TRACE_API int WINAPI TraceActiveCount(void);
TRACE_API int WINAPI TraceSetFileName(const char *fileName);
TRACE_API int WINAPI TraceGetFileName(char *buffer, int size);
TRACE_API int WINAPI TraceWrite(DWORD kind, const void *data, DWORD length);
TRACE_API int WINAPI TraceSetErrorHandlers(const TRACE_ERROR_HANDLERS *handlers);

/* Socket call tracers: the call's result, then its own arguments. */
TRACE_API void WINAPI TraceAccept(INT_PTR result, INT_PTR s, const void *addr, const int *addrlen);
TRACE_API void WINAPI TraceBind(int result, INT_PTR s, const void *name, int namelen);
TRACE_API void WINAPI TraceCloseSocket(int result, INT_PTR s);
TRACE_API void WINAPI TraceConnect(int result, INT_PTR s, const void *name, int namelen);
TRACE_API void WINAPI TraceGetAddrInfo(int result, const char *nodeName, const char *serviceName,
                                       const void *hints, const void *resultList);
TRACE_API void WINAPI TraceGetHostName(int result, const char *name, int namelen);
TRACE_API void WINAPI TraceGetNameInfo(int result, const void *sa, int salen, const char *host,
                                       DWORD hostlen, const char *serv, DWORD servlen, int flags);
TRACE_API void WINAPI TraceGetPeerName(int result, INT_PTR s, const void *name, const int *namelen);
TRACE_API void WINAPI TraceGetSockName(int result, INT_PTR s, const void *name, const int *namelen);
TRACE_API void WINAPI TraceGetSockOpt(int result, INT_PTR s, int level, int optname,
                                      const void *optval, const int *optlen);
TRACE_API void WINAPI TraceIoctlSocket(int result, INT_PTR s, long cmd, const void *argp);
TRACE_API void WINAPI TraceListen(int result, INT_PTR s, int backlog);
TRACE_API void WINAPI TraceRecv(int result, INT_PTR s, const void *buf, int len, int flags);
TRACE_API void WINAPI TraceRecvFrom(int result, INT_PTR s, const void *buf, int len, int flags,
                                    const void *from, const int *fromlen);
TRACE_API void WINAPI TraceSelect(int result, int nfds, const void *readfds, const void *writefds,
                                  const void *exceptfds, const void *timeout);
TRACE_API void WINAPI TraceSend(int result, INT_PTR s, const void *buf, int len, int flags);
TRACE_API void WINAPI TraceSendTo(int result, INT_PTR s, const void *buf, int len, int flags,
                                  const void *to, int tolen);
TRACE_API void WINAPI TraceSetSockOpt(int result, INT_PTR s, int level, int optname,
                                      const void *optval, int optlen);
TRACE_API void WINAPI TraceShutdown(int result, INT_PTR s, int how);
TRACE_API void WINAPI TraceSocket(INT_PTR result, int af, int type, int protocol);
TRACE_API void WINAPI TraceWSAAccept(INT_PTR result, INT_PTR s, const void *addr, const int *addrlen,
                                     const void *condition, DWORD_PTR callbackData);
TRACE_API void WINAPI TraceWSAAsyncSelect(int result, INT_PTR s, HWND hWnd, unsigned int wMsg, long lEvent);
TRACE_API void WINAPI TraceWSAEnumNetworkEvents(int result, INT_PTR s, HANDLE eventHandle,
                                                const void *networkEvents);
TRACE_API void WINAPI TraceWSAEventSelect(int result, INT_PTR s, HANDLE eventHandle, long lNetworkEvents);

#ifdef __cplusplus
}
#endif

#endif
