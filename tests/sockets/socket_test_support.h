// Shared pieces of the socket tracer tests: a fake socket layer behind the
// error handlers (one error code and one call log per thread), a fixture
// that owns one trace, and the few text helpers the tables need.
#ifndef TRACELOG_TEST_SOCKET_TEST_SUPPORT_H
#define TRACELOG_TEST_SOCKET_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_reader.h"
#include "trace_dll.h"

// One call of a handler, as the fake socket layer saw it.
struct HandlerEvent {
    char kind;       // 'G' getter, 'S' setter
    int value;       // returned by the getter, received by the setter
    size_t logLines; // lines in the watched log at that moment (0 when none watched)

    bool operator==(const HandlerEvent &other) const
    {
        return kind == other.kind && value == other.value && logLines == other.logLines;
    }
};

void PrintTo(const HandlerEvent &event, std::ostream *os);

// The calling thread's side of the fake socket layer: the code its getter
// returns and every handler call made on it.
struct FakeSocketLayer {
    int code = 0;
    std::vector<HandlerEvent> events;
};

FakeSocketLayer &ThisThreadLayer();

int WINAPI FakeGetLastError();
void WINAPI FakeSetLastError(int error);

// Installs the fake getter and setter (either may be left out) or none.
void InstallHandlers(bool getter = true, bool setter = true);
void RemoveHandlers();

// While set, the handlers note how many lines this log holds when called,
// which shows whether they ran before or after the line was written. Set
// it only while no other thread makes traced calls.
void WatchLog(const std::string &path);

// "0x" and the value in lower-case hexadecimal, as the call lines print
// pointers.
std::string Hex(const void *pointer);
std::string Hex(unsigned long value);

// A pointer that is only ever printed, never read.
inline const void *FakePointer(UINT_PTR value)
{
    return reinterpret_cast<const void *>(value);
}

inline const int *FakeIntPointer(UINT_PTR value)
{
    return reinterpret_cast<const int *>(value);
}

// The program name that heads every line of a log (the first field of its
// first line).
std::string ModuleNameOf(const std::string &path);

// The expected dump line for up to 16 bytes at the given offset.
std::string DumpLine(const std::string &moduleName, unsigned offset, const std::string &bytes);

// Each test gets a fresh log, the fake handlers installed, and leaves no
// trace and no handler behind.
class SocketTraceTest : public ::testing::Test
{
  protected:
    std::string path;
    bool started = false;

    void SetUp() override;
    void TearDown() override;

    // Starts a trace for this thread (or the process) into path.
    void StartTrace(DWORD flags = 0);
    void StopTrace();

    size_t LineCount() const { return ReadLogLines(path).size(); }
    // The lines written since the log held `from` lines.
    std::vector<std::string> LinesSince(size_t from) const;
};

#endif
