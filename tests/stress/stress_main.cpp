// The stress program runs its tests under GoogleTest, or, started with
// "--child", one writer process of a load test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "stress_support.h"

int RunLoadChild(int argc, char **argv);

namespace {

DWORD g_errorCodeSlot = TLS_OUT_OF_INDEXES;

}  // namespace

int StressCount(int count)
{
    const char *text = std::getenv("TRACELOG_STRESS_SCALE");
    double scale = text ? std::atof(text) : 1.0;
    if (!(scale > 0))
        scale = 1.0;
    double scaled = count * scale;
    if (scaled < 1)
        return 1;
    if (scaled > 1e8)
        return 100000000;
    return (int)scaled;
}

std::string SelfPath()
{
    char path[MAX_PATH + 1] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

HANDLE StartChildProcess(const std::string &arguments, DWORD *processId)
{
    std::string self = SelfPath();
    std::string commandLine = "\"" + self + "\" " + arguments;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof(info));
    if (!CreateProcessA(self.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    if (processId)
        *processId = info.dwProcessId;
    return info.hProcess;
}

bool WaitChildProcesses(const std::vector<HANDLE> &processes, DWORD timeoutMs,
                        std::string *failure)
{
    bool ok = true;
    DWORD deadline = GetTickCount() + timeoutMs;
    for (size_t i = 0; i < processes.size(); i++) {
        DWORD now = GetTickCount();
        DWORD left = (LONG)(deadline - now) > 0 ? deadline - now : 0;
        DWORD exitCode = 1;
        if (WaitForSingleObject(processes[i], left) != WAIT_OBJECT_0) {
            TerminateProcess(processes[i], 99);
            WaitForSingleObject(processes[i], 5000);
            *failure += "child " + std::to_string(i) + " timed out; ";
            ok = false;
        } else if (!GetExitCodeProcess(processes[i], &exitCode) || exitCode != 0) {
            *failure += "child " + std::to_string(i) + " exit code " + std::to_string(exitCode) +
                        "; ";
            ok = false;
        }
        CloseHandle(processes[i]);
    }
    return ok;
}

void InitThreadErrorCodes()
{
    if (g_errorCodeSlot == TLS_OUT_OF_INDEXES)
        g_errorCodeSlot = TlsAlloc();
}

void SetThreadErrorCode(int code)
{
    TlsSetValue(g_errorCodeSlot, (LPVOID)(INT_PTR)code);
}

int GetThreadErrorCode()
{
    return (int)(INT_PTR)TlsGetValue(g_errorCodeSlot);
}

int WINAPI ThreadErrorGetter()
{
    return GetThreadErrorCode();
}

void WINAPI ThreadErrorSetter(int code)
{
    SetThreadErrorCode(code);
}

int main(int argc, char **argv)
{
    InitThreadErrorCodes();
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0)
        return RunLoadChild(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
