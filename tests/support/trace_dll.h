// The DLL as its real caller sees it: loaded with LoadLibraryA, every export
// bound by ordinal.
#ifndef TRACELOG_TEST_TRACE_DLL_H
#define TRACELOG_TEST_TRACE_DLL_H

#include <string>

#include "kestrelnode9_tracelog.h"

struct TraceDll {
    HMODULE module = nullptr;

    HRESULT(WINAPI *DllGetVersion)(void *info) = nullptr;
    int(WINAPI *Start)(const char *fileName, DWORD flags) = nullptr;
    int(WINAPI *Stop)() = nullptr;
    int(WINAPI *GetFileName)(char *buffer, int size) = nullptr;
    DWORD(WINAPI *GetFlags)() = nullptr;
    int(WINAPI *ActiveCount)() = nullptr;
    int(WINAPI *SetErrorHandlers)(const TRACE_ERROR_HANDLERS *handlers) = nullptr;
    int(WINAPI *SetFileName)(const char *fileName) = nullptr;
    DWORD(WINAPI *SetFlags)(DWORD flags) = nullptr;
    int(WINAPI *Write)(DWORD kind, const void *data, DWORD length) = nullptr;

    // Socket call tracers, in ordinal order (11..34). Every argument is a
    // 32-bit value on this target.
    void(WINAPI *Accept)(INT_PTR, INT_PTR, const void *, const int *) = nullptr;
    void(WINAPI *Bind)(int, INT_PTR, const void *, int) = nullptr;
    void(WINAPI *CloseSocket)(int, INT_PTR) = nullptr;
    void(WINAPI *Connect)(int, INT_PTR, const void *, int) = nullptr;
    void(WINAPI *GetAddrInfo)(int, const char *, const char *, const void *, const void *) = nullptr;
    void(WINAPI *GetHostName)(int, const char *, int) = nullptr;
    void(WINAPI *GetNameInfo)(int, const void *, int, const char *, DWORD, const char *, DWORD,
                              int) = nullptr;
    void(WINAPI *GetPeerName)(int, INT_PTR, const void *, const int *) = nullptr;
    void(WINAPI *GetSockName)(int, INT_PTR, const void *, const int *) = nullptr;
    void(WINAPI *GetSockOpt)(int, INT_PTR, int, int, const void *, const int *) = nullptr;
    void(WINAPI *IoctlSocket)(int, INT_PTR, long, const void *) = nullptr;
    void(WINAPI *Listen)(int, INT_PTR, int) = nullptr;
    void(WINAPI *Recv)(int, INT_PTR, const void *, int, int) = nullptr;
    void(WINAPI *RecvFrom)(int, INT_PTR, const void *, int, int, const void *, const int *) = nullptr;
    void(WINAPI *Select)(int, int, const void *, const void *, const void *, const void *) = nullptr;
    void(WINAPI *Send)(int, INT_PTR, const void *, int, int) = nullptr;
    void(WINAPI *SendTo)(int, INT_PTR, const void *, int, int, const void *, int) = nullptr;
    void(WINAPI *SetSockOpt)(int, INT_PTR, int, int, const void *, int) = nullptr;
    void(WINAPI *Shutdown)(int, INT_PTR, int) = nullptr;
    void(WINAPI *Socket)(INT_PTR, int, int, int) = nullptr;
    void(WINAPI *WSAAccept)(INT_PTR, INT_PTR, const void *, const int *, const void *,
                            DWORD_PTR) = nullptr;
    void(WINAPI *WSAAsyncSelect)(int, INT_PTR, HWND, unsigned int, long) = nullptr;
    void(WINAPI *WSAEnumNetworkEvents)(int, INT_PTR, HANDLE, const void *) = nullptr;
    void(WINAPI *WSAEventSelect)(int, INT_PTR, HANDLE, long) = nullptr;

    // Loads the DLL (next to the test program) and binds every export;
    // false when the DLL or any ordinal is missing.
    bool Load(const char *path = "Kestrelnode9.TraceLog.dll");
    void Unload();
};

// The process-wide instance that most tests share; loaded on first use.
TraceDll &Dll();

#endif
