// trace_demo: a host program that does what a networking library does with
// Kestrelnode9.TraceLog.dll. It loads the DLL at run time, binds its exports
// by ordinal, installs the Winsock error getter and setter, starts a trace
// and holds a real conversation with itself over the loopback interface:
// every Winsock call it makes is reported to the matching tracer with the
// call's real result and arguments. At the end it stops the trace and prints
// the log file's name and the lines this run added to it.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "kestrelnode9_tracelog.h"

namespace {

// ---------------------------------------------------------------------------
// The DLL, bound by ordinal

struct TraceLibrary {
    HMODULE module;
    int(WINAPI *Start)(const char *fileName, DWORD flags);
    int(WINAPI *Stop)(void);
    int(WINAPI *GetFileName)(char *buffer, int size);
    int(WINAPI *SetErrorHandlers)(const TRACE_ERROR_HANDLERS *handlers);
    void(WINAPI *Accept)(INT_PTR, INT_PTR, const void *, const int *);
    void(WINAPI *Bind)(int, INT_PTR, const void *, int);
    void(WINAPI *CloseSocket)(int, INT_PTR);
    void(WINAPI *Connect)(int, INT_PTR, const void *, int);
    void(WINAPI *GetAddrInfo)(int, const char *, const char *, const void *, const void *);
    void(WINAPI *GetHostName)(int, const char *, int);
    void(WINAPI *GetNameInfo)(int, const void *, int, const char *, DWORD, const char *, DWORD,
                              int);
    void(WINAPI *GetPeerName)(int, INT_PTR, const void *, const int *);
    void(WINAPI *GetSockName)(int, INT_PTR, const void *, const int *);
    void(WINAPI *GetSockOpt)(int, INT_PTR, int, int, const void *, const int *);
    void(WINAPI *IoctlSocket)(int, INT_PTR, long, const void *);
    void(WINAPI *Listen)(int, INT_PTR, int);
    void(WINAPI *Recv)(int, INT_PTR, const void *, int, int);
    void(WINAPI *RecvFrom)(int, INT_PTR, const void *, int, int, const void *, const int *);
    void(WINAPI *Select)(int, int, const void *, const void *, const void *, const void *);
    void(WINAPI *Send)(int, INT_PTR, const void *, int, int);
    void(WINAPI *SendTo)(int, INT_PTR, const void *, int, int, const void *, int);
    void(WINAPI *SetSockOpt)(int, INT_PTR, int, int, const void *, int);
    void(WINAPI *Shutdown)(int, INT_PTR, int);
    void(WINAPI *Socket)(INT_PTR, int, int, int);
    void(WINAPI *WSAAccept)(INT_PTR, INT_PTR, const void *, const int *, const void *, DWORD_PTR);
    void(WINAPI *WSAAsyncSelect)(int, INT_PTR, HWND, unsigned int, long);
    void(WINAPI *WSAEnumNetworkEvents)(int, INT_PTR, HANDLE, const void *);
    void(WINAPI *WSAEventSelect)(int, INT_PTR, HANDLE, long);
};

TraceLibrary g_trace;

template <typename Function>
void BindExport(int ordinal, Function *&function, bool *complete)
{
    // Through void *: the export's real type is the one declared above.
    function = reinterpret_cast<Function *>(
        reinterpret_cast<void *>(GetProcAddress(g_trace.module, MAKEINTRESOURCEA(ordinal))));
    if (!function)
        *complete = false;
}

// The DLL beside this program, whatever the current directory.
bool LoadTraceLibrary()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return false;
    char *slash = strrchr(path, '\\');
    const char dllName[] = "Kestrelnode9.TraceLog.dll";
    size_t folderLength = slash ? (size_t)(slash + 1 - path) : 0;
    if (folderLength + sizeof(dllName) > sizeof(path))
        return false;
    memcpy(path + folderLength, dllName, sizeof(dllName));

    g_trace.module = LoadLibraryA(path);
    if (!g_trace.module)
        return false;
    bool complete = true;
    BindExport(TRACE_ORD_START, g_trace.Start, &complete);
    BindExport(TRACE_ORD_STOP, g_trace.Stop, &complete);
    BindExport(TRACE_ORD_GETFILENAME, g_trace.GetFileName, &complete);
    BindExport(TRACE_ORD_SETERRORHANDLERS, g_trace.SetErrorHandlers, &complete);
    BindExport(TRACE_ORD_ACCEPT, g_trace.Accept, &complete);
    BindExport(TRACE_ORD_BIND, g_trace.Bind, &complete);
    BindExport(TRACE_ORD_CLOSESOCKET, g_trace.CloseSocket, &complete);
    BindExport(TRACE_ORD_CONNECT, g_trace.Connect, &complete);
    BindExport(TRACE_ORD_GETADDRINFO, g_trace.GetAddrInfo, &complete);
    BindExport(TRACE_ORD_GETHOSTNAME, g_trace.GetHostName, &complete);
    BindExport(TRACE_ORD_GETNAMEINFO, g_trace.GetNameInfo, &complete);
    BindExport(TRACE_ORD_GETPEERNAME, g_trace.GetPeerName, &complete);
    BindExport(TRACE_ORD_GETSOCKNAME, g_trace.GetSockName, &complete);
    BindExport(TRACE_ORD_GETSOCKOPT, g_trace.GetSockOpt, &complete);
    BindExport(TRACE_ORD_IOCTLSOCKET, g_trace.IoctlSocket, &complete);
    BindExport(TRACE_ORD_LISTEN, g_trace.Listen, &complete);
    BindExport(TRACE_ORD_RECV, g_trace.Recv, &complete);
    BindExport(TRACE_ORD_RECVFROM, g_trace.RecvFrom, &complete);
    BindExport(TRACE_ORD_SELECT, g_trace.Select, &complete);
    BindExport(TRACE_ORD_SEND, g_trace.Send, &complete);
    BindExport(TRACE_ORD_SENDTO, g_trace.SendTo, &complete);
    BindExport(TRACE_ORD_SETSOCKOPT, g_trace.SetSockOpt, &complete);
    BindExport(TRACE_ORD_SHUTDOWN, g_trace.Shutdown, &complete);
    BindExport(TRACE_ORD_SOCKET, g_trace.Socket, &complete);
    BindExport(TRACE_ORD_WSAACCEPT, g_trace.WSAAccept, &complete);
    BindExport(TRACE_ORD_WSAASYNCSELECT, g_trace.WSAAsyncSelect, &complete);
    BindExport(TRACE_ORD_WSAENUMNETWORKEVENTS, g_trace.WSAEnumNetworkEvents, &complete);
    BindExport(TRACE_ORD_WSAEVENTSELECT, g_trace.WSAEventSelect, &complete);
    return complete;
}

// ---------------------------------------------------------------------------
// Traced Winsock calls: each makes the call and reports it to its tracer at
// once, before anything else can change the thread's socket error code.

SOCKET TracedSocket(int af, int type, int protocol)
{
    SOCKET s = socket(af, type, protocol);
    g_trace.Socket((INT_PTR)s, af, type, protocol);
    return s;
}

int TracedBind(SOCKET s, const sockaddr *name, int namelen)
{
    int result = bind(s, name, namelen);
    g_trace.Bind(result, (INT_PTR)s, name, namelen);
    return result;
}

int TracedListen(SOCKET s, int backlog)
{
    int result = listen(s, backlog);
    g_trace.Listen(result, (INT_PTR)s, backlog);
    return result;
}

int TracedConnect(SOCKET s, const sockaddr *name, int namelen)
{
    int result = connect(s, name, namelen);
    g_trace.Connect(result, (INT_PTR)s, name, namelen);
    return result;
}

SOCKET TracedAccept(SOCKET s, sockaddr *addr, int *addrlen)
{
    SOCKET result = accept(s, addr, addrlen);
    g_trace.Accept((INT_PTR)result, (INT_PTR)s, addr, addrlen);
    return result;
}

SOCKET TracedWSAAccept(SOCKET s, sockaddr *addr, int *addrlen, LPCONDITIONPROC condition,
                       DWORD_PTR callbackData)
{
    SOCKET result = WSAAccept(s, addr, addrlen, condition, callbackData);
    g_trace.WSAAccept((INT_PTR)result, (INT_PTR)s, addr, addrlen, (const void *)condition,
                      callbackData);
    return result;
}

int TracedSend(SOCKET s, const char *buf, int len, int flags)
{
    int result = send(s, buf, len, flags);
    g_trace.Send(result, (INT_PTR)s, buf, len, flags);
    return result;
}

int TracedRecv(SOCKET s, char *buf, int len, int flags)
{
    int result = recv(s, buf, len, flags);
    g_trace.Recv(result, (INT_PTR)s, buf, len, flags);
    return result;
}

int TracedSendTo(SOCKET s, const char *buf, int len, int flags, const sockaddr *to, int tolen)
{
    int result = sendto(s, buf, len, flags, to, tolen);
    g_trace.SendTo(result, (INT_PTR)s, buf, len, flags, to, tolen);
    return result;
}

int TracedRecvFrom(SOCKET s, char *buf, int len, int flags, sockaddr *from, int *fromlen)
{
    int result = recvfrom(s, buf, len, flags, from, fromlen);
    g_trace.RecvFrom(result, (INT_PTR)s, buf, len, flags, from, fromlen);
    return result;
}

int TracedShutdown(SOCKET s, int how)
{
    int result = shutdown(s, how);
    g_trace.Shutdown(result, (INT_PTR)s, how);
    return result;
}

int TracedCloseSocket(SOCKET s)
{
    int result = closesocket(s);
    g_trace.CloseSocket(result, (INT_PTR)s);
    return result;
}

int TracedGetAddrInfo(const char *node, const char *service, const addrinfo *hints,
                      addrinfo **list)
{
    int result = getaddrinfo(node, service, hints, list);
    g_trace.GetAddrInfo(result, node, service, hints, list);
    return result;
}

int TracedGetNameInfo(const sockaddr *sa, int salen, char *host, DWORD hostlen, char *serv,
                      DWORD servlen, int flags)
{
    int result = getnameinfo(sa, salen, host, hostlen, serv, servlen, flags);
    g_trace.GetNameInfo(result, sa, salen, host, hostlen, serv, servlen, flags);
    return result;
}

int TracedGetHostName(char *name, int namelen)
{
    int result = gethostname(name, namelen);
    g_trace.GetHostName(result, name, namelen);
    return result;
}

int TracedGetSockName(SOCKET s, sockaddr *name, int *namelen)
{
    int result = getsockname(s, name, namelen);
    g_trace.GetSockName(result, (INT_PTR)s, name, namelen);
    return result;
}

int TracedGetPeerName(SOCKET s, sockaddr *name, int *namelen)
{
    int result = getpeername(s, name, namelen);
    g_trace.GetPeerName(result, (INT_PTR)s, name, namelen);
    return result;
}

int TracedGetSockOpt(SOCKET s, int level, int optname, char *optval, int *optlen)
{
    int result = getsockopt(s, level, optname, optval, optlen);
    g_trace.GetSockOpt(result, (INT_PTR)s, level, optname, optval, optlen);
    return result;
}

int TracedSetSockOpt(SOCKET s, int level, int optname, const char *optval, int optlen)
{
    int result = setsockopt(s, level, optname, optval, optlen);
    g_trace.SetSockOpt(result, (INT_PTR)s, level, optname, optval, optlen);
    return result;
}

int TracedIoctlSocket(SOCKET s, long cmd, u_long *argp)
{
    int result = ioctlsocket(s, cmd, argp);
    g_trace.IoctlSocket(result, (INT_PTR)s, cmd, argp);
    return result;
}

int TracedSelect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                 timeval *timeout)
{
    int result = select(nfds, readfds, writefds, exceptfds, timeout);
    g_trace.Select(result, nfds, readfds, writefds, exceptfds, timeout);
    return result;
}

int TracedWSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents)
{
    int result = WSAEventSelect(s, event, networkEvents);
    g_trace.WSAEventSelect(result, (INT_PTR)s, event, networkEvents);
    return result;
}

int TracedWSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS *events)
{
    int result = WSAEnumNetworkEvents(s, event, events);
    g_trace.WSAEnumNetworkEvents(result, (INT_PTR)s, event, events);
    return result;
}

int TracedWSAAsyncSelect(SOCKET s, HWND window, unsigned int message, long events)
{
    int result = WSAAsyncSelect(s, window, message, events);
    g_trace.WSAAsyncSelect(result, (INT_PTR)s, window, message, events);
    return result;
}

// ---------------------------------------------------------------------------
// Small helpers

const DWORD WAIT_LIMIT_MS = 5000;         // no step waits longer than this
const UINT WM_SOCKET = WM_APP + 1;        // what WSAAsyncSelect posts
const char WINDOW_CLASS[] = "TraceDemoSocketWindow";

// Reports an unexpected outcome; the socket error code is the thread's own.
bool Check(bool ok, const char *step)
{
    if (!ok)
        fprintf(stderr, "trace_demo: %s failed (socket error %d)\n", step, WSAGetLastError());
    return ok;
}

void CloseIfOpen(SOCKET *s)
{
    if (*s != INVALID_SOCKET)
        TracedCloseSocket(*s);
    *s = INVALID_SOCKET;
}

sockaddr_in LoopbackAddress(u_short port)
{
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool OpenSocket(int type, int protocol, SOCKET *s)
{
    *s = TracedSocket(AF_INET, type, protocol);
    return Check(*s != INVALID_SOCKET, "socket");
}

// A TCP or UDP socket on 127.0.0.1 with a port of the system's choosing;
// *address receives the port that was given.
bool OpenBoundSocket(int type, int protocol, SOCKET *s, sockaddr_in *address)
{
    if (!OpenSocket(type, protocol, s))
        return false;
    sockaddr_in any = LoopbackAddress(0);
    if (!Check(TracedBind(*s, (const sockaddr *)&any, sizeof(any)) == 0, "bind"))
        return false;
    int length = sizeof(*address);
    return Check(TracedGetSockName(*s, (sockaddr *)address, &length) == 0, "getsockname");
}

// A receive never waits for ever, whatever goes wrong on the other side.
bool LimitReceiveWait(SOCKET s)
{
    DWORD limit = WAIT_LIMIT_MS;
    return Check(TracedSetSockOpt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&limit,
                                  sizeof(limit)) == 0,
                 "setsockopt(SO_RCVTIMEO)");
}

bool SendAll(SOCKET s, const char *text)
{
    int length = (int)strlen(text);
    for (int sent = 0; sent < length;) {
        int result = TracedSend(s, text + sent, length - sent, 0);
        if (!Check(result > 0, "send"))
            return false;
        sent += result;
    }
    return true;
}

// Waits for the FD_READ (or FD_CLOSE) notice of s on the thread's
// message-only window.
bool WaitForSocketMessage(HWND window, SOCKET s)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
            if (message.message == WM_SOCKET && (SOCKET)message.wParam == s &&
                (WSAGETSELECTEVENT(message.lParam) & (FD_READ | FD_CLOSE)))
                return WSAGETSELECTERROR(message.lParam) == 0;
            DispatchMessageA(&message);
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= WAIT_LIMIT_MS)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, WAIT_LIMIT_MS - waited, QS_ALLINPUT);
    }
}

// Reads one CR LF terminated line. With a window, s is in WSAAsyncSelect
// mode and each read waits for its FD_READ notice first, so that no read
// would block.
bool ReceiveLine(SOCKET s, HWND window, std::string *line)
{
    char buffer[256];
    int used = 0;
    while (used < 2 || buffer[used - 2] != '\r' || buffer[used - 1] != '\n') {
        if (used == (int)sizeof(buffer))
            return Check(false, "recv (line too long)");
        if (window && !Check(WaitForSocketMessage(window, s), "FD_READ notice"))
            return false;
        int result = TracedRecv(s, buffer + used, (int)sizeof(buffer) - used, 0);
        if (!Check(result > 0, "recv"))
            return false;
        used += result;
    }
    line->assign(buffer, used);
    return true;
}

// The server's side of the text protocol.
std::string AnswerFor(const std::string &request)
{
    std::string body = request.substr(0, request.size() - 2);
    if (body.compare(0, 6, "HELLO ") == 0)
        return "+OK welcome " + body.substr(6) + "\r\n";
    if (body.compare(0, 5, "ECHO ") == 0)
        return "+OK " + body.substr(5) + "\r\n";
    if (body == "QUIT")
        return "+OK bye\r\n";
    if (body.compare(0, 5, "PING ") == 0)
        return "PONG " + body.substr(5) + "\r\n";
    return "-ERR unknown command\r\n";
}

// The client says a line, the server reads it and answers, the client reads
// the answer.
bool Exchange(SOCKET client, SOCKET server, HWND serverWindow, const char *request)
{
    std::string heard, answer;
    return SendAll(client, request) && ReceiveLine(server, serverWindow, &heard) &&
           SendAll(server, AnswerFor(heard).c_str()) && ReceiveLine(client, NULL, &answer) &&
           Check(answer == AnswerFor(request), "answer");
}

// ---------------------------------------------------------------------------
// The steps of one round

struct Session {
    HWND window;                  // message-only window for WSAAsyncSelect
    SOCKET listener;
    sockaddr_in listenerAddress;  // 127.0.0.1 and the listener's port
};

bool ShowHostName()
{
    char name[256];
    return Check(TracedGetHostName(name, sizeof(name)) == 0, "gethostname");
}

bool OpenListener(Session *session)
{
    if (!OpenBoundSocket(SOCK_STREAM, IPPROTO_TCP, &session->listener, &session->listenerAddress))
        return false;
    if (!Check(TracedListen(session->listener, 5) == 0, "listen"))
        return false;
    BOOL listening = FALSE;
    int length = sizeof(listening);
    return Check(TracedGetSockOpt(session->listener, SOL_SOCKET, SO_ACCEPTCONN,
                                  (char *)&listening, &length) == 0 && listening,
                 "getsockopt(SO_ACCEPTCONN)");
}

// The listener as a client finds it: by name, "localhost", and port.
bool ResolveListener(const Session &session, sockaddr_in *target)
{
    char port[16];
    snprintf(port, sizeof(port), "%u", ntohs(session.listenerAddress.sin_port));
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *list = NULL;
    if (!Check(TracedGetAddrInfo("localhost", port, &hints, &list) == 0 && list, "getaddrinfo"))
        return false;
    memcpy(target, list->ai_addr, sizeof(*target));
    freeaddrinfo(list);
    return true;
}

bool ConnectClient(const sockaddr_in &target, SOCKET *client)
{
    return OpenSocket(SOCK_STREAM, IPPROTO_TCP, client) && LimitReceiveWait(*client) &&
           Check(TracedConnect(*client, (const sockaddr *)&target, sizeof(target)) == 0,
                 "connect");
}

// Waits with select until the listener has a caller, then accepts it.
bool AcceptCaller(const Session &session, SOCKET *server)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(session.listener, &readable);
    timeval timeout = {(long)(WAIT_LIMIT_MS / 1000), 0};
    if (!Check(TracedSelect(0, &readable, NULL, NULL, &timeout) == 1, "select"))
        return false;
    sockaddr_in caller;
    int length = sizeof(caller);
    *server = TracedAccept(session.listener, (sockaddr *)&caller, &length);
    return Check(*server != INVALID_SOCKET, "accept") && LimitReceiveWait(*server);
}

// Both ends of the connection by address, and the caller by name.
bool ShowEndpoints(SOCKET client, SOCKET server)
{
    sockaddr_in local, peer;
    int localLength = sizeof(local), peerLength = sizeof(peer);
    if (!Check(TracedGetSockName(client, (sockaddr *)&local, &localLength) == 0, "getsockname") ||
        !Check(TracedGetPeerName(server, (sockaddr *)&peer, &peerLength) == 0, "getpeername"))
        return false;
    char host[NI_MAXHOST], service[NI_MAXSERV];
    return Check(TracedGetNameInfo((const sockaddr *)&peer, peerLength, host, sizeof(host),
                                   service, sizeof(service), NI_NUMERICSERV) == 0,
                 "getnameinfo");
}

// Nothing is on its way to the client: a non-blocking read would block.
bool ReadWouldBlock(SOCKET client)
{
    u_long nonBlocking = 1;
    if (!Check(TracedIoctlSocket(client, FIONBIO, &nonBlocking) == 0, "ioctlsocket(FIONBIO, 1)"))
        return false;
    char buffer[64];
    int result = TracedRecv(client, buffer, sizeof(buffer), 0);
    // The tracer hands the saved error code back: the caller still sees it.
    bool wouldBlock = result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
    u_long blocking = 0;
    return Check(wouldBlock, "recv that would block") &&
           Check(TracedIoctlSocket(client, FIONBIO, &blocking) == 0, "ioctlsocket(FIONBIO, 0)");
}

// Each side says it is done sending and sees the other's end of stream.
bool HangUp(SOCKET client, SOCKET server)
{
    char buffer[64];
    return Check(TracedShutdown(client, SD_SEND) == 0, "shutdown") &&
           Check(TracedRecv(server, buffer, sizeof(buffer), 0) == 0, "recv of end of stream") &&
           Check(TracedShutdown(server, SD_SEND) == 0, "shutdown") &&
           Check(TracedRecv(client, buffer, sizeof(buffer), 0) == 0, "recv of end of stream");
}

// Connection one: select, accept, blocking sockets and the text protocol.
bool TalkBlocking(const Session &session)
{
    sockaddr_in target;
    SOCKET client = INVALID_SOCKET, server = INVALID_SOCKET;
    bool ok = ResolveListener(session, &target) && ConnectClient(target, &client) &&
              AcceptCaller(session, &server) && ShowEndpoints(client, server) &&
              Exchange(client, server, NULL, "HELLO trace_demo\r\n") && ReadWouldBlock(client) &&
              Exchange(client, server, NULL, "ECHO Kestrelnode9\r\n") &&
              Exchange(client, server, NULL, "QUIT\r\n") && HangUp(client, server);
    CloseIfOpen(&client);
    CloseIfOpen(&server);
    return ok;
}

// Accepts only callers from the loopback interface.
int CALLBACK LoopbackCallersOnly(LPWSABUF callerId, LPWSABUF, LPQOS, LPQOS, LPWSABUF, LPWSABUF,
                                 GROUP *, DWORD_PTR)
{
    if (!callerId || !callerId->buf || callerId->len < sizeof(sockaddr_in))
        return CF_REJECT;
    const sockaddr_in *caller = (const sockaddr_in *)callerId->buf;
    bool loopback = caller->sin_family == AF_INET &&
                    ntohl(caller->sin_addr.s_addr) == INADDR_LOOPBACK;
    return loopback ? CF_ACCEPT : CF_REJECT;
}

// The listener signals an event for its caller; WSAEnumNetworkEvents says
// which, and WSAAccept takes the call.
bool AcceptOnEvent(const Session &session, WSAEVENT event, SOCKET *client, SOCKET *server)
{
    if (!Check(TracedWSAEventSelect(session.listener, event, FD_ACCEPT) == 0, "WSAEventSelect") ||
        !ConnectClient(session.listenerAddress, client))
        return false;
    if (!Check(WaitForSingleObject(event, WAIT_LIMIT_MS) == WAIT_OBJECT_0, "wait for FD_ACCEPT"))
        return false;
    WSANETWORKEVENTS events;
    if (!Check(TracedWSAEnumNetworkEvents(session.listener, event, &events) == 0 &&
                   (events.lNetworkEvents & FD_ACCEPT),
               "WSAEnumNetworkEvents"))
        return false;
    sockaddr_in caller;
    int length = sizeof(caller);
    *server = TracedWSAAccept(session.listener, (sockaddr *)&caller, &length,
                              LoopbackCallersOnly, 0);
    // The listener has done its part; the accepted socket inherits the
    // selection until WSAAsyncSelect replaces it.
    return Check(*server != INVALID_SOCKET, "WSAAccept") &&
           Check(TracedWSAEventSelect(session.listener, NULL, 0) == 0, "WSAEventSelect");
}

// Notices of a socket that is gone must not reach a later socket that gets
// the same handle value.
void DropSocketMessages(HWND window)
{
    MSG message;
    while (PeekMessageA(&message, window, WM_SOCKET, WM_SOCKET, PM_REMOVE)) {
    }
}

// Connection two: WSAEventSelect and WSAAccept at the listener, then
// WSAAsyncSelect notices on the message-only window for the server's reads.
bool TalkEventDriven(const Session &session)
{
    WSAEVENT event = WSACreateEvent();
    SOCKET client = INVALID_SOCKET, server = INVALID_SOCKET;
    const long notices = FD_READ | FD_CLOSE;
    bool ok = Check(event != WSA_INVALID_EVENT, "WSACreateEvent") &&
              AcceptOnEvent(session, event, &client, &server) &&
              Check(TracedWSAAsyncSelect(server, session.window, WM_SOCKET, notices) == 0,
                    "WSAAsyncSelect") &&
              Exchange(client, server, session.window, "PING tcp\r\n") &&
              Check(TracedWSAAsyncSelect(server, session.window, 0, 0) == 0, "WSAAsyncSelect");
    CloseIfOpen(&client);
    CloseIfOpen(&server);
    DropSocketMessages(session.window);
    if (event != WSA_INVALID_EVENT)
        WSACloseEvent(event);
    return ok;
}

bool SendDatagram(SOCKET s, const char *text, const sockaddr_in &to)
{
    int length = (int)strlen(text);
    return Check(TracedSendTo(s, text, length, 0, (const sockaddr *)&to, sizeof(to)) == length,
                 "sendto");
}

bool ReceiveDatagram(SOCKET s, const char *expected, sockaddr_in *from)
{
    char buffer[64];
    int fromLength = sizeof(*from);
    int result = TracedRecvFrom(s, buffer, sizeof(buffer), 0, (sockaddr *)from, &fromLength);
    return Check(result >= 0 && std::string(buffer, result) == expected, "recvfrom");
}

// A datagram there and one back.
bool ExchangeDatagrams()
{
    SOCKET receiver = INVALID_SOCKET, sender = INVALID_SOCKET;
    sockaddr_in receiverAddress, senderAddress;
    bool ok = OpenBoundSocket(SOCK_DGRAM, IPPROTO_UDP, &receiver, &receiverAddress) &&
              LimitReceiveWait(receiver) && OpenSocket(SOCK_DGRAM, IPPROTO_UDP, &sender) &&
              LimitReceiveWait(sender) && SendDatagram(sender, "PING udp\r\n", receiverAddress) &&
              ReceiveDatagram(receiver, "PING udp\r\n", &senderAddress) &&
              SendDatagram(receiver, "PONG udp\r\n", senderAddress) &&
              ReceiveDatagram(sender, "PONG udp\r\n", &receiverAddress);
    CloseIfOpen(&sender);
    CloseIfOpen(&receiver);
    return ok;
}

// A port that is bound but not listening refuses a connection; holding it
// keeps anyone else from taking it meanwhile.
bool ConnectToClosedPort()
{
    SOCKET holder = INVALID_SOCKET, caller = INVALID_SOCKET;
    sockaddr_in closedPort;
    bool ok = OpenBoundSocket(SOCK_STREAM, IPPROTO_TCP, &holder, &closedPort) &&
              OpenSocket(SOCK_STREAM, IPPROTO_TCP, &caller);
    if (ok) {
        int result = TracedConnect(caller, (const sockaddr *)&closedPort, sizeof(closedPort));
        ok = Check(result == SOCKET_ERROR && WSAGetLastError() == WSAECONNREFUSED,
                   "connect to a closed port");
    }
    CloseIfOpen(&caller);
    CloseIfOpen(&holder);
    return ok;
}

bool RunRound(Session *session)
{
    bool ok = ShowHostName() && OpenListener(session) && TalkBlocking(*session) &&
              TalkEventDriven(*session);
    CloseIfOpen(&session->listener);
    return ok && ExchangeDatagrams() && ConnectToClosedPort();
}

// All rounds on the calling thread, with its own window for notices.
bool RunRounds(int rounds)
{
    Session session;
    memset(&session, 0, sizeof(session));
    session.listener = INVALID_SOCKET;
    session.window = CreateWindowExA(0, WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                     GetModuleHandleA(NULL), NULL);
    if (!Check(session.window != NULL, "CreateWindowEx(HWND_MESSAGE)"))
        return false;
    bool ok = true;
    for (int round = 0; ok && round < rounds; round++)
        ok = RunRound(&session);
    DestroyWindow(session.window);
    return ok;
}

// ---------------------------------------------------------------------------
// Options, threads and the trace

struct Options {
    const char *logName;  // null: the library's default file
    DWORD flags;
    bool processMode;
    int threads;
    int rounds;
};

void PrintUsage(FILE *out)
{
    fprintf(out,
            "Usage: trace_demo [--log FILE] [--flags HEX] [--process] [--threads N] [--rounds N]\n"
            "\n"
            "Holds a traced Winsock conversation with itself over the loopback interface\n"
            "and prints the trace it wrote.\n"
            "\n"
            "  --log FILE     log file (default: Kestrelnode9.log in the documents folder)\n"
            "  --flags HEX    trace flags, e.g. 4 (hex dumps, the default), 1 (errors only),\n"
            "                 6 (warnings, errors and dumps), 8 (start a fresh file)\n"
            "  --process      one trace for the whole process instead of one per thread\n"
            "  --threads N    run the conversation on N worker threads (1 to 64; default 1:\n"
            "                 the main thread)\n"
            "  --rounds N     rounds of the conversation per thread (1 to 1000; default 1)\n"
            "  --help         this text\n");
}

bool ReadCount(const char *text, int low, int high, int *value)
{
    char *end = NULL;
    long number = strtol(text, &end, 10);
    if (!*text || *end || number < low || number > high)
        return false;
    *value = (int)number;
    return true;
}

// 0: run, 1: --help was given, -1: bad options.
int ParseOptions(int argc, char **argv, Options *options)
{
    memset(options, 0, sizeof(*options));
    options->threads = 1;
    options->rounds = 1;
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : NULL;
        if (option == "--help" || option == "-h" || option == "/?")
            return 1;
        if (option == "--process") {
            options->processMode = true;
            continue;
        }
        if (!value) {
            fprintf(stderr, "trace_demo: unknown option or missing value: %s\n", argv[i]);
            return -1;
        }
        bool good = true;
        if (option == "--log") {
            options->logName = value;
        } else if (option == "--flags") {
            char *end = NULL;
            options->flags = strtoul(value, &end, 16);
            good = *value && !*end;
        } else if (option == "--threads") {
            good = ReadCount(value, 1, 64, &options->threads);
        } else if (option == "--rounds") {
            good = ReadCount(value, 1, 1000, &options->rounds);
        } else {
            good = false;
        }
        if (!good) {
            fprintf(stderr, "trace_demo: bad option: %s %s\n", argv[i], value);
            return -1;
        }
        i++;
    }
    return 0;
}

struct Worker {
    HANDLE thread;
    const Options *options;
    const char *logPath;  // the file of the main thread's trace
    bool ok;
};

DWORD WINAPI RunWorker(void *parameter)
{
    Worker *worker = (Worker *)parameter;
    const Options &options = *worker->options;
    // In thread mode every thread has its own trace, here into the same file;
    // in process mode the main thread's trace covers this thread already.
    bool ownTrace = !options.processMode;
    if (ownTrace && !g_trace.Start(worker->logPath, options.flags & ~TRACE_OVERWRITE)) {
        g_trace.Stop();
        fprintf(stderr, "trace_demo: TraceStart failed on a worker thread\n");
        return 0;
    }
    worker->ok = RunRounds(options.rounds);
    if (ownTrace)
        g_trace.Stop();
    return 0;
}

bool RunWorkers(const Options &options, const char *logPath)
{
    Worker workers[64];
    int started = 0;
    for (int i = 0; i < options.threads; i++) {
        workers[i].options = &options;
        workers[i].logPath = logPath;
        workers[i].ok = false;
        workers[i].thread = CreateThread(NULL, 0, RunWorker, &workers[i], 0, NULL);
        if (!workers[i].thread)
            break;
        started++;
    }
    bool ok = started == options.threads;
    for (int i = 0; i < started; i++) {
        WaitForSingleObject(workers[i].thread, INFINITE);
        CloseHandle(workers[i].thread);
        ok = ok && workers[i].ok;
    }
    return ok;
}

// Where the log goes and how long it is already, found without writing a
// line: a trace with TRACE_SUSPEND writes nothing, not even its start and
// stop lines.
bool FindLogFile(const Options &options, char *path, int size, DWORD *sizeBefore)
{
    int started = g_trace.Start(options.logName, TRACE_SUSPEND);
    int length = started ? g_trace.GetFileName(path, size) : 0;
    g_trace.Stop();
    if (length <= 0)
        return false;
    *sizeBefore = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!(options.flags & TRACE_OVERWRITE) &&
        GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        *sizeBefore = data.nFileSizeLow;
    return true;
}

// The log lines from offset on, with the file's CR LF line ends given to
// the console as plain line ends.
void PrintLog(const char *path, DWORD offset)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        printf("(the log file can't be read)\n");
        return;
    }
    if (GetFileSize(file, NULL) < offset)
        offset = 0;
    SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    bool carriageReturn = false;
    while (ReadFile(file, chunk, sizeof(chunk), &got, NULL) && got > 0) {
        for (DWORD i = 0; i < got; i++) {
            if (carriageReturn && chunk[i] != '\n')
                putchar('\r');
            carriageReturn = chunk[i] == '\r';
            if (!carriageReturn)
                putchar(chunk[i]);
        }
    }
    CloseHandle(file);
}

bool RegisterWindowClass()
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

// The whole traced session; false when the trace could not be started or a
// step went otherwise than planned.
bool RunTrace(const Options &options, char *logPath, int size)
{
    DWORD flags = options.flags | (options.processMode ? TRACE_PROCESS : 0);
    if (!g_trace.Start(options.logName, flags)) {
        g_trace.Stop();  // a refused start still leaves a trace to stop
        fprintf(stderr, "trace_demo: TraceStart failed\n");
        return false;
    }
    g_trace.GetFileName(logPath, size);
    bool ok = options.threads == 1 && !options.processMode ? RunRounds(options.rounds)
                                                           : RunWorkers(options, logPath);
    g_trace.Stop();
    return ok;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    int parsed = ParseOptions(argc, argv, &options);
    if (parsed != 0) {
        PrintUsage(parsed > 0 ? stdout : stderr);
        return parsed > 0 ? 0 : 2;
    }
    if (!LoadTraceLibrary()) {
        fprintf(stderr, "trace_demo: Kestrelnode9.TraceLog.dll is missing or incomplete\n");
        return 1;
    }
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0 || !RegisterWindowClass()) {
        fprintf(stderr, "trace_demo: Winsock or the window class is not available\n");
        return 1;
    }
    TRACE_ERROR_HANDLERS handlers = {WSAGetLastError, WSASetLastError};
    g_trace.SetErrorHandlers(&handlers);

    char logPath[MAX_PATH];
    DWORD sizeBefore = 0;
    if (!FindLogFile(options, logPath, sizeof(logPath), &sizeBefore)) {
        fprintf(stderr, "trace_demo: the log file name was refused: %s\n",
                options.logName ? options.logName : "(default)");
        return 1;
    }
    printf("trace_demo: %d thread%s, %d round%s, %s trace, flags 0x%lX\n", options.threads,
           options.threads == 1 ? "" : "s", options.rounds, options.rounds == 1 ? "" : "s",
           options.processMode ? "process" : "thread", (unsigned long)options.flags);
    bool ok = RunTrace(options, logPath, sizeof(logPath));

    printf("Log file: %s\n", logPath);
    printf("--- lines written by this run ---\n");
    PrintLog(logPath, sizeBefore);
    printf("--- end of log ---\n");
    WSACleanup();
    if (!ok)
        fprintf(stderr, "trace_demo: the session did not go as planned\n");
    return ok ? 0 : 1;
}
