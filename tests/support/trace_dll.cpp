#include "trace_dll.h"

namespace {

template <typename T>
bool BindOrdinal(HMODULE module, int ordinal, T *&function)
{
    function = reinterpret_cast<T *>(
        reinterpret_cast<void *>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
    return function != nullptr;
}

}  // namespace

bool TraceDll::Load(const char *path)
{
    module = LoadLibraryA(path);
    if (!module)
        return false;
    bool ok = BindOrdinal(module, TRACE_ORD_DLLGETVERSION, DllGetVersion) &&
              BindOrdinal(module, TRACE_ORD_STOP, Stop) && BindOrdinal(module, TRACE_ORD_START, Start) &&
              BindOrdinal(module, TRACE_ORD_GETFILENAME, GetFileName) &&
              BindOrdinal(module, TRACE_ORD_GETFLAGS, GetFlags) &&
              BindOrdinal(module, TRACE_ORD_ACTIVECOUNT, ActiveCount) &&
              BindOrdinal(module, TRACE_ORD_SETERRORHANDLERS, SetErrorHandlers) &&
              BindOrdinal(module, TRACE_ORD_SETFILENAME, SetFileName) &&
              BindOrdinal(module, TRACE_ORD_SETFLAGS, SetFlags) && BindOrdinal(module, TRACE_ORD_WRITE, Write) &&
              BindOrdinal(module, TRACE_ORD_ACCEPT, Accept) && BindOrdinal(module, TRACE_ORD_BIND, Bind) &&
              BindOrdinal(module, TRACE_ORD_CLOSESOCKET, CloseSocket) &&
              BindOrdinal(module, TRACE_ORD_CONNECT, Connect) &&
              BindOrdinal(module, TRACE_ORD_GETADDRINFO, GetAddrInfo) &&
              BindOrdinal(module, TRACE_ORD_GETHOSTNAME, GetHostName) &&
              BindOrdinal(module, TRACE_ORD_GETNAMEINFO, GetNameInfo) &&
              BindOrdinal(module, TRACE_ORD_GETPEERNAME, GetPeerName) &&
              BindOrdinal(module, TRACE_ORD_GETSOCKNAME, GetSockName) &&
              BindOrdinal(module, TRACE_ORD_GETSOCKOPT, GetSockOpt) &&
              BindOrdinal(module, TRACE_ORD_IOCTLSOCKET, IoctlSocket) &&
              BindOrdinal(module, TRACE_ORD_LISTEN, Listen) && BindOrdinal(module, TRACE_ORD_RECV, Recv) &&
              BindOrdinal(module, TRACE_ORD_RECVFROM, RecvFrom) &&
              BindOrdinal(module, TRACE_ORD_SELECT, Select) && BindOrdinal(module, TRACE_ORD_SEND, Send) &&
              BindOrdinal(module, TRACE_ORD_SENDTO, SendTo) &&
              BindOrdinal(module, TRACE_ORD_SETSOCKOPT, SetSockOpt) &&
              BindOrdinal(module, TRACE_ORD_SHUTDOWN, Shutdown) &&
              BindOrdinal(module, TRACE_ORD_SOCKET, Socket) &&
              BindOrdinal(module, TRACE_ORD_WSAACCEPT, WSAAccept) &&
              BindOrdinal(module, TRACE_ORD_WSAASYNCSELECT, WSAAsyncSelect) &&
              BindOrdinal(module, TRACE_ORD_WSAENUMNETWORKEVENTS, WSAEnumNetworkEvents) &&
              BindOrdinal(module, TRACE_ORD_WSAEVENTSELECT, WSAEventSelect);
    if (!ok)
        Unload();
    return ok;
}

void TraceDll::Unload()
{
    if (module)
        FreeLibrary(module);
    *this = TraceDll();
}

TraceDll &Dll()
{
    static TraceDll dll;
    if (!dll.module)
        dll.Load();
    return dll;
}
