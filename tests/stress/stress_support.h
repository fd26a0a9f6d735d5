// Shared pieces of the stress programs: run sizes, child processes and the
// socket error handlers that the load writers install.
#ifndef TRACELOG_TEST_STRESS_SUPPORT_H
#define TRACELOG_TEST_STRESS_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

// count scaled by TRACELOG_STRESS_SCALE (a positive number, 1 when unset),
// at least 1. The defaults keep a run short; a larger scale asks for more.
int StressCount(int count);

// The running program's full path.
std::string SelfPath();

// Starts this program again with the given arguments; null on failure.
HANDLE StartChildProcess(const std::string &arguments, DWORD *processId);

// Waits for every process, at most timeoutMs in all; kills the ones still
// running at the end. Returns true when each ended with exit code 0.
bool WaitChildProcesses(const std::vector<HANDLE> &processes, DWORD timeoutMs,
                        std::string *failure);

// Socket error handlers that keep each thread's code in a TLS slot, as the
// socket layer's own getter and setter do.
void InitThreadErrorCodes();
void SetThreadErrorCode(int code);
int GetThreadErrorCode();
int WINAPI ThreadErrorGetter();
void WINAPI ThreadErrorSetter(int code);

#endif
