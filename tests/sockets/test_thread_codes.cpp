// 32 threads trace at the same moment, each with error codes of its own:
// every line must carry its own thread's level and code, and every thread
// must get back its own code, with one trace for the process and with one
// trace per thread.
#include <atomic>
#include <cstdlib>
#include <thread>

#include "socket_test_support.h"

namespace
{

const int kThreads = 32;
const int kRounds = 30;        // each round: one failure, one success, one warning
const int kFirstSocket = 1000; // a thread's socket number is kFirstSocket + its index

int ErrorCode(int index)
{
    return 10000 + index;
} // 10000..10031: errors
int WarningCode(int index)
{
    return 12000 + index;
} // above 11000: warnings

struct ThreadOutcome {
    DWORD threadId = 0;
    bool traced = false;    // thread mode: its own trace started
    int wrongCodesBack = 0; // calls after which the thread's code had changed
};

void TraceFromThread(int index, bool ownTrace, const std::string &path, std::atomic<int> &ready,
                     ThreadOutcome &outcome)
{
    outcome.threadId = GetCurrentThreadId();
    outcome.traced = !ownTrace || Dll().Start(path.c_str(), 0) == 1;
    FakeSocketLayer &layer = ThisThreadLayer();
    ready++;
    while (ready.load() < kThreads)
        Sleep(0);
    if (!outcome.traced)
        return;
    INT_PTR s = kFirstSocket + index;
    for (int round = 0; round < kRounds; round++) {
        for (int step = 0; step < 3; step++) {
            int code = step == 2 ? WarningCode(index) : ErrorCode(index);
            layer.code = code;
            layer.events.clear();
            if (step == 0)
                Dll().CloseSocket(-1, s);
            else if (step == 1)
                Dll().CloseSocket(0, s);
            else
                Dll().Listen(-1, s, 5);
            if (layer.code != code || layer.events.size() != 2 || layer.events[1].value != code)
                outcome.wrongCodesBack++;
        }
    }
    if (ownTrace)
        Dll().Stop();
}

// Checks every call line against the thread that the socket number names:
// its level, its code, and (in thread mode) its key. Returns the number of
// lines seen per thread.
std::vector<int> CheckLines(const std::string &path, const std::vector<ThreadOutcome> &outcomes,
                            bool processMode)
{
    std::vector<int> seen(kThreads, 0);
    int faults = 0;
    for (const std::string &line : ReadLogLines(path)) {
        std::string rest = LineFromLevel(line);
        if (rest.find("started ") == 5 || rest.find("stopped ") == 5)
            continue;
        std::string call = rest.size() > 5 ? rest.substr(5) : "";
        int s = -1;
        int result = 0;
        bool listen = std::sscanf(call.c_str(), "listen(%d, 5) returned %d", &s, &result) == 2;
        if (!listen && std::sscanf(call.c_str(), "closesocket(%d) returned %d", &s, &result) != 2)
            s = -1;
        int index = s - kFirstSocket;
        std::string expected = "?";
        DWORD key = std::strtoul(line.c_str() + line.find(' ') + 1, nullptr, 16);
        if (index >= 0 && index < kThreads) {
            std::string sock = std::to_string(s);
            if (listen)
                expected = "WRN: listen(" + sock + ", 5) returned -1 [" +
                           std::to_string(WarningCode(index)) + "]";
            else if (result == -1)
                expected = "ERR: closesocket(" + sock + ") returned -1 [" +
                           std::to_string(ErrorCode(index)) + "]";
            else
                expected = "INF: closesocket(" + sock + ") returned 0";
            DWORD expectedKey = processMode ? GetCurrentProcessId() : outcomes[index].threadId;
            if (key != expectedKey)
                expected = "key " + Hex(expectedKey);
        }
        if (rest != expected) {
            if (++faults <= 10)
                ADD_FAILURE() << "line: " << line << "\nexpected: " << expected;
            continue;
        }
        seen[index]++;
    }
    EXPECT_EQ(faults, 0);
    return seen;
}

class ThreadCodes : public SocketTraceTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ThreadCodes, EveryLineAndEveryThreadKeepsItsOwnCode)
{
    bool processMode = GetParam();
    if (processMode)
        StartTrace(TRACE_PROCESS);
    std::atomic<int> ready(0);
    std::vector<ThreadOutcome> outcomes(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; i++) {
        threads.emplace_back(TraceFromThread, i, !processMode, std::cref(path), std::ref(ready),
                             std::ref(outcomes[i]));
    }
    for (std::thread &thread : threads)
        thread.join();
    if (processMode)
        StopTrace();

    std::vector<int> seen = CheckLines(path, outcomes, processMode);
    for (int i = 0; i < kThreads; i++) {
        EXPECT_TRUE(outcomes[i].traced) << "thread " << i;
        EXPECT_EQ(outcomes[i].wrongCodesBack, 0) << "thread " << i;
        EXPECT_EQ(seen[i], 3 * kRounds) << "lines of thread " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ThreadCodes, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "ProcessMode" : "ThreadMode");
                         });

} // namespace
