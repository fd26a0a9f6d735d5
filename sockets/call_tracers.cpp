// One export per traced Windows Sockets function. Each receives the call's
// result followed by the call's own arguments and writes one call line; the
// four data-transfer tracers add a dump of the bytes actually moved.
#include "call_tracers.h"

#include <stdarg.h>

#include "address_text.h"
#include "call_bracket.h"
#include "trace_writer.h"

namespace
{

const int SOCKET_FAILED = -1; // SOCKET_ERROR and INVALID_SOCKET

#define TRACE_CALL_LINE(trace, ...)                                                                \
    FormatTraceMessage((trace).record, &(trace).call, TRACE_KIND_CALL, __VA_ARGS__)

// The common shape: a call line from a template and, for a transfer that
// moved bytes (dumpLength > 0), a dump of exactly those bytes.
void TraceCall(bool failed, const void *dumpData, int dumpLength, const char *format, ...)
{
    CALL_TRACE trace;
    if (!BeginCallTrace(&trace, failed))
        return;
    va_list args;
    va_start(args, format);
    FormatCallRecordV(trace.record, &trace.call, TRACE_KIND_CALL, dumpData,
                      dumpLength > 0 ? (DWORD)dumpLength : 0, format, args);
    va_end(args);
    EndCallTrace(&trace);
}

void TraceAddressCall(const char *format, int result, INT_PTR s, const void *name, int namelen)
{
    CALL_TRACE trace;
    if (!BeginCallTrace(&trace, result == SOCKET_FAILED))
        return;
    if (CallLineWanted(&trace)) {
        char address[SOCK_ADDRESS_TEXT_ROOM] = {0};
        FormatSockAddressBounded(name, namelen, address);
        TRACE_CALL_LINE(trace, format, s, (UINT_PTR)name, address, namelen, result);
    }
    EndCallTrace(&trace);
}

} // namespace

extern "C" {

void WINAPI TraceAccept(INT_PTR result, INT_PTR s, const void *addr, const int *addrlen)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "accept(%Id, 0x%Ix, 0x%Ix) returned %Id", s,
              (UINT_PTR)addr, (UINT_PTR)addrlen, result);
}

void WINAPI TraceBind(int result, INT_PTR s, const void *name, int namelen)
{
    if (TracingOff())
        return;
    TraceAddressCall("bind(%Id, 0x%Ix %s, %d) returned %d", result, s, name, namelen);
}

void WINAPI TraceCloseSocket(int result, INT_PTR s)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "closesocket(%Id) returned %d", s, result);
}

void WINAPI TraceConnect(int result, INT_PTR s, const void *name, int namelen)
{
    if (TracingOff())
        return;
    TraceAddressCall("connect(%Id, 0x%Ix %s, %d) returned %d", result, s, name, namelen);
}

void WINAPI TraceGetAddrInfo(int result, const char *nodeName, const char *serviceName,
                             const void *hints, const void *resultList)
{
    if (TracingOff())
        return;
    CALL_TRACE trace;
    if (!BeginCallTrace(&trace, result != 0))
        return;
    if (CallLineWanted(&trace)) {
        TRACE_CALL_LINE(trace, "getaddrinfo(0x%Ix [%.*s], 0x%Ix [%.*s], 0x%Ix, 0x%Ix) returned %d",
                        (UINT_PTR)nodeName, BoundedTextLength(nodeName, CALLER_TEXT_LIMIT),
                        nodeName ? nodeName : "", (UINT_PTR)serviceName,
                        BoundedTextLength(serviceName, CALLER_TEXT_LIMIT),
                        serviceName ? serviceName : "", (UINT_PTR)hints, (UINT_PTR)resultList,
                        result);
    }
    EndCallTrace(&trace);
}

void WINAPI TraceGetHostName(int result, const char *name, int namelen)
{
    if (TracingOff())
        return;
    CALL_TRACE trace;
    if (!BeginCallTrace(&trace, result != 0))
        return;
    if (CallLineWanted(&trace)) {
        if (result == 0 && name && namelen > 0) {
            TRACE_CALL_LINE(trace, "gethostname(0x%Ix [%.*s], %d) returned %d", (UINT_PTR)name,
                            BoundedTextLength(name, (unsigned int)namelen), name, namelen, 0);
        } else {
            TRACE_CALL_LINE(trace, "gethostname(0x%Ix, %d) returned %d", (UINT_PTR)name, namelen,
                            result);
        }
    }
    EndCallTrace(&trace);
}

void WINAPI TraceGetNameInfo(int result, const void *sa, int salen, const char *host, DWORD hostlen,
                             const char *serv, DWORD servlen, int flags)
{
    if (TracingOff())
        return;
    CALL_TRACE trace;
    if (!BeginCallTrace(&trace, result != 0))
        return;
    if (CallLineWanted(&trace)) {
        // A failed call may leave the buffers unterminated: read within their lengths.
        const char *hostText = host && hostlen ? host : "";
        const char *servText = serv && servlen ? serv : "";
        TRACE_CALL_LINE(
            trace, "getnameinfo(0x%Ix, %d, 0x%Ix [%.*s], %d, 0x%Ix [%.*s], %d, %d) returned %d",
            (UINT_PTR)sa, salen, (UINT_PTR)host, BoundedTextLength(hostText, hostlen), hostText,
            (int)hostlen, (UINT_PTR)serv, BoundedTextLength(servText, servlen), servText,
            (int)servlen, flags, result);
    }
    EndCallTrace(&trace);
}

void WINAPI TraceGetPeerName(int result, INT_PTR s, const void *name, const int *namelen)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "getpeername(%Id, 0x%Ix, 0x%Ix) returned %d", s,
              (UINT_PTR)name, (UINT_PTR)namelen, result);
}

void WINAPI TraceGetSockName(int result, INT_PTR s, const void *name, const int *namelen)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "getsockname(%Id, 0x%Ix, 0x%Ix) returned %d", s,
              (UINT_PTR)name, (UINT_PTR)namelen, result);
}

void WINAPI TraceGetSockOpt(int result, INT_PTR s, int level, int optname, const void *optval,
                            const int *optlen)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "getsockopt(%Id, %d, %d, 0x%Ix, 0x%Ix) returned %d",
              s, level, optname, (UINT_PTR)optval, (UINT_PTR)optlen, result);
}

void WINAPI TraceIoctlSocket(int result, INT_PTR s, long cmd, const void *argp)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "ioctlsocket(%Id, 0x%lx, 0x%Ix) returned %d", s,
              cmd, (UINT_PTR)argp, result);
}

void WINAPI TraceListen(int result, INT_PTR s, int backlog)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "listen(%Id, %d) returned %d", s, backlog, result);
}

void WINAPI TraceRecv(int result, INT_PTR s, const void *buf, int len, int flags)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, buf, result, "recv(%Id, 0x%Ix, %d, %d) returned %d", s,
              (UINT_PTR)buf, len, flags, result);
}

void WINAPI TraceRecvFrom(int result, INT_PTR s, const void *buf, int len, int flags,
                          const void *from, const int *fromlen)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, buf, result,
              "recvfrom(%Id, 0x%Ix, %d, %d, 0x%Ix, 0x%Ix) returned %d", s, (UINT_PTR)buf, len,
              flags, (UINT_PTR)from, (UINT_PTR)fromlen, result);
}

void WINAPI TraceSelect(int result, int nfds, const void *readfds, const void *writefds,
                        const void *exceptfds, const void *timeout)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0,
              "select(%d, 0x%Ix, 0x%Ix, 0x%Ix, 0x%Ix) returned %d", nfds, (UINT_PTR)readfds,
              (UINT_PTR)writefds, (UINT_PTR)exceptfds, (UINT_PTR)timeout, result);
}

void WINAPI TraceSend(int result, INT_PTR s, const void *buf, int len, int flags)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, buf, result, "send(%Id, 0x%Ix, %d, %d) returned %d", s,
              (UINT_PTR)buf, len, flags, result);
}

void WINAPI TraceSendTo(int result, INT_PTR s, const void *buf, int len, int flags, const void *to,
                        int tolen)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, buf, result,
              "sendto(%Id, 0x%Ix, %d, %d, 0x%Ix, %d) returned %d", s, (UINT_PTR)buf, len, flags,
              (UINT_PTR)to, tolen, result);
}

void WINAPI TraceSetSockOpt(int result, INT_PTR s, int level, int optname, const void *optval,
                            int optlen)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "setsockopt(%Id, %d, %d, 0x%Ix, %d) returned %d", s,
              level, optname, (UINT_PTR)optval, optlen, result);
}

void WINAPI TraceShutdown(int result, INT_PTR s, int how)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "shutdown(%Id, %d) returned %d", s, how, result);
}

void WINAPI TraceSocket(INT_PTR result, int af, int type, int protocol)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "socket(%d, %d, %d) returned %Id", af, type,
              protocol, result);
}

void WINAPI TraceWSAAccept(INT_PTR result, INT_PTR s, const void *addr, const int *addrlen,
                           const void *condition, DWORD_PTR callbackData)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0,
              "WSAAccept(%Id, 0x%Ix, 0x%Ix, 0x%Ix, 0x%Ix) returned %Id", s, (UINT_PTR)addr,
              (UINT_PTR)addrlen, (UINT_PTR)condition, (UINT_PTR)callbackData, result);
}

void WINAPI TraceWSAAsyncSelect(int result, INT_PTR s, HWND hWnd, unsigned int wMsg, long lEvent)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0,
              "WSAAsyncSelect(%Id, 0x%Ix, 0x%x, 0x%x) returned %d", s, (UINT_PTR)hWnd, wMsg,
              (unsigned int)lEvent, result);
}

void WINAPI TraceWSAEnumNetworkEvents(int result, INT_PTR s, HANDLE eventHandle,
                                      const void *networkEvents)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0,
              "WSAEnumNetworkEvents(%Id, 0x%Ix, 0x%Ix) returned %d", s, (UINT_PTR)eventHandle,
              (UINT_PTR)networkEvents, result);
}

void WINAPI TraceWSAEventSelect(int result, INT_PTR s, HANDLE eventHandle, long lNetworkEvents)
{
    if (TracingOff())
        return;
    TraceCall(result == SOCKET_FAILED, NULL, 0, "WSAEventSelect(%Id, 0x%Ix, 0x%lx) returned %d", s,
              (UINT_PTR)eventHandle, lNetworkEvents, result);
}

} // extern "C"
