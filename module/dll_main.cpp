// The library's entry point and its version query.
#include <windows.h>

#include "call_tracers.h"
#include "trace_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        AttachTraceLibrary(instance);
        AttachCallTracers();
    } else if (reason == DLL_PROCESS_DETACH) {
        DetachCallTracers();
        DetachTraceLibrary();
    }
    return TRUE;
}

namespace
{

// DLLVERSIONINFO; larger structures (DLLVERSIONINFO2) are refused.
struct VERSION_INFO {
    DWORD cbSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformID;
};

} // namespace

extern "C" HRESULT WINAPI DllGetVersion(void *info)
{
    VERSION_INFO *version = (VERSION_INFO *)info;
    if (!version)
        return (HRESULT)0x80000005;
    if (version->cbSize != sizeof(VERSION_INFO))
        return (HRESULT)0x80000003;
    version->dwMajorVersion = 9;
    version->dwMinorVersion = 5;
    version->dwBuildNumber = 9530;
    version->dwPlatformID = 1; // DLLVER_PLATFORM_WINDOWS
    return 0;
}
