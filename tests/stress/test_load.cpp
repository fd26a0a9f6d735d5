// Load: 8 processes of 4 threads each append call lines, warnings, errors
// and small dumps to one file at the same time, in thread mode and in
// process mode. Every line must come out whole, each thread's lines
// complete and in its own order, with its own error codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log_grammar.h"
#include "log_reader.h"
#include "stress_support.h"
#include "trace_dll.h"

namespace {

const int LOAD_PROCESSES = 8;
const int LOAD_THREADS = 4;
// Call lines per thread; TRACELOG_STRESS_SCALE=4 gives 2,000.
const int LOAD_LINES = 500;
// The socket argument carries the writer and the line number.
const long TAG_FACTOR = 100000;
const int SEND_RESULT = 12;

int ErrCode(int writer)
{
    return 9000 + writer;
}

int WarnCode(int writer)
{
    return 12000 + writer;
}

// The 12 bytes that writer sends as line i; they are dumped.
std::string SendPayload(int writer, int line)
{
    char text[32];
    std::snprintf(text, sizeof(text), "G%02d:I%06d;", writer, line);
    return std::string(text, SEND_RESULT);
}

struct LoadWriter {
    int writer;      // global index: process * LOAD_THREADS + thread
    int lines;
    bool processMode;
    const char *path;
    HANDLE go;
    int failures;
};

DWORD WINAPI RunLoadWriter(void *context)
{
    LoadWriter *w = (LoadWriter *)context;
    TraceDll &dll = Dll();
    WaitForSingleObject(w->go, 120000);
    if (!w->processMode && dll.Start(w->path, 0) != 1)
        w->failures++;
    unsigned char address[16] = {2, 0, 0, 80, 10, 0, (unsigned char)w->writer, 1};
    char buffer[64] = {0};
    for (int i = 0; i < w->lines; i++) {
        INT_PTR s = (INT_PTR)(w->writer * TAG_FACTOR + i);
        int code = w->writer;
        switch (i % 4) {
        case 0:
            std::memcpy(buffer, SendPayload(w->writer, i).data(), SEND_RESULT);
            SetThreadErrorCode(code);
            dll.Send(SEND_RESULT, s, buffer, sizeof(buffer), 0);
            break;
        case 1:
            code = ErrCode(w->writer);
            SetThreadErrorCode(code);
            dll.Connect(-1, s, address, sizeof(address));
            break;
        case 2:
            code = WarnCode(w->writer);
            SetThreadErrorCode(code);
            dll.Recv(-1, s, buffer, sizeof(buffer), 0);
            break;
        default:
            SetThreadErrorCode(code);
            dll.Listen(0, s, 5);
            break;
        }
        // The tracer hands the caller's code back unchanged.
        if (GetThreadErrorCode() != code)
            w->failures++;
    }
    if (!w->processMode && dll.Stop() != 1)
        w->failures++;
    return 0;
}

struct LoadLog {
    size_t textLines = 0;
    size_t dumpLines = 0;
    size_t starts = 0;
    size_t stops = 0;
    std::vector<std::string> problems;

    void Problem(const std::string &text)
    {
        if (problems.size() < 20)
            problems.push_back(text);
    }
};

// What the log of a load run must hold, line by line.
LoadLog VerifyLoadLog(const LogCheck &check, bool processMode, const std::vector<DWORD> &pids,
                      int lines)
{
    const int writers = LOAD_PROCESSES * LOAD_THREADS;
    LoadLog log;
    std::vector<int> nextCall(writers, 0);
    std::vector<int> nextDump(writers, 0);
    std::vector<unsigned long> keyOf(writers, 0);
    std::vector<bool> keySeen(writers, false);
    std::map<unsigned long, int> starts;
    std::map<unsigned long, int> stops;
    const char *mode = processMode ? "process" : "thread";

    for (const LogTextLine &line : check.textLines) {
        const std::string &m = line.message;
        std::string where = "line " + std::to_string(line.number) + ": ";
        char word[16] = {0};
        unsigned long id = 0;
        if (std::sscanf(m.c_str(), "%15s %*s 0x%lX", word, &id) == 2 &&
            (std::strcmp(word, "started") == 0 || std::strcmp(word, "stopped") == 0)) {
            std::string prefix = std::string(word) + " " + mode + " 0x";
            if (m.compare(0, prefix.size(), prefix) != 0 || id != line.key ||
                line.level != LOG_INF)
                log.Problem(where + "bad state line: " + m);
            (word[2] == 'a' ? starts : stops)[line.key]++;
            continue;
        }
        long s = -1;
        unsigned long pointer = 0;
        int octet = -1;
        char expected[160] = {0};
        LogLevel level = LOG_INF;
        int phase;
        if (std::sscanf(m.c_str(), "send(%ld, 0x%lx,", &s, &pointer) == 2) {
            std::snprintf(expected, sizeof(expected), "send(%ld, 0x%lx, 64, 0) returned %d", s,
                          pointer, SEND_RESULT);
            phase = 0;
        } else if (std::sscanf(m.c_str(), "connect(%ld, 0x%lx [10.0.%d.1]", &s, &pointer,
                               &octet) == 3) {
            std::snprintf(expected, sizeof(expected),
                          "connect(%ld, 0x%lx [10.0.%d.1]:80, 16) returned -1", s, pointer, octet);
            level = LOG_ERR;
            phase = 1;
        } else if (std::sscanf(m.c_str(), "recv(%ld, 0x%lx,", &s, &pointer) == 2) {
            std::snprintf(expected, sizeof(expected), "recv(%ld, 0x%lx, 64, 0) returned -1", s,
                          pointer);
            level = LOG_WRN;
            phase = 2;
        } else if (std::sscanf(m.c_str(), "listen(%ld,", &s) == 1) {
            std::snprintf(expected, sizeof(expected), "listen(%ld, 5) returned 0", s);
            phase = 3;
        } else {
            log.Problem(where + "unknown line: " + m);
            continue;
        }
        int writer = (int)(s / TAG_FACTOR);
        int index = (int)(s % TAG_FACTOR);
        if (s < 0 || writer >= writers || m != expected || line.level != level ||
            index % 4 != phase || (phase == 1 && octet != writer)) {
            log.Problem(where + "malformed call line: " + m);
            continue;
        }
        long code = level == LOG_ERR ? ErrCode(writer) : level == LOG_WRN ? WarnCode(writer) : 0;
        if (line.code != code)
            log.Problem(where + "code " + std::to_string(line.code) + " instead of " +
                        std::to_string(code));
        if (index != nextCall[writer])
            log.Problem(where + "writer " + std::to_string(writer) + " line " +
                        std::to_string(index) + " where " + std::to_string(nextCall[writer]) +
                        " was due");
        nextCall[writer] = index + 1;
        if (!keySeen[writer]) {
            keySeen[writer] = true;
            keyOf[writer] = line.key;
        } else if (keyOf[writer] != line.key) {
            log.Problem(where + "writer " + std::to_string(writer) + " changed its key");
        }
        log.textLines++;
    }

    for (const LogDumpLine &dump : check.dumpLines) {
        int writer = -1;
        int index = -1;
        std::string where = "line " + std::to_string(dump.number) + ": ";
        if (dump.offset != 0 ||
            std::sscanf(dump.bytes.c_str(), "G%2d:I%6d;", &writer, &index) != 2 || writer < 0 ||
            writer >= writers || dump.bytes != SendPayload(writer, index)) {
            log.Problem(where + "unexpected dump: " + dump.bytes);
            continue;
        }
        if (index != nextDump[writer])
            log.Problem(where + "dump of writer " + std::to_string(writer) + " line " +
                        std::to_string(index) + " where " + std::to_string(nextDump[writer]) +
                        " was due");
        nextDump[writer] = index + 4;
        log.dumpLines++;
    }

    int dumpsPerWriter = (lines + 3) / 4;
    for (int w = 0; w < writers; w++) {
        if (nextCall[w] != lines)
            log.Problem("writer " + std::to_string(w) + " ended at line " +
                        std::to_string(nextCall[w]));
        if (nextDump[w] != dumpsPerWriter * 4)
            log.Problem("writer " + std::to_string(w) + " dumps ended at line " +
                        std::to_string(nextDump[w]));
        if (processMode && keyOf[w] != pids[w / LOAD_THREADS])
            log.Problem("writer " + std::to_string(w) + " not keyed by its process");
        for (int other = 0; !processMode && other < w; other++) {
            if (keyOf[other] == keyOf[w])
                log.Problem("writers " + std::to_string(other) + " and " + std::to_string(w) +
                            " share a key");
        }
    }
    size_t records = processMode ? LOAD_PROCESSES : writers;
    for (auto *counts : {&starts, &stops}) {
        if (counts->size() != records)
            log.Problem("state lines for " + std::to_string(counts->size()) + " keys instead of " +
                        std::to_string(records));
        for (const auto &entry : *counts) {
            if (entry.second != 1)
                log.Problem("key " + std::to_string(entry.first) + " has " +
                            std::to_string(entry.second) + " start or stop lines");
        }
    }
    log.starts = starts.size();
    log.stops = stops.size();
    return log;
}

void RunLoad(bool processMode)
{
    const char *mode = processMode ? "process" : "thread";
    int lines = StressCount(LOAD_LINES);
    std::string dir = MakeScratchDirectory(std::string("load_") + mode);
    std::string path = dir + "\\load.log";
    std::string suffix = std::to_string(GetCurrentProcessId()) + "_" + mode;
    std::string readyName = "tracelog_stress_ready_" + suffix;
    std::string goName = "tracelog_stress_go_" + suffix;
    HANDLE ready = CreateSemaphoreA(nullptr, 0, LOAD_PROCESSES, readyName.c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
    ASSERT_TRUE(ready && go);

    std::vector<HANDLE> children;
    std::vector<DWORD> pids;
    for (int p = 0; p < LOAD_PROCESSES; p++) {
        char arguments[768];
        std::snprintf(arguments, sizeof(arguments), "--child %s \"%s\" %d %d %d %s %s", mode,
                      path.c_str(), p, LOAD_THREADS, lines, readyName.c_str(), goName.c_str());
        DWORD pid = 0;
        HANDLE child = StartChildProcess(arguments, &pid);
        EXPECT_NE(child, nullptr) << "child " << p;
        if (child) {
            children.push_back(child);
            pids.push_back(pid);
        }
    }
    // All writers wait at the start line, so that they really overlap.
    for (size_t p = 0; p < children.size(); p++)
        EXPECT_EQ(WaitForSingleObject(ready, 120000), WAIT_OBJECT_0);
    SetEvent(go);
    std::string failure;
    bool finished = WaitChildProcesses(children, 600000, &failure);
    CloseHandle(ready);
    CloseHandle(go);
    ASSERT_TRUE(finished) << failure;
    ASSERT_EQ(pids.size(), (size_t)LOAD_PROCESSES);

    LogCheck check = CheckLog(path, HostProgramName());
    EXPECT_TRUE(check.Clean()) << DescribeBadLines(check);
    LoadLog log = VerifyLoadLog(check, processMode, pids, lines);
    std::string problems;
    for (const std::string &p : log.problems)
        problems += p + "\n";
    EXPECT_TRUE(log.problems.empty()) << problems;
    size_t writers = LOAD_PROCESSES * LOAD_THREADS;
    EXPECT_EQ(log.textLines, writers * lines);
    EXPECT_EQ(log.dumpLines, writers * ((lines + 3) / 4));
    EXPECT_EQ(check.lineCount, log.textLines + log.dumpLines + log.starts + log.stops);
    std::printf("[load %s] %d processes x %d threads x %d call lines: %zu lines checked "
                "(%zu call, %zu dump, %zu start/stop), %zu bad, %zu lost\n",
                mode, LOAD_PROCESSES, LOAD_THREADS, lines, check.lineCount, log.textLines,
                log.dumpLines, log.starts + log.stops, check.badLines.size(),
                writers * lines + writers * ((lines + 3) / 4) - log.textLines - log.dumpLines);
}

}  // namespace

// --child MODE PATH PROCESS THREADS LINES READY GO
int RunLoadChild(int argc, char **argv)
{
    if (argc != 9)
        return 2;
    bool processMode = std::strcmp(argv[2], "process") == 0;
    const char *path = argv[3];
    int process = std::atoi(argv[4]);
    int threads = std::atoi(argv[5]);
    int lines = std::atoi(argv[6]);
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, argv[7]);
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, argv[8]);
    TraceDll &dll = Dll();
    if (!dll.module || !ready || !go || threads < 1 || threads > 64)
        return 3;
    TRACE_ERROR_HANDLERS handlers = {ThreadErrorGetter, ThreadErrorSetter};
    if (dll.SetErrorHandlers(&handlers) != 1)
        return 4;
    if (processMode && dll.Start(path, TRACE_PROCESS) != 1)
        return 5;

    std::vector<LoadWriter> writers(threads);
    std::vector<HANDLE> handles;
    for (int t = 0; t < threads; t++) {
        writers[t] = {process * threads + t, lines, processMode, path, go, 0};
        HANDLE thread = CreateThread(nullptr, 0, RunLoadWriter, &writers[t], 0, nullptr);
        if (!thread)
            return 6;
        handles.push_back(thread);
    }
    ReleaseSemaphore(ready, 1, nullptr);
    int failures = 0;
    for (size_t t = 0; t < handles.size(); t++) {
        if (WaitForSingleObject(handles[t], 600000) != WAIT_OBJECT_0)
            return 7;
        CloseHandle(handles[t]);
        failures += writers[t].failures;
    }
    if (processMode && dll.Stop() != 1)
        failures++;
    if (dll.ActiveCount() != 0)
        failures++;
    return failures == 0 ? 0 : 10 + (failures > 100 ? 100 : failures);
}

TEST(Load, ThreadModeEightProcessesShareOneFile)
{
    RunLoad(false);
}

TEST(Load, ProcessModeEightProcessesShareOneFile)
{
    RunLoad(true);
}
