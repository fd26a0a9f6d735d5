// Start/write/stop churn: 16 threads open, use and close traces over and
// over while other threads keep writing to the same file. Nothing may
// crash, every write that reported success must be in the file whole, and
// no trace may be left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "log_grammar.h"
#include "log_reader.h"
#include "stress_support.h"
#include "trace_dll.h"

namespace {

const int CYCLERS = 16;
const int WRITERS = 4;
// Cycles per thread; TRACELOG_STRESS_SCALE=4 gives 10,000.
const int CYCLES = 2500;

struct ChurnShared {
    std::string path;
    bool processMode;
    int cycles;
    volatile LONG cyclersLeft;
};

struct Cycler {
    ChurnShared *shared;
    int index;
    long written;
    long refusedWrites;
    long failures;  // TraceStart or TraceStop that returned 0
};

struct Writer {
    ChurnShared *shared;
    int index;
    long attempts;
    long written;
    long dumps;
    long failures;
};

DWORD WINAPI RunCycler(void *context)
{
    Cycler *c = (Cycler *)context;
    TraceDll &dll = Dll();
    DWORD flags = c->shared->processMode ? TRACE_PROCESS : 0;
    char text[64];
    for (int i = 0; i < c->shared->cycles; i++) {
        if (dll.Start(c->shared->path.c_str(), flags) != 1)
            c->failures++;
        std::snprintf(text, sizeof(text), "cycle %d %d", c->index, i);
        if (dll.Write(0, text, 0) == 1)
            c->written++;
        else
            c->refusedWrites++;
        if (dll.Stop() != 1)
            c->failures++;
    }
    InterlockedDecrement(&c->shared->cyclersLeft);
    return 0;
}

// In thread mode a writer keeps its own trace open throughout; in process
// mode it has none and writes through whatever process trace is live.
DWORD WINAPI RunWriter(void *context)
{
    Writer *w = (Writer *)context;
    TraceDll &dll = Dll();
    bool own = !w->shared->processMode;
    if (own && dll.Start(w->shared->path.c_str(), 0) != 1)
        w->failures++;
    char text[64];
    unsigned char bytes[5] = {'w', 'r', 'i', 't', 'e'};
    while (w->shared->cyclersLeft > 0) {
        std::snprintf(text, sizeof(text), "writer %d %ld", w->index, w->attempts++);
        if (dll.Write(0, text, 0) == 1)
            w->written++;
        // A dump in between, so that the records of every kind mix.
        if (dll.Write(TRACE_HEXDUMP, bytes, sizeof(bytes)) == 1)
            w->dumps++;
    }
    if (own && dll.Stop() != 1)
        w->failures++;
    return 0;
}

void RunChurn(bool processMode)
{
    TraceDll &dll = Dll();
    ASSERT_NE(dll.module, nullptr);
    ASSERT_EQ(dll.ActiveCount(), 0);
    const char *mode = processMode ? "process" : "thread";
    ChurnShared shared;
    shared.path = MakeScratchDirectory(std::string("churn_") + mode) + "\\churn.log";
    shared.processMode = processMode;
    shared.cycles = StressCount(CYCLES);
    shared.cyclersLeft = CYCLERS;

    std::vector<Cycler> cyclers(CYCLERS);
    std::vector<Writer> writers(WRITERS);
    std::vector<HANDLE> threads;
    for (int i = 0; i < WRITERS; i++) {
        writers[i] = {&shared, i, 0, 0, 0, 0};
        threads.push_back(CreateThread(nullptr, 0, RunWriter, &writers[i], 0, nullptr));
    }
    for (int i = 0; i < CYCLERS; i++) {
        cyclers[i] = {&shared, i, 0, 0, 0};
        threads.push_back(CreateThread(nullptr, 0, RunCycler, &cyclers[i], 0, nullptr));
    }
    for (HANDLE thread : threads) {
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(WaitForSingleObject(thread, 600000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    EXPECT_EQ(dll.ActiveCount(), 0);
    EXPECT_EQ(dll.GetFlags(), 0u);

    LogCheck check = CheckLog(shared.path, HostProgramName());
    EXPECT_TRUE(check.Clean()) << DescribeBadLines(check);
    std::vector<long> cycleLines(CYCLERS, 0);
    std::vector<long> writerLines(WRITERS, 0);
    size_t starts = 0;
    size_t stops = 0;
    size_t others = 0;
    for (const LogTextLine &line : check.textLines) {
        int who = -1;
        long index = -1;
        char word[16] = {0};
        if (std::sscanf(line.message.c_str(), "cycle %d %ld", &who, &index) == 2 && who >= 0 &&
            who < CYCLERS && line.message == "cycle " + std::to_string(who) + " " +
                                                 std::to_string(index)) {
            cycleLines[who]++;
        } else if (std::sscanf(line.message.c_str(), "writer %d %ld", &who, &index) == 2 &&
                   who >= 0 && who < WRITERS &&
                   line.message == "writer " + std::to_string(who) + " " + std::to_string(index)) {
            writerLines[who]++;
        } else if (std::sscanf(line.message.c_str(), "%15s", word) == 1 &&
                   std::strcmp(word, "started") == 0) {
            starts++;
        } else if (std::strcmp(word, "stopped") == 0) {
            stops++;
        } else {
            others++;
        }
    }
    EXPECT_EQ(others, 0u);
    EXPECT_EQ(starts, stops);
    if (!processMode) {
        EXPECT_EQ(starts, (size_t)(CYCLERS * shared.cycles + WRITERS));
    }
    long cycleTotal = 0;
    long refused = 0;
    long writerTotal = 0;
    long writerAttempts = 0;
    for (int i = 0; i < CYCLERS; i++) {
        EXPECT_EQ(cyclers[i].failures, 0) << "cycler " << i;
        EXPECT_EQ(cycleLines[i], cyclers[i].written) << "cycler " << i;
        cycleTotal += cycleLines[i];
        refused += cyclers[i].refusedWrites;
    }
    // A thread that has just started a trace can write into it, in either
    // mode, whatever the others do meanwhile.
    EXPECT_EQ(refused, 0) << "of " << CYCLERS * shared.cycles
                          << " writes right after the writer's own TraceStart";
    size_t dumps = 0;
    long writerDumps = 0;
    for (int i = 0; i < WRITERS; i++) {
        EXPECT_EQ(writers[i].failures, 0) << "writer " << i;
        EXPECT_EQ(writerLines[i], writers[i].written) << "writer " << i;
        if (!processMode) {
            EXPECT_EQ(writers[i].written, writers[i].attempts) << "writer " << i;
        }
        writerDumps += writers[i].dumps;
        writerTotal += writerLines[i];
        writerAttempts += writers[i].attempts;
    }
    for (const LogDumpLine &dump : check.dumpLines)
        dumps += dump.bytes == "write" ? 1 : 0;
    EXPECT_EQ(dumps, check.dumpLines.size());
    EXPECT_EQ((long)dumps, writerDumps);
    std::printf("[churn %s] %d threads x %d start/write/stop cycles, %d writers: %zu lines "
                "checked, %zu bad; %ld cycle lines, %ld cycle writes refused; %ld of %ld writer "
                "lines written; %zu start and %zu stop lines\n",
                mode, CYCLERS, shared.cycles, WRITERS, check.lineCount, check.badLines.size(),
                cycleTotal, refused, writerTotal, writerAttempts, starts, stops);
}

}  // namespace

TEST(Churn, ThreadModeStartWriteStopWhileOthersWrite)
{
    RunChurn(false);
}

TEST(Churn, ProcessModeStartWriteStopWhileOthersWrite)
{
    RunChurn(true);
}

namespace {

struct NestShared {
    std::string path;
    int writes;
    volatile LONG writersLeft;
};

struct NestWriter {
    NestShared *shared;
    long refused;
};

DWORD WINAPI RunNestWriter(void *context)
{
    NestWriter *w = (NestWriter *)context;
    for (int i = 0; i < w->shared->writes; i++) {
        if (Dll().Write(0, "shared trace line", 0) != 1)
            w->refused++;
    }
    InterlockedDecrement(&w->shared->writersLeft);
    return 0;
}

}  // namespace

// One thread holds a process trace; another nests into it and out again
// with the same file name, as a component that traces its own work does.
// The trace and its file stay the same throughout, so no other thread's
// write may be refused meanwhile.
TEST(Churn, ProcessModeNestedStartKeepsOtherThreadsWriting)
{
    TraceDll &dll = Dll();
    NestShared shared;
    shared.path = MakeScratchDirectory("nested_process") + "\\nested.log";
    shared.writes = StressCount(10000);
    shared.writersLeft = 2;
    ASSERT_EQ(dll.Start(shared.path.c_str(), TRACE_PROCESS), 1);
    NestWriter writers[2] = {{&shared, 0}, {&shared, 0}};
    HANDLE threads[2];
    for (int i = 0; i < 2; i++)
        threads[i] = CreateThread(nullptr, 0, RunNestWriter, &writers[i], 0, nullptr);
    long nested = 0;
    long failures = 0;
    while (shared.writersLeft > 0) {
        failures += dll.Start(shared.path.c_str(), TRACE_PROCESS) != 1;
        failures += dll.Stop() != 1;
        nested++;
    }
    WaitForMultipleObjects(2, threads, TRUE, 600000);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    EXPECT_EQ(dll.Stop(), 1);
    EXPECT_EQ(dll.ActiveCount(), 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(writers[0].refused + writers[1].refused, 0)
        << "of " << 2 * shared.writes << " writes, during " << nested << " nested starts";
    LogCheck check = CheckLog(shared.path, HostProgramName());
    EXPECT_TRUE(check.Clean()) << DescribeBadLines(check);
    EXPECT_EQ(check.textLines.size(),
              2 * (size_t)shared.writes + 2 - writers[0].refused - writers[1].refused);
}
