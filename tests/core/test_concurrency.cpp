// Many writers at once: threads sharing a process trace while it is stopped
// and restarted under them, threads appending to one process trace, and
// several processes appending to one file. Every line must come out whole.
//
// The program runs its own main: started with --append-child it is one of
// the extra processes of the multi-process test.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "core_support.h"

namespace {

const char CHILD_SWITCH[] = "--append-child";

// Message seq of writer tag ("T3", "P1"...): most are short, some carry a
// line feed, some are long.
std::string Message(const std::string &tag, int seq)
{
    std::string head = tag + " S" + std::to_string(seq) + " ";
    if (seq % 10 == 3)
        return head + "first\n+" + tag + " S" + std::to_string(seq) + " second";
    if (seq % 10 == 7)
        return head + std::string(900, (char)('a' + seq % 26));
    return head + "short";
}

// What an appending run left in the file.
struct AppendedLog {
    int started = 0;
    int stopped = 0;
    std::map<std::string, int> counts;  // lines per writer tag
    std::vector<std::string> faults;    // the first few problems found
};

void Fault(AppendedLog *log, const std::string &what)
{
    if (log->faults.size() < 5)
        log->faults.push_back(what);
}

// Reads a log of Message() lines: every line must be a whole text line of
// this program, each writer's messages in order 0, 1, 2... and each whole.
AppendedLog ReadAppendedLog(const std::string &path)
{
    AppendedLog log;
    std::string name = HostProgramName();
    std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0)
        Fault(&log, "the file does not end with a whole line");
    std::vector<std::string> lines = ReadLogLines(path);
    for (size_t i = 0; i < lines.size(); i++) {
        TextLine text;
        if (!ParseTextLine(lines[i], &text) || text.name != name || text.level != "INF") {
            Fault(&log, "line " + std::to_string(i) + ": " + lines[i].substr(0, 120));
            continue;
        }
        if (text.message.compare(0, 8, "started ") == 0) {
            log.started++;
            continue;
        }
        if (text.message.compare(0, 8, "stopped ") == 0) {
            log.stopped++;
            continue;
        }
        std::string tag = text.message.substr(0, text.message.find(' '));
        int &count = log.counts[tag];
        std::string expected = Message(tag, count);
        std::string found = text.message;
        // The continuation of a message with a line feed follows at once.
        for (size_t feed = expected.find('\n'); feed != std::string::npos && i + 1 < lines.size();
             feed = expected.find('\n', feed + 1))
            found += "\n" + lines[++i];
        if (found != expected)
            Fault(&log, "line " + std::to_string(i) + ": " + found.substr(0, 120) + " expected " +
                            expected.substr(0, 40));
        count++;
    }
    return log;
}

struct Job {
    const std::function<void(int)> *body;
    int index;
};

DWORD WINAPI RunJob(void *argument)
{
    Job *job = static_cast<Job *>(argument);
    (*job->body)(job->index);
    return 0;
}

// Runs body(0) .. body(count - 1) on as many threads at once.
void RunThreads(int count, const std::function<void(int)> &body)
{
    std::vector<Job> jobs(count);
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; i++) {
        jobs[i] = {&body, i};
        HANDLE thread = CreateThread(nullptr, 0, RunJob, &jobs[i], 0, nullptr);
        ASSERT_NE(thread, nullptr);
        threads.push_back(thread);
    }
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

using Concurrency = TraceFixture;

const int RESTARTS = 150;

struct Restarter {
    std::string path;
    volatile LONG done;
    int failures;
};

// Keeps stopping and restarting the process trace, then says it is done.
DWORD WINAPI RestartProcessTrace(void *argument)
{
    Restarter *restarter = static_cast<Restarter *>(argument);
    for (int i = 0; i < RESTARTS; i++) {
        if (Dll().Start(restarter->path.c_str(), TRACE_PROCESS) != 1)
            restarter->failures++;
        Sleep(1);
        if (Dll().Stop() != 1)
            restarter->failures++;
    }
    InterlockedExchange(&restarter->done, 1);
    return 0;
}

TEST_F(Concurrency, WritersSurviveAProcessTraceStoppedAndRestartedUnderThem)
{
    const int WRITERS = 8;
    std::string dump;
    for (int i = 0; i < 40; i++)
        dump += (char)(0x30 + i);
    std::vector<int> written(WRITERS, 0);
    std::vector<int> dumped(WRITERS, 0);
    Restarter restarter = {path, 0, 0};
    HANDLE controller = CreateThread(nullptr, 0, RestartProcessTrace, &restarter, 0, nullptr);
    ASSERT_NE(controller, nullptr);

    RunThreads(WRITERS, [&](int writer) {
        std::string tag = "W" + std::to_string(writer);
        for (int seq = 0; !restarter.done; seq++) {
            // While no trace is live, or the library is in thread mode,
            // the writes are refused: only the written ones count.
            written[writer] += Dll().Write(0, Message(tag, written[writer]).c_str(), 0);
            if (seq % 8 == 0)
                dumped[writer] += Dll().Write(TRACE_HEXDUMP, dump.data(), (DWORD)dump.size());
            Dll().GetFlags();
        }
    });
    WaitForSingleObject(controller, INFINITE);
    CloseHandle(controller);
    EXPECT_EQ(restarter.failures, 0);
    EXPECT_EQ(Dll().ActiveCount(), 0);

    // Dump lines come in whole blocks of three; the rest are text lines.
    std::string indent(HostProgramName().size() + 1, ' ');
    std::string bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    std::vector<std::string> lines = ReadLogLines(path);
    std::string textOnly;
    int dumpBlocks = 0;
    std::vector<std::string> badLines;
    for (size_t i = 0; i < lines.size(); i++) {
        unsigned long offset = 0;
        std::string firstBytes;
        if (!ParseDumpLine(lines[i], indent.size(), &offset, &firstBytes)) {
            textOnly += lines[i] + "\r\n";
            continue;
        }
        bool whole = offset == 0 && firstBytes == dump.substr(0, 16) && i + 2 < lines.size();
        unsigned long second = 0, third = 0;
        std::string secondBytes, thirdBytes;
        whole = whole && ParseDumpLine(lines[i + 1], indent.size(), &second, &secondBytes) &&
                ParseDumpLine(lines[i + 2], indent.size(), &third, &thirdBytes) && second == 0x10 &&
                third == 0x20 && secondBytes + thirdBytes == dump.substr(16);
        if (!whole && badLines.size() < 5)
            badLines.push_back(lines[i]);
        dumpBlocks++;
        i += 2;
    }
    EXPECT_TRUE(badLines.empty()) << badLines[0];
    int dumpsWritten = 0;
    for (int count : dumped)
        dumpsWritten += count;
    EXPECT_EQ(dumpBlocks, dumpsWritten);

    std::string textPath = dir + "\\text.log";
    FILE *file = std::fopen(textPath.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(textOnly.data(), 1, textOnly.size(), file);
    std::fclose(file);
    AppendedLog log = ReadAppendedLog(textPath);
    EXPECT_TRUE(log.faults.empty()) << log.faults[0];
    EXPECT_EQ(log.started, RESTARTS);
    EXPECT_EQ(log.stopped, RESTARTS);
    int total = 0;
    for (int writer = 0; writer < WRITERS; writer++) {
        std::string tag = "W" + std::to_string(writer);
        EXPECT_EQ(log.counts[tag], written[writer]) << tag;
        total += written[writer];
    }
    EXPECT_GT(total, 0) << "no writer ever met a live trace";
    std::printf("%d restarts, %d text lines and %d dumps written by %d threads\n", RESTARTS, total,
                dumpsWritten, WRITERS);
}

TEST_F(Concurrency, ThreadsAppendWholeLinesToOneProcessTrace)
{
    const int THREADS = 8;
    const int LINES = 500;
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_PROCESS), 1);
    std::vector<int> failures(THREADS, 0);
    RunThreads(THREADS, [&](int thread) {
        std::string tag = "T" + std::to_string(thread);
        for (int seq = 0; seq < LINES; seq++)
            failures[thread] += Dll().Write(0, Message(tag, seq).c_str(), 0) == 1 ? 0 : 1;
    });
    EXPECT_EQ(Dll().Stop(), 1);
    for (int thread = 0; thread < THREADS; thread++)
        EXPECT_EQ(failures[thread], 0) << "thread " << thread;

    AppendedLog log = ReadAppendedLog(path);
    EXPECT_TRUE(log.faults.empty()) << log.faults[0];
    EXPECT_EQ(log.started, 1);
    EXPECT_EQ(log.stopped, 1);
    EXPECT_EQ(log.counts.size(), (size_t)THREADS);
    for (int thread = 0; thread < THREADS; thread++)
        EXPECT_EQ(log.counts["T" + std::to_string(thread)], LINES) << "thread " << thread;
}

const int PROCESS_LINES = 2000;

// Appends the lines of writer "P<index>" under a thread trace of its own;
// the number of failed writes.
int AppendAsProcess(const std::string &path, int index)
{
    if (Dll().Start(path.c_str(), 0) != 1)
        return 1;
    int failures = 0;
    std::string tag = "P" + std::to_string(index);
    for (int seq = 0; seq < PROCESS_LINES; seq++)
        failures += Dll().Write(0, Message(tag, seq).c_str(), 0) == 1 ? 0 : 1;
    return failures + (Dll().Stop() == 1 ? 0 : 1);
}

// The child's side: wait for the parent's signal, then append.
int AppendChild(int argc, char **argv)
{
    if (argc != 5 || !Dll().module)
        return 100;
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, argv[4]);
    if (!go || WaitForSingleObject(go, 30000) != WAIT_OBJECT_0)
        return 101;
    CloseHandle(go);
    int failures = AppendAsProcess(argv[2], std::atoi(argv[3]));
    return failures > 99 ? 99 : failures;
}

TEST_F(Concurrency, ProcessesAppendWholeLinesToOneFile)
{
    const int CHILDREN = 3;
    char program[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string eventName = "CoreConcurrencyGo" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(go, nullptr);

    std::vector<PROCESS_INFORMATION> children;
    for (int child = 1; child <= CHILDREN; child++) {
        std::string command = std::string("\"") + program + "\" " + CHILD_SWITCH + " \"" + path +
                              "\" " + std::to_string(child) + " " + eventName;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        ASSERT_TRUE(CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process));
        CloseHandle(process.hThread);
        children.push_back(process);
    }
    SetEvent(go);
    EXPECT_EQ(AppendAsProcess(path, 0), 0);
    for (size_t i = 0; i < children.size(); i++) {
        EXPECT_EQ(WaitForSingleObject(children[i].hProcess, 60000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(children[i].hProcess, &code);
        EXPECT_EQ(code, 0u) << "child " << i + 1;
        CloseHandle(children[i].hProcess);
    }
    CloseHandle(go);

    AppendedLog log = ReadAppendedLog(path);
    EXPECT_TRUE(log.faults.empty()) << log.faults[0];
    EXPECT_EQ(log.started, CHILDREN + 1);
    EXPECT_EQ(log.stopped, CHILDREN + 1);
    EXPECT_EQ(log.counts.size(), (size_t)CHILDREN + 1);
    for (int process = 0; process <= CHILDREN; process++)
        EXPECT_EQ(log.counts["P" + std::to_string(process)], PROCESS_LINES) << "process " << process;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], CHILD_SWITCH) == 0)
        return AppendChild(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
