// trace_bench: what the trace DLL costs beside what the platform itself
// costs for the same work. Each figure is divided by its floor, measured in
// the same run in interleaved blocks, so the ratios hold on any machine even
// though the absolute figures don't.
//
//   trace_bench [--csv FILE] [--reps N] [--quick] [--verbose] [--breakdown]
//               [--only LIST] [--scratch DIR] [--dll FILE]
//
// FILE is taken relative to the program's own folder; scratch files go to a
// folder beside the program (or into DIR) and are removed at the end.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "kestrelnode9_tracelog.h"

namespace {

// ---------------------------------------------------------------------------
// The DLL, bound by ordinal as its real caller binds it.

typedef int(WINAPI *StartFn)(const char *fileName, DWORD flags);
typedef int(WINAPI *StopFn)(void);
typedef int(WINAPI *ActiveCountFn)(void);
typedef int(WINAPI *SetErrorHandlersFn)(const TRACE_ERROR_HANDLERS *handlers);
typedef void(WINAPI *ConnectFn)(int result, INT_PTR s, const void *name, int namelen);
typedef void(WINAPI *SendFn)(int result, INT_PTR s, const void *buf, int len, int flags);

StartFn g_start;
StopFn g_stop;
ActiveCountFn g_activeCount;
SetErrorHandlersFn g_setErrorHandlers;

// The timed calls go through pointers that are read anew for every call, on
// both sides of a ratio, so the compiler can neither inline nor hoist them.
ConnectFn volatile g_connect;
SendFn volatile g_send;

__attribute__((noinline)) void WINAPI EmptyTracer(int, INT_PTR, const void *, int, int)
{
}
SendFn volatile g_emptyTracer = EmptyTracer;

// The socket layer's error code as the bench pretends it: always "refused",
// so every failed call is an error line.
int WINAPI RefusedError()
{
    return 10061;
}

void WINAPI KeepError(int)
{
}

template <typename T>
bool BindOrdinal(HMODULE module, int ordinal, T &function)
{
    function = reinterpret_cast<T>(
        reinterpret_cast<void *>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
    return function != NULL;
}

// ---------------------------------------------------------------------------
// Time, files and folders.

double g_secondsPerTick;

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double SecondsSince(LONGLONG start)
{
    return (double)(Now() - start) * g_secondsPerTick;
}

std::string g_folder;   // the program's folder, with a trailing backslash
std::string g_scratch;  // scratch folder, with a trailing backslash

std::string ProgramFolder()
{
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    path[length < MAX_PATH ? length : MAX_PATH] = '\0';
    char *slash = strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    else
        path[0] = '\0';
    return path;
}

std::string Scratch(const char *name)
{
    return g_scratch + name;
}

ULONGLONG FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

std::string ReadTail(const std::string &path, DWORD length)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    LARGE_INTEGER offset;
    offset.QuadPart = -(LONGLONG)length;
    if (SetFilePointerEx(file, offset, NULL, FILE_END)) {
        text.resize(length);
        DWORD got = 0;
        if (!ReadFile(file, &text[0], length, &got, NULL))
            got = 0;
        text.resize(got);
    }
    CloseHandle(file);
    return text;
}

// ---------------------------------------------------------------------------
// Results.

struct Figure {
    const char *name;
    const char *timed;
    const char *floorText;
    const char *unit;     // of measured and floor
    bool atLeast;         // goal is a lower bound (rates) rather than an upper one
    double goal;
    bool valid;
    double measured;
    double floor;
    double ratio;
    double measuredMBs;   // the dump only
    double floorMBs;
    double repMin;        // spread of the ratio over the single repetitions
    double repMax;
    std::string note;
};

// Best of the repetitions: the least disturbed run is the truest one.
struct Best {
    double value = 0;
    bool any = false;
    void Low(double v)
    {
        if (!any || v < value)
            value = v;
        any = true;
    }
};

struct Spread {
    double low = 0, high = 0;
    bool any = false;
    std::vector<double> values;
    void Add(double v)
    {
        if (!any || v < low)
            low = v;
        if (!any || v > high)
            high = v;
        any = true;
        values.push_back(v);
    }
    double Median() const;
};

bool g_verbose;

void Verbose(const char *figure, int rep, double measured, double floor, const char *unit)
{
    if (g_verbose)
        printf("  %-16s rep %d: %12.1f / %12.1f %s = %.3f\n", figure, rep + 1, measured, floor,
               unit, floor > 0 ? measured / floor : 0.0);
}

void Finish(Figure &f, double measured, double floor, const Spread &spread)
{
    f.valid = floor > 0 && measured > 0;
    f.measured = measured;
    f.floor = floor;
    f.ratio = f.valid ? measured / floor : 0;
    f.repMin = spread.low;
    f.repMax = spread.high;
}

// For the figures that write files: the ratio is the median of the
// repetitions' own ratios, each taken between sides timed side by side.
// Under Wine the file system's speed changes in phases lasting seconds, so
// two independent bests may come from different phases; a pair rarely does.
void FinishPaired(Figure &f, double measured, double floor, const Spread &spread)
{
    Finish(f, measured, floor, spread);
    if (f.valid && !spread.values.empty())
        f.ratio = spread.Median();
}

Figure MakeFigure(const char *name, const char *timed, const char *floorText, const char *unit,
                  bool atLeast, double goal)
{
    Figure f = Figure();
    f.name = name;
    f.timed = timed;
    f.floorText = floorText;
    f.unit = unit;
    f.atLeast = atLeast;
    f.goal = goal;
    return f;
}

bool Met(const Figure &f)
{
    return f.valid && (f.atLeast ? f.ratio >= f.goal : f.ratio <= f.goal);
}

// ---------------------------------------------------------------------------
// The bench's inputs.

unsigned char g_loopback[16] = {2, 0, 0x1F, 0x90, 127, 0, 0, 1};  // AF_INET 127.0.0.1:8080
const INT_PTR SOCKET_HANDLE = 0x1A4;
const int DUMP_BYTES = 65536;
unsigned char g_payload[DUMP_BYTES];

void FailedConnect()
{
    g_connect(-1, SOCKET_HANDLE, g_loopback, sizeof(g_loopback));
}

// The floor of one record: what the platform must do to append it.
void AppendOnce(const char *path, const void *bytes, DWORD length)
{
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes, length, &written, NULL);
    CloseHandle(file);
}

// ---------------------------------------------------------------------------
// Timing. The machine is shared and under Wine every file operation is a
// round trip to the server, so single runs are noisy. Each side is timed in
// short blocks, the sides taking turns in a rotating order, and each keeps
// its fastest block: interference only ever slows a block down. Calls that
// write a file are long enough to be timed one by one; their figures are
// the median of each round's ratio between sides timed side by side.

// Runs `calls` units of work and returns the seconds they took.
typedef std::function<double(int calls)> Work;

template <typename F>
Work Timed(F body)
{
    return [body](int calls) {
        LONGLONG start = Now();
        body(calls);
        return SecondsSince(start);
    };
}

// The value below which the given share of the samples lie.
double Quantile(std::vector<double> samples, double share)
{
    if (samples.empty())
        return 0;
    size_t at = (size_t)(share * (double)(samples.size() - 1));
    std::nth_element(samples.begin(), samples.begin() + at, samples.end());
    return samples[at];
}

double Spread::Median() const
{
    return Quantile(values, 0.5);
}

// Seconds per unit of each side: the fastest block, or, timing each call on
// its own (for calls long enough to time singly), the median over the
// repetitions of each repetition's median call. ratios[k] collects side 0
// over side k+1 for every repetition; `between` runs untimed before each one.
// typical, when given, receives each side's median over the repetitions.
std::vector<double> TimeSides(const char *name, const std::vector<Work> &sides, int calls,
                              int reps, std::vector<Spread> &ratios,
                              const std::function<void()> &between, bool perCall = false,
                              std::vector<double> *typical = nullptr)
{
    size_t count = sides.size();
    std::vector<Best> best(count);
    ratios.assign(count > 0 ? count - 1 : 0, Spread());
    std::vector<double> seconds(count);
    std::vector<std::vector<double>> perRep(count);
    for (int rep = 0; rep < reps; rep++) {
        if (between)
            between();
        for (size_t step = 0; step < count; step++) {
            size_t side = (step + rep) % count;
            if (perCall) {
                std::vector<double> own(calls);
                for (int i = 0; i < calls; i++)
                    own[i] = sides[side](1);
                seconds[side] = Quantile(own, 0.5);
            } else {
                seconds[side] = sides[side](calls) / calls;
                best[side].Low(seconds[side]);
            }
        }
        for (size_t k = 0; k < count; k++)
            perRep[k].push_back(seconds[k]);
        for (size_t k = 1; k < count; k++)
            ratios[k - 1].Add(seconds[0] / seconds[k]);
        if (g_verbose) {
            printf("  %-16s rep %2d:", name, rep + 1);
            for (size_t k = 0; k < count; k++)
                printf(" %12.1f", seconds[k] * 1e9);
            printf(" ns\n");
        }
    }
    std::vector<double> result(count);
    for (size_t k = 0; k < count; k++)
        result[k] = perCall ? Quantile(perRep[k], 0.5) : best[k].value;
    if (typical) {
        typical->resize(count);
        for (size_t k = 0; k < count; k++)
            (*typical)[k] = Quantile(perRep[k], 0.5);
    }
    return result;
}

// ---------------------------------------------------------------------------
// off: a tracer with no live trace anywhere, against an empty call.

void MeasureOff(Figure &f, int calls, int reps)
{
    if (g_activeCount() != 0) {
        f.note = "a trace was live";
        return;
    }
    static unsigned char buffer[16];
    std::vector<Work> sides;
    sides.push_back(Timed([](int n) {
        for (int i = 0; i < n; i++)
            g_send(10, SOCKET_HANDLE, buffer, 10, 0);
    }));
    sides.push_back(Timed([](int n) {
        for (int i = 0; i < n; i++)
            g_emptyTracer(10, SOCKET_HANDLE, buffer, 10, 0);
    }));
    std::vector<Spread> spread;
    std::vector<double> best = TimeSides(f.name, sides, calls, reps, spread, nullptr);
    Finish(f, best[0] * 1e9, best[1] * 1e9, spread[0]);
}

// ---------------------------------------------------------------------------
// untraced thread: the lookup cost of a thread without a trace, with the
// table full of other threads' traces against one other trace.

struct Holders {
    HANDLE stop;
    HANDLE ready;
    std::string path;
    std::vector<HANDLE> threads;
};

DWORD WINAPI HolderMain(LPVOID parameter)
{
    Holders *holders = (Holders *)parameter;
    // Errors only: the start and stop lines are filtered out, so the
    // holders write nothing.
    g_start(holders->path.c_str(), TRACE_ERRORS);
    ReleaseSemaphore(holders->ready, 1, NULL);
    WaitForSingleObject(holders->stop, INFINITE);
    g_stop();
    return 0;
}

bool AddHolders(Holders &holders, int count)
{
    int started = 0;
    for (; started < count; started++) {
        HANDLE thread = CreateThread(NULL, 64 * 1024, HolderMain, &holders,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (!thread)
            break;
        holders.threads.push_back(thread);
    }
    for (int i = 0; i < started; i++)
        WaitForSingleObject(holders.ready, INFINITE);
    return started == count;
}

void StopHolders(Holders &holders)
{
    SetEvent(holders.stop);
    for (size_t i = 0; i < holders.threads.size(); i++) {
        WaitForSingleObject(holders.threads[i], INFINITE);
        CloseHandle(holders.threads[i]);
    }
    holders.threads.clear();
    ResetEvent(holders.stop);
}

double TimeUntracedCalls(int calls)
{
    unsigned char buffer[16] = {0};
    LONGLONG start = Now();
    for (int i = 0; i < calls; i++)
        g_send(10, SOCKET_HANDLE, buffer, 10, 0);
    return SecondsSince(start) * 1e9 / calls;
}

void MeasureUntraced(Figure &f, int calls, int reps)
{
    Holders holders;
    holders.stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    holders.ready = CreateSemaphoreA(NULL, 0, TRACE_MAX_RECORDS, NULL);
    holders.path = Scratch("holders.log");
    Best measured, floor;
    Spread spread;
    // Starting 255 threads is slow under Wine: each setting is timed in a
    // few blocks before it is torn down again.
    const int BLOCKS = 4;
    for (int rep = 0; rep < reps; rep += BLOCKS) {
        // The floor needs the table's high-water mark back at one slot, so
        // every round starts from no trace at all.
        bool ok = AddHolders(holders, 1) && g_activeCount() == 1;
        double b = 0, m = 0;
        for (int i = 0; ok && i < BLOCKS; i++) {
            double t = TimeUntracedCalls(calls);
            floor.Low(t);
            b = i == 0 || t < b ? t : b;
        }
        ok = ok && AddHolders(holders, TRACE_MAX_RECORDS - 2) &&
             g_activeCount() == TRACE_MAX_RECORDS - 1;
        for (int i = 0; ok && i < BLOCKS; i++) {
            double t = TimeUntracedCalls(calls);
            measured.Low(t);
            m = i == 0 || t < m ? t : m;
        }
        StopHolders(holders);
        if (!ok || g_activeCount() != 0) {
            f.note = "could not start or stop the other threads' traces";
            break;
        }
        spread.Add(m / b);
        Verbose(f.name, rep / BLOCKS, m, b, "ns");
    }
    CloseHandle(holders.stop);
    CloseHandle(holders.ready);
    DeleteFileA(holders.path.c_str());
    if (f.note.empty())
        Finish(f, measured.value, floor.value, spread);
}

// ---------------------------------------------------------------------------
// call line and naive: one failed connect's error line, against the bare
// append of a line of the same length, and against the C runtime's stream.

void MeasureCallLine(Figure &line, Figure &naive, int calls, int reps)
{
    std::string tracePath = Scratch("callline.log");
    std::string floorPath = Scratch("callline-floor.log");
    std::string naivePath = Scratch("callline-naive.log");
    DeleteFileA(tracePath.c_str());
    if (!g_start(tracePath.c_str(), 0)) {
        line.note = naive.note = "TraceStart failed";
        g_stop();
        return;
    }
    ULONGLONG before = FileSize(tracePath);
    FailedConnect();
    DWORD lineLength = (DWORD)(FileSize(tracePath) - before);
    std::string text = ReadTail(tracePath, lineLength);
    if (lineLength < 3 || text.size() != lineLength || text.find(" ERR: ") == std::string::npos ||
        text.compare(text.size() - 2, 2, "\r\n") != 0) {
        line.note = naive.note = "no error line written";
        g_stop();
        return;
    }
    // The stream is in text mode: its "\n" becomes the same CR LF.
    std::string streamText = text.substr(0, text.size() - 2) + "\n";
    DeleteFileA(tracePath.c_str());  // without its start line, whole lines only

    std::vector<Work> sides;
    sides.push_back(Timed([](int n) {
        for (int i = 0; i < n; i++)
            FailedConnect();
    }));
    sides.push_back(Timed([&](int n) {
        for (int i = 0; i < n; i++)
            AppendOnce(floorPath.c_str(), text.data(), lineLength);
    }));
    sides.push_back(Timed([&](int n) {
        for (int i = 0; i < n; i++) {
            FILE *file = fopen(naivePath.c_str(), "a");
            if (file) {
                fprintf(file, "%s", streamText.c_str());
                fclose(file);
            }
        }
    }));
    bool whole = true;
    auto between = [&]() {
        if (FileSize(tracePath) % lineLength != 0)
            whole = false;
        DeleteFileA(tracePath.c_str());
        DeleteFileA(floorPath.c_str());
        DeleteFileA(naivePath.c_str());
    };
    std::vector<Spread> spread;
    std::vector<double> typical = TimeSides(line.name, sides, calls, reps, spread, between, true);
    between();
    g_stop();
    DeleteFileA(tracePath.c_str());
    FinishPaired(line, typical[0] * 1e9, typical[1] * 1e9, spread[0]);
    FinishPaired(naive, typical[0] * 1e9, typical[2] * 1e9, spread[1]);
    char note[64];
    snprintf(note, sizeof(note), "line of %lu bytes%s", (unsigned long)lineLength,
             whole ? "" : "; LINES OF ANOTHER LENGTH");
    line.note = naive.note = note;
}

// ---------------------------------------------------------------------------
// dump: a 64 KiB send with its call line and dump, against one write of as
// many bytes.

void MeasureDump(Figure &f, int calls, int reps)
{
    std::string tracePath = Scratch("dump.log");
    std::string floorPath = Scratch("dump-floor.log");
    DeleteFileA(tracePath.c_str());
    if (!g_start(tracePath.c_str(), 0)) {
        f.note = "TraceStart failed";
        g_stop();
        return;
    }
    ULONGLONG before = FileSize(tracePath);
    g_send(DUMP_BYTES, SOCKET_HANDLE, g_payload, DUMP_BYTES, 0);
    DWORD written = (DWORD)(FileSize(tracePath) - before);
    if (written < DUMP_BYTES) {
        f.note = "no dump written";
        g_stop();
        return;
    }
    std::vector<char> block(written, 'x');
    DeleteFileA(tracePath.c_str());  // without its start line, whole records only

    std::vector<Work> sides;
    sides.push_back(Timed([](int n) {
        for (int i = 0; i < n; i++)
            g_send(DUMP_BYTES, SOCKET_HANDLE, g_payload, DUMP_BYTES, 0);
    }));
    sides.push_back(Timed([&](int n) {
        for (int i = 0; i < n; i++)
            AppendOnce(floorPath.c_str(), block.data(), written);
    }));
    bool whole = true;
    auto between = [&]() {
        if (FileSize(tracePath) % written != 0)
            whole = false;
        DeleteFileA(tracePath.c_str());
        DeleteFileA(floorPath.c_str());
    };
    std::vector<Spread> spread;
    std::vector<double> typical = TimeSides(f.name, sides, calls, reps, spread, between, true);
    between();
    g_stop();
    DeleteFileA(tracePath.c_str());
    FinishPaired(f, typical[0] * 1e9, typical[1] * 1e9, spread[0]);
    f.measuredMBs = written / f.measured * 1e3;
    f.floorMBs = written / f.floor * 1e3;
    char note[80];
    snprintf(note, sizeof(note), "%lu bytes written per call%s", (unsigned long)written,
             whole ? "" : "; RECORDS OF ANOTHER LENGTH");
    f.note = note;
}

// ---------------------------------------------------------------------------
// process mode: eight threads writing call lines into one shared trace,
// against one thread doing the same; lines per second.

struct Writers {
    HANDLE go;
    HANDLE ready;
    int lines;
};

DWORD WINAPI WriterMain(LPVOID parameter)
{
    Writers *writers = (Writers *)parameter;
    ReleaseSemaphore(writers->ready, 1, NULL);
    WaitForSingleObject(writers->go, INFINITE);
    for (int i = 0; i < writers->lines; i++)
        FailedConnect();
    return 0;
}

// Seconds from the go signal until the last writer is done; the threads
// are started beforehand, outside the time.
double RunWriters(int threads, int linesEach)
{
    Writers writers;
    writers.go = CreateEventA(NULL, TRUE, FALSE, NULL);
    writers.ready = CreateSemaphoreA(NULL, 0, threads, NULL);
    writers.lines = linesEach;
    std::vector<HANDLE> handles;
    for (int i = 0; i < threads; i++) {
        HANDLE thread = CreateThread(NULL, 64 * 1024, WriterMain, &writers,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (thread)
            handles.push_back(thread);
    }
    for (size_t i = 0; i < handles.size(); i++)
        WaitForSingleObject(writers.ready, INFINITE);
    LONGLONG start = Now();
    SetEvent(writers.go);
    WaitForMultipleObjects((DWORD)handles.size(), handles.data(), TRUE, INFINITE);
    double seconds = SecondsSince(start);
    for (size_t i = 0; i < handles.size(); i++)
        CloseHandle(handles[i]);
    CloseHandle(writers.go);
    CloseHandle(writers.ready);
    return (int)handles.size() == threads ? seconds : 1e9;
}

void MeasureProcessMode(Figure &f, int lines, int reps)
{
    const int THREADS = 8;
    int linesEach = lines / THREADS;
    lines = linesEach * THREADS;
    std::string tracePath = Scratch("process.log");
    DeleteFileA(tracePath.c_str());
    if (!g_start(tracePath.c_str(), TRACE_PROCESS)) {
        f.note = "TraceStart failed";
        g_stop();
        return;
    }
    ULONGLONG before = FileSize(tracePath);
    FailedConnect();
    DWORD lineLength = (DWORD)(FileSize(tracePath) - before);

    bool whole = lineLength > 0;
    std::vector<Work> sides;
    sides.push_back([&](int) {
        DeleteFileA(tracePath.c_str());
        double seconds = RunWriters(THREADS, linesEach);
        whole = whole && FileSize(tracePath) == (ULONGLONG)lines * lineLength;
        return seconds;
    });
    sides.push_back([&](int) {
        DeleteFileA(tracePath.c_str());
        double seconds = RunWriters(1, lines);
        whole = whole && FileSize(tracePath) == (ULONGLONG)lines * lineLength;
        return seconds;
    });
    std::vector<Spread> spread;
    std::vector<double> typical;
    TimeSides(f.name, sides, lines, reps, spread, nullptr, false, &typical);
    g_stop();
    DeleteFileA(tracePath.c_str());
    // Rates: the ratio is the single thread's time over the eight threads'.
    Spread rates;
    for (size_t i = 0; i < spread[0].values.size(); i++)
        rates.Add(1 / spread[0].values[i]);
    FinishPaired(f, 1 / typical[0], 1 / typical[1], rates);
    char note[64];
    snprintf(note, sizeof(note), "%d lines per run%s", lines, whole ? "" : "; LINES LOST OR TORN");
    f.note = note;
}

// ---------------------------------------------------------------------------
// Where the floor's time goes: the platform operations one by one.

void PrintBreakdown(int calls, int reps)
{
    std::string path = Scratch("breakdown.log");
    const char line[] = "TRACE_BENCH 0000 0000 ERR: connect(420, 0x404000 [127.0.0.1]:8080, 16) "
                        "returned -1 [10061]\r\n";
    const DWORD length = sizeof(line) - 1;
    struct Step {
        const char *name;
        Work work;
    };
    auto open = [&](DWORD access) {
        return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    };
    const DWORD LOCKING = FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE;
    auto lockByte = [](HANDLE file, bool lock) {
        OVERLAPPED where;
        ZeroMemory(&where, sizeof(where));
        where.OffsetHigh = 0x7FFFFFFF;
        if (lock)
            LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where);
        else
            UnlockFileEx(file, 0, 1, 0, &where);
    };
    std::vector<Step> steps = {
        {"open+close (append)", Timed([&](int n) {
             for (int i = 0; i < n; i++)
                 CloseHandle(open(FILE_APPEND_DATA));
         })},
        {"open+close (append, read, sync)", Timed([&](int n) {
             for (int i = 0; i < n; i++)
                 CloseHandle(open(LOCKING));
         })},
        {"open+write+close", Timed([&](int n) {
             for (int i = 0; i < n; i++) {
                 HANDLE file = open(FILE_APPEND_DATA);
                 DWORD done;
                 WriteFile(file, line, length, &done, NULL);
                 CloseHandle(file);
             }
         })},
        {"open+lock+write+unlock+close", Timed([&](int n) {
             for (int i = 0; i < n; i++) {
                 HANDLE file = open(LOCKING);
                 lockByte(file, true);
                 DWORD done;
                 WriteFile(file, line, length, &done, NULL);
                 lockByte(file, false);
                 CloseHandle(file);
             }
         })},
        {"open+lock+write+close", Timed([&](int n) {
             for (int i = 0; i < n; i++) {
                 HANDLE file = open(LOCKING);
                 lockByte(file, true);
                 DWORD done;
                 WriteFile(file, line, length, &done, NULL);
                 CloseHandle(file);
             }
         })},
        {"open+2 writes+close", Timed([&](int n) {
             for (int i = 0; i < n; i++) {
                 HANDLE file = open(FILE_APPEND_DATA);
                 DWORD done;
                 WriteFile(file, line, length / 2, &done, NULL);
                 WriteFile(file, line + length / 2, length - length / 2, &done, NULL);
                 CloseHandle(file);
             }
         })},
        {"GetTickCount", Timed([](int n) {
             for (int i = 0; i < n * 100; i++)
                 GetTickCount();
         })},
    };
    std::vector<Work> sides;
    for (size_t i = 0; i < steps.size(); i++)
        sides.push_back(steps[i].work);
    std::vector<Spread> spread;
    bool verbose = g_verbose;
    g_verbose = false;
    std::vector<double> best =
        TimeSides("breakdown", sides, calls, reps, spread, [&]() { DeleteFileA(path.c_str()); },
                  true);
    g_verbose = verbose;
    DeleteFileA(path.c_str());
    printf("\nplatform operations, tenth percentile of %d calls each:\n", reps * calls);
    for (size_t i = 0; i < steps.size(); i++) {
        double ns = best[i] * 1e9;
        if (i == steps.size() - 1)
            ns /= 100;
        printf("  %-34s %10.1f ns\n", steps[i].name, ns);
    }
}

// ---------------------------------------------------------------------------
// Report.

std::string Absolute(const Figure &f, double value, double mbs)
{
    char text[64];
    if (!f.valid)
        return "n/a";
    if (strcmp(f.unit, "ns/call") == 0 && value >= 100000)
        snprintf(text, sizeof(text), "%.1f us/call", value / 1000);
    else if (strcmp(f.unit, "ns/call") == 0)
        snprintf(text, sizeof(text), "%.1f ns/call", value);
    else
        snprintf(text, sizeof(text), "%.0f %s", value, f.unit);
    std::string result = text;
    if (mbs > 0) {
        snprintf(text, sizeof(text), " (%.0f MB/s)", mbs);
        result += text;
    }
    return result;
}

void PrintTable(const std::vector<Figure> &figures)
{
    printf("\n%-16s %7s %8s %-8s %-26s %-26s %s\n", "figure", "ratio", "goal", "met", "measured",
           "floor", "reps (min..max ratio)");
    for (size_t i = 0; i < figures.size(); i++) {
        const Figure &f = figures[i];
        char ratio[16], goal[16], spread[48];
        snprintf(ratio, sizeof(ratio), f.valid ? "%.3f" : "n/a", f.ratio);
        snprintf(goal, sizeof(goal), "%s %.2f", f.atLeast ? ">=" : "<=", f.goal);
        snprintf(spread, sizeof(spread), f.valid ? "%.3f..%.3f" : "", f.repMin, f.repMax);
        printf("%-16s %7s %8s %-8s %-26s %-26s %s\n", f.name, ratio, goal,
               f.valid ? (Met(f) ? "yes" : "NOT MET") : "n/a",
               Absolute(f, f.measured, f.measuredMBs).c_str(),
               Absolute(f, f.floor, f.floorMBs).c_str(), spread);
    }
    printf("\n");
    for (size_t i = 0; i < figures.size(); i++)
        printf("  %-16s %s / %s%s%s\n", figures[i].name, figures[i].timed, figures[i].floorText,
               figures[i].note.empty() ? "" : "; ", figures[i].note.c_str());
}

bool WriteCsv(const std::string &path, const std::vector<Figure> &figures)
{
    FILE *out = fopen(path.c_str(), "w");
    if (!out)
        return false;
    fprintf(out, "figure,ratio,goal,met,measured,floor,unit,measured_mb_s,floor_mb_s,"
                 "rep_ratio_min,rep_ratio_max,timed,floor_is,note\n");
    for (size_t i = 0; i < figures.size(); i++) {
        const Figure &f = figures[i];
        fprintf(out, "%s,%.4f,%s%.2f,%s,%.1f,%.1f,%s,%.1f,%.1f,%.4f,%.4f,\"%s\",\"%s\",\"%s\"\n",
                f.name, f.ratio, f.atLeast ? ">=" : "<=", f.goal,
                f.valid ? (Met(f) ? "yes" : "no") : "n/a", f.measured, f.floor, f.unit,
                f.measuredMBs, f.floorMBs, f.repMin, f.repMax, f.timed, f.floorText,
                f.note.c_str());
    }
    return fclose(out) == 0;
}

void Usage()
{
    printf("usage: trace_bench [--csv FILE] [--reps N] [--quick] [--verbose] [--breakdown]\n"
           "                   [--only LIST] [--scratch DIR] [--dll FILE]\n"
           "  --csv FILE  also write the table as CSV (relative to the program's folder)\n"
           "  --reps N    rounds per figure (default 50): each side times one block per\n"
           "              round and the fastest block counts; figures that write a\n"
           "              file take the median of the rounds' own ratios\n"
           "  --quick     fewer and shorter blocks, for a first look\n"
           "  --verbose   print every block\n"
           "  --breakdown also time the platform's file operations one by one\n"
           "  --only LIST only these figures, comma-separated (e.g. --only dump,process_mode)\n"
           "  --scratch DIR  put the scratch folder into DIR (default: the program's folder)\n"
           "  --dll FILE  bench another build of the DLL\n");
}

const char *WineVersion()
{
    typedef const char *(CDECL * VersionFn)(void);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    VersionFn version =
        ntdll ? (VersionFn)(void *)GetProcAddress(ntdll, "wine_get_version") : NULL;
    return version ? version() : NULL;
}

}  // namespace

int main(int argc, char **argv)
{
    const char *csv = NULL;
    int reps = 50;
    bool quick = false;
    bool repsGiven = false;
    bool breakdown = false;
    const char *dll = NULL;
    const char *only = NULL;
    const char *scratch = NULL;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--csv") == 0 && i + 1 < argc) {
            csv = argv[++i];
        } else if (strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = atoi(argv[++i]);
            repsGiven = true;
        } else if (strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (strcmp(argv[i], "--verbose") == 0) {
            g_verbose = true;
        } else if (strcmp(argv[i], "--scratch") == 0 && i + 1 < argc) {
            scratch = argv[++i];
        } else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (strcmp(argv[i], "--dll") == 0 && i + 1 < argc) {
            dll = argv[++i];
        } else if (strcmp(argv[i], "--breakdown") == 0) {
            breakdown = true;
        } else {
            Usage();
            return strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    if (quick && !repsGiven)
        reps = 10;
    if (reps < 1)
        reps = 1;
    // Units per timed block: a few milliseconds each under Wine, so that
    // some blocks of every side escape the other work on the machine.
    int offCalls = quick ? 200000 : 1000000;
    int lookupCalls = quick ? 20000 : 50000;
    int lineCalls = quick ? 50 : 100;
    int dumpCalls = quick ? 2 : 4;
    int processLines = quick ? 200 : 400;

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_secondsPerTick = 1.0 / (double)frequency.QuadPart;
    for (int i = 0; i < DUMP_BYTES; i++)
        g_payload[i] = (unsigned char)(i * 7 + (i >> 8));

    g_folder = ProgramFolder();
    g_scratch = std::string(scratch ? scratch : g_folder.c_str());
    if (!g_scratch.empty() && g_scratch.back() != '\\' && g_scratch.back() != '/')
        g_scratch += "\\";
    g_scratch += "bench-scratch\\";
    CreateDirectoryA(g_scratch.c_str(), NULL);

    std::string dllPath = dll ? dll : g_folder + "Kestrelnode9.TraceLog.dll";
    HMODULE module = LoadLibraryA(dllPath.c_str());
    ConnectFn connect = NULL;
    SendFn send = NULL;
    if (!module || !BindOrdinal(module, TRACE_ORD_START, g_start) ||
        !BindOrdinal(module, TRACE_ORD_STOP, g_stop) ||
        !BindOrdinal(module, TRACE_ORD_ACTIVECOUNT, g_activeCount) ||
        !BindOrdinal(module, TRACE_ORD_SETERRORHANDLERS, g_setErrorHandlers) ||
        !BindOrdinal(module, TRACE_ORD_CONNECT, connect) ||
        !BindOrdinal(module, TRACE_ORD_SEND, send)) {
        fprintf(stderr, "trace_bench: cannot load %s\n", dllPath.c_str());
        return 1;
    }
    g_connect = connect;
    g_send = send;
    TRACE_ERROR_HANDLERS handlers = {RefusedError, KeepError};
    g_setErrorHandlers(&handlers);

    const char *wine = WineVersion();
    printf("trace_bench: %d rounds per figure (fastest block, or for the figures that write\n"
           "a file the median of the rounds' ratios, sides timed side by side)%s%s%s\n",
           reps, quick ? ", quick" : "", wine ? ", Wine " : "", wine ? wine : "");
    fflush(stdout);

    std::vector<Figure> figures;
    figures.push_back(MakeFigure("off", "TraceSend with no live trace",
                                 "empty __stdcall call through a pointer", "ns/call", false, 1.5));
    figures.push_back(MakeFigure("untraced thread",
                                 "TraceSend from a thread without a trace, 255 live",
                                 "the same with 1 other trace live", "ns/call", false, 1.5));
    figures.push_back(MakeFigure("call line", "failed TraceConnect writing one ERR line",
                                 "CreateFileA + WriteFile of as long a line + CloseHandle",
                                 "ns/call", false, 1.10));
    figures.push_back(MakeFigure("dump", "TraceSend of 64 KiB writing its call line and dump",
                                 "CreateFileA + one WriteFile of as many bytes + CloseHandle",
                                 "ns/call", false, 1.30));
    figures.push_back(MakeFigure("process mode",
                                 "8 threads writing call lines into one process-mode trace",
                                 "1 thread doing the same", "lines/s", true, 0.9));
    figures.push_back(MakeFigure("naive", "one call line (as above)",
                                 "fopen(append) + fprintf + fclose", "ns/call", false, 1.0));

    // --only NAMES: a comma-separated list of figures ("call line" and
    // "naive" are measured together).
    auto wanted = [&](const char *name) {
        if (!only)
            return true;
        std::string list = std::string(",") + only + ",";
        for (size_t i = 0; i < list.size(); i++) {
            if (list[i] == '_' || list[i] == '-')
                list[i] = ' '; // "process_mode" for "process mode"
        }
        return list.find(std::string(",") + name + ",") != std::string::npos;
    };
    LONGLONG start = Now();
    if (wanted("off"))
        MeasureOff(figures[0], offCalls, reps);
    if (wanted("untraced thread"))
        MeasureUntraced(figures[1], lookupCalls, reps);
    if (wanted("call line") || wanted("naive"))
        MeasureCallLine(figures[2], figures[5], lineCalls, reps);
    if (wanted("dump"))
        MeasureDump(figures[3], dumpCalls, reps);
    if (wanted("process mode"))
        MeasureProcessMode(figures[4], processLines, reps);
    for (size_t i = figures.size(); i-- > 0;) {
        if (!wanted(figures[i].name))
            figures.erase(figures.begin() + i);
    }
    if (breakdown)
        PrintBreakdown(lineCalls, reps);
    double seconds = SecondsSince(start);

    PrintTable(figures);
    int met = 0;
    for (size_t i = 0; i < figures.size(); i++)
        met += Met(figures[i]) ? 1 : 0;
    printf("\n%d of %d goals met (%.1f s)\n", met, (int)figures.size(), seconds);

    DeleteFileA(Scratch("holders.log").c_str());
    DeleteFileA(Scratch("callline.log").c_str());
    DeleteFileA(Scratch("callline-floor.log").c_str());
    DeleteFileA(Scratch("callline-naive.log").c_str());
    RemoveDirectoryA(g_scratch.c_str());

    if (csv) {
        std::string path = csv;
        bool absolute = path.size() > 1 && (path[1] == ':' || path[0] == '\\' || path[0] == '/');
        if (!absolute)
            path = g_folder + path;
        if (!WriteCsv(path, figures)) {
            fprintf(stderr, "trace_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        printf("CSV: %s\n", path.c_str());
    }
    return 0;
}
