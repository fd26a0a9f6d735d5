// Starting, nesting and stopping traces; thread and process keys; the record
// table; the version query.
#include <cstdio>
#include <cstring>
#include <vector>

#include "core_support.h"

namespace {

using Traces = TraceFixture;

// The text after the level of every line in the file ("" for a dump line).
std::vector<std::string> Messages(const std::string &path)
{
    std::vector<std::string> messages;
    for (const std::string &line : ReadLogLines(path)) {
        TextLine text;
        messages.push_back(ParseTextLine(line, &text) ? text.level + ": " + text.message : "");
    }
    return messages;
}

// Every line is a text line of the given key.
void ExpectWholeLinesOfKey(const std::vector<std::string> &lines, const std::string &key)
{
    for (const std::string &line : lines) {
        TextLine text;
        ASSERT_TRUE(ParseTextLine(line, &text)) << line;
        EXPECT_EQ(text.key, key);
    }
}

bool StartsWith(const std::string &text, const std::string &head)
{
    return text.compare(0, head.size(), head) == 0;
}

TEST_F(Traces, NestedStartsShareOneRecordUntilTheLastStop)
{
    EXPECT_EQ(Dll().ActiveCount(), 0);
    ASSERT_EQ(Dll().Start(path.c_str(), 0x10), 1);
    EXPECT_EQ(Dll().ActiveCount(), 1);
    EXPECT_EQ(Dll().GetFlags(), 0x10u);

    // A nested start only counts; its flags replace the old ones (0 means
    // the default) and it writes nothing.
    ASSERT_EQ(Dll().Start(nullptr, 0), 1);
    EXPECT_EQ(Dll().ActiveCount(), 1);
    EXPECT_EQ(Dll().GetFlags(), TRACE_HEXDUMP);

    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Dll().ActiveCount(), 1);
    EXPECT_EQ(Dll().GetFlags(), TRACE_HEXDUMP);
    EXPECT_EQ(ReadLogLines(path).size(), 1u);

    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Dll().ActiveCount(), 0);
    EXPECT_EQ(Dll().GetFlags(), 0u);
    EXPECT_EQ(Dll().Stop(), 0);

    std::vector<std::string> messages = Messages(path);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(StartsWith(messages[0], "INF: started thread "));
    EXPECT_TRUE(StartsWith(messages[1], "INF: stopped thread "));
}

TEST_F(Traces, NestedStartWithANameSwitchesTheFileWithoutAStartLine)
{
    std::string second = dir + "\\second.log";
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    ASSERT_EQ(Dll().Start(second.c_str(), 0), 1);
    EXPECT_EQ(Dll().Write(0, "moved", 0), 1);
    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Dll().Stop(), 1);

    EXPECT_EQ(Messages(path).size(), 1u);
    std::vector<std::string> messages = Messages(second);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "INF: moved");
    EXPECT_TRUE(StartsWith(messages[1], "INF: stopped thread "));
}

TEST_F(Traces, ThreadTraceBelongsToItsThreadAlone)
{
    std::string key = KeyText(GetCurrentThreadId());
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    int otherFlags = -1, otherWrite = -1, otherStop = -1;
    RunOnThread([&] {
        otherFlags = (int)Dll().GetFlags();
        otherWrite = Dll().Write(0, "from another thread", 0);
        otherStop = Dll().Stop();
    });
    EXPECT_EQ(otherFlags, 0);
    EXPECT_EQ(otherWrite, 0);
    EXPECT_EQ(otherStop, 0);
    EXPECT_EQ(Dll().Write(0, "own", 0), 1);
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 3u);
    ExpectWholeLinesOfKey(lines, key);
    TextLine start, stop;
    ParseTextLine(lines[0], &start);
    ParseTextLine(lines[2], &stop);
    EXPECT_TRUE(StartsWith(start.message, "started thread 0x" + key + " trace on ")) << lines[0];
    EXPECT_TRUE(StartsWith(stop.message, "stopped thread 0x" + key + " trace on ")) << lines[2];
}

TEST_F(Traces, ProcessTraceIsSharedByEveryThread)
{
    std::string key = KeyText(GetCurrentProcessId());
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_PROCESS), 1);
    EXPECT_EQ(Dll().GetFlags(), TRACE_HEXDUMP);  // the mode bit is not kept
    DWORD otherFlags = 0;
    int otherWrite = 0;
    RunOnThread([&] {
        otherFlags = Dll().GetFlags();
        otherWrite = Dll().Write(0, "from another thread", 0);
    });
    EXPECT_EQ(otherFlags, TRACE_HEXDUMP);
    EXPECT_EQ(otherWrite, 1);
    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Dll().ActiveCount(), 0);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 3u);
    ExpectWholeLinesOfKey(lines, key);
    EXPECT_EQ(LineFromLevel(lines[1]), "INF: from another thread");
    EXPECT_TRUE(StartsWith(LineFromLevel(lines[0]), "INF: started process 0x" + key + " trace on "));
    EXPECT_TRUE(StartsWith(LineFromLevel(lines[2]), "INF: stopped process 0x" + key + " trace on "));

    // The last stop returned the library to thread mode.
    std::string after = dir + "\\after.log";
    ASSERT_EQ(Dll().Start(after.c_str(), 0), 1);
    EXPECT_EQ(Dll().Stop(), 1);
    std::vector<std::string> afterMessages = Messages(after);
    ASSERT_EQ(afterMessages.size(), 2u);
    EXPECT_TRUE(StartsWith(afterMessages[0], "INF: started thread 0x" + KeyText(GetCurrentThreadId())));
}

TEST_F(Traces, SetFlagsSwitchesToProcessModeEvenWithoutARecord)
{
    EXPECT_EQ(Dll().SetFlags(TRACE_PROCESS), 0u);
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);  // keyed by the process now
    EXPECT_EQ(Dll().Stop(), 1);
    std::vector<std::string> messages = Messages(path);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(StartsWith(messages[0], "INF: started process 0x" + KeyText(GetCurrentProcessId())));
}

TEST_F(Traces, SwitchingTheModeHidesTheThreadRecordUntilItSwitchesBack)
{
    ASSERT_EQ(Dll().Start(path.c_str(), 0x10), 1);
    EXPECT_EQ(Dll().SetFlags(TRACE_PROCESS | 0x20), 0u);
    EXPECT_EQ(Dll().GetFlags(), 0u);
    EXPECT_EQ(Dll().Write(0, "lost", 0), 0);

    std::string processLog = dir + "\\process.log";
    ASSERT_EQ(Dll().Start(processLog.c_str(), 0), 1);
    EXPECT_EQ(Dll().ActiveCount(), 2);
    EXPECT_EQ(Dll().Stop(), 1);  // destroys the process record, back to thread mode
    EXPECT_EQ(Dll().ActiveCount(), 1);
    EXPECT_EQ(Dll().GetFlags(), 0x10u);
    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Messages(path).size(), 2u);
    std::vector<std::string> processMessages = Messages(processLog);
    ASSERT_EQ(processMessages.size(), 2u);
    EXPECT_TRUE(StartsWith(processMessages[0], "INF: started process "));
}

TEST_F(Traces, OverwriteEmptiesTheFileOnlyForANewTrace)
{
    FILE *old = std::fopen(path.c_str(), "wb");
    ASSERT_NE(old, nullptr);
    std::fputs("old line\r\n", old);
    std::fclose(old);

    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_OVERWRITE), 1);
    EXPECT_EQ(Dll().GetFlags(), TRACE_HEXDUMP);  // the bit is not kept
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_OVERWRITE | 0x10), 1);
    EXPECT_EQ(Dll().GetFlags(), 0x10u);
    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> messages = Messages(path);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(StartsWith(messages[0], "INF: started thread "));
    EXPECT_TRUE(StartsWith(messages[1], "INF: stopped thread "));
}

// A thread that starts a trace, reports, and holds it until released.
struct Holder {
    std::string path;
    HANDLE ready = nullptr;
    HANDLE release = nullptr;
    HANDLE thread = nullptr;
    int started = -1;
    int stopped = -1;
};

DWORD WINAPI HoldTrace(void *argument)
{
    Holder *holder = static_cast<Holder *>(argument);
    holder->started = Dll().Start(holder->path.c_str(), TRACE_SUSPEND);
    SetEvent(holder->ready);
    WaitForSingleObject(holder->release, INFINITE);
    holder->stopped = Dll().Stop();
    return 0;
}

void BeginHolding(Holder *holder, const std::string &path)
{
    holder->path = path;
    holder->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    holder->release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    holder->thread = CreateThread(nullptr, 64 * 1024, HoldTrace, holder,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(holder->thread, nullptr);
    WaitForSingleObject(holder->ready, INFINITE);
}

void EndHolding(Holder *holder)
{
    SetEvent(holder->release);
    WaitForSingleObject(holder->thread, INFINITE);
    CloseHandle(holder->thread);
    CloseHandle(holder->ready);
    CloseHandle(holder->release);
}

TEST_F(Traces, TableHolds256TracesAndReusesAFreedSlot)
{
    std::vector<Holder> holders(TRACE_MAX_RECORDS + 2);
    for (int i = 0; i < TRACE_MAX_RECORDS; i++) {
        BeginHolding(&holders[i], path);
        EXPECT_EQ(holders[i].started, 1) << "thread " << i;
    }
    EXPECT_EQ(Dll().ActiveCount(), TRACE_MAX_RECORDS);

    Holder &refused = holders[TRACE_MAX_RECORDS];
    BeginHolding(&refused, path);
    EXPECT_EQ(refused.started, 0);
    EXPECT_EQ(Dll().ActiveCount(), TRACE_MAX_RECORDS);
    EndHolding(&refused);
    EXPECT_EQ(refused.stopped, 0);

    EndHolding(&holders[100]);
    EXPECT_EQ(holders[100].stopped, 1);
    EXPECT_EQ(Dll().ActiveCount(), TRACE_MAX_RECORDS - 1);

    Holder &reuser = holders[TRACE_MAX_RECORDS + 1];
    BeginHolding(&reuser, path);
    EXPECT_EQ(reuser.started, 1);
    EXPECT_EQ(Dll().ActiveCount(), TRACE_MAX_RECORDS);
    EndHolding(&reuser);
    EXPECT_EQ(reuser.stopped, 1);

    for (int i = 0; i < TRACE_MAX_RECORDS; i++) {
        if (i == 100)
            continue;
        EndHolding(&holders[i]);
        EXPECT_EQ(holders[i].stopped, 1) << "thread " << i;
    }
    EXPECT_EQ(Dll().ActiveCount(), 0);
}

TEST_F(Traces, NestedStartWithARefusedNameOwesNoStop)
{
    ASSERT_EQ(Dll().Start(path.c_str(), 0x10), 1);
    EXPECT_EQ(Dll().Start("run.exe", 0), 0);
    EXPECT_EQ(Dll().ActiveCount(), 1);
    EXPECT_EQ(Dll().GetFlags(), 0x10u);  // flags unchanged
    char name[64] = "untouched";
    EXPECT_EQ(Dll().GetFileName(name, sizeof(name)), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(Dll().Write(0, "lost", 0), 0);

    EXPECT_EQ(Dll().Stop(), 1);  // the one stop owed ends the trace
    EXPECT_EQ(Dll().ActiveCount(), 0);
    EXPECT_EQ(Dll().Stop(), 0);
    std::vector<std::string> messages = Messages(path);
    ASSERT_EQ(messages.size(), 1u);  // no file left for the stop line
    EXPECT_TRUE(StartsWith(messages[0], "INF: started thread "));
}

TEST_F(Traces, FirstStartWithARefusedNameStillCreatesTheRecord)
{
    EXPECT_EQ(Dll().Start("X.DLL", 0), 0);
    EXPECT_EQ(Dll().ActiveCount(), 1);
    EXPECT_EQ(Dll().GetFlags(), TRACE_HEXDUMP);

    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);  // nests: no start line
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Dll().ActiveCount(), 1);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(Dll().ActiveCount(), 0);

    std::vector<std::string> messages = Messages(path);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(StartsWith(messages[0], "INF: stopped thread "));
}

TEST(Version, DllGetVersion)
{
    // DLLVERSIONINFO is 20 bytes; the 32-byte DLLVERSIONINFO2 is refused.
    DWORD info[8];
    std::memset(info, 0xA5, sizeof(info));
    info[0] = 20;
    EXPECT_EQ(Dll().DllGetVersion(info), 0);
    EXPECT_EQ(info[1], 9u);
    EXPECT_EQ(info[2], 5u);
    EXPECT_EQ(info[3], 9530u);
    EXPECT_EQ(info[4], 1u);
    EXPECT_EQ(info[5], 0xA5A5A5A5u);

    std::memset(info, 0xA5, sizeof(info));
    info[0] = 32;
    EXPECT_EQ((DWORD)Dll().DllGetVersion(info), 0x80000003u);
    for (int i = 1; i < 8; i++)
        EXPECT_EQ(info[i], 0xA5A5A5A5u) << "field " << i;

    EXPECT_EQ((DWORD)Dll().DllGetVersion(nullptr), 0x80000005u);
}

}  // namespace
