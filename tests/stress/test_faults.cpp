// Faults a trace must survive: its file held by someone else, its folder
// gone, its file made read-only, the DLL unloaded under live traces, and
// no error handlers. In each case only the records written while the
// fault lasts may be lost; every record before and after is in the file.
//
// This program binds its own instance of the DLL (not the shared one of
// the other test programs) because one test unloads and reloads it.
#include <gtest/gtest.h>

#include <cstdio>

#include "log_grammar.h"
#include "log_reader.h"
#include "trace_dll.h"

namespace {

const char DLL_NAME[] = "Kestrelnode9.TraceLog.dll";

TraceDll g_lib;

TraceDll &Lib()
{
    if (!g_lib.module)
        g_lib.Load(DLL_NAME);
    return g_lib;
}

// The messages of the text lines, from the level on ("INF: before"), after
// checking that every line is whole.
std::vector<std::string> LoggedMessages(const std::string &path)
{
    LogCheck check = CheckLog(path, HostProgramName());
    EXPECT_TRUE(check.Clean()) << DescribeBadLines(check);
    std::vector<std::string> messages;
    for (const LogTextLine &line : check.textLines) {
        const char *level = line.level == LOG_INF ? "INF: " : line.level == LOG_WRN ? "WRN: "
                                                                                    : "ERR: ";
        std::string text = level + line.message;
        // Start and stop lines carry the time; their first words will do.
        if (line.message.compare(0, 8, "started ") == 0 ||
            line.message.compare(0, 8, "stopped ") == 0)
            text = text.substr(0, text.find(" 0x"));
        if (line.level != LOG_INF)
            text += " [" + std::to_string(line.code) + "]";
        messages.push_back(text);
    }
    return messages;
}

class Faults : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Lib().module, nullptr); }
    void TearDown() override
    {
        while (Lib().Stop() == 1) {
        }
        EXPECT_EQ(Lib().ActiveCount(), 0);
    }
};

}  // namespace

// Another handle holds the log file: one that shares nothing, or shares
// only reading, shuts the writers out; one that shares reading and writing
// (a viewer following the log) does not.
TEST_F(Faults, FileHeldByAnotherHandle)
{
    struct Case {
        const char *name;
        DWORD access;
        DWORD share;
        bool blocks;
    } cases[] = {
        {"no_sharing", GENERIC_READ | GENERIC_WRITE, 0, true},
        {"readers_only", GENERIC_READ, FILE_SHARE_READ, true},
        {"viewer", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
    };
    for (const Case &c : cases) {
        std::string path = MakeScratchDirectory(std::string("held_") + c.name) + "\\held.log";
        ASSERT_EQ(Lib().Start(path.c_str(), 0), 1);
        EXPECT_EQ(Lib().Write(0, "before", 0), 1);
        HANDLE holder = CreateFileA(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE) << c.name;
        int expected = c.blocks ? 0 : 1;
        EXPECT_EQ(Lib().Write(0, "during", 0), expected) << c.name;
        EXPECT_EQ(Lib().Write(TRACE_HEXDUMP, "dump", 4), expected) << c.name;
        Lib().Listen(0, 1, 5);
        CloseHandle(holder);
        EXPECT_EQ(Lib().Write(0, "after", 0), 1) << c.name;
        Lib().Listen(0, 2, 5);
        EXPECT_EQ(Lib().Stop(), 1);

        std::vector<std::string> expectedLines = {"INF: started thread", "INF: before"};
        if (!c.blocks) {
            expectedLines.push_back("INF: during");
            expectedLines.push_back("INF: listen(1, 5) returned 0");
        }
        for (const char *line : {"INF: after", "INF: listen(2, 5) returned 0", "INF: stopped thread"})
            expectedLines.push_back(line);
        EXPECT_EQ(LoggedMessages(path), expectedLines) << c.name;
        EXPECT_EQ(CheckLog(path, HostProgramName()).dumpLines.size(), c.blocks ? 0u : 1u);
    }
}

// Another program holds a byte-range lock over the whole file. Our writers
// don't wait for foreign locks: the write is refused by the system (Windows)
// or goes through (Wine, which doesn't enforce such locks on writes), and
// whatever the call reports, the file agrees with it. Writing goes on once
// the lock is gone.
TEST_F(Faults, WholeFileLockedByAnotherHandle)
{
    std::string path = MakeScratchDirectory("locked") + "\\locked.log";
    ASSERT_EQ(Lib().Start(path.c_str(), 0), 1);
    EXPECT_EQ(Lib().Write(0, "before", 0), 1);
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    OVERLAPPED everything = {};
    ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &everything));
    int during = Lib().Write(0, "while locked", 0);
    std::printf("[locked] a write to the locked log returned %d\n", during);
    UnlockFileEx(holder, 0, MAXDWORD, MAXDWORD, &everything);
    CloseHandle(holder);
    EXPECT_EQ(Lib().Write(0, "after", 0), 1);
    EXPECT_EQ(Lib().Stop(), 1);
    std::vector<std::string> expected = {"INF: started thread", "INF: before"};
    if (during == 1)
        expected.push_back("INF: while locked");
    expected.push_back("INF: after");
    expected.push_back("INF: stopped thread");
    EXPECT_EQ(LoggedMessages(path), expected);
}

// The folder of the log goes away under a live trace and comes back.
TEST_F(Faults, FolderDeletedAndRecreated)
{
    std::string dir = MakeScratchDirectory("vanishing") + "\\logs";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::string path = dir + "\\trace.log";
    ASSERT_EQ(Lib().Start(path.c_str(), 0), 1);
    EXPECT_EQ(Lib().Write(0, "before", 0), 1);
    std::vector<std::string> before = {"INF: started thread", "INF: before"};
    EXPECT_EQ(LoggedMessages(path), before);

    ASSERT_TRUE(DeleteFileA(path.c_str()));
    ASSERT_TRUE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(Lib().Write(0, "while missing", 0), 0);
    EXPECT_EQ(Lib().Write(TRACE_HEXDUMP, "dump", 4), 0);
    Lib().Listen(-1, 1, 5);
    EXPECT_EQ(GetFileAttributesA(dir.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a write must not create the folder";

    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_EQ(Lib().Write(0, "after", 0), 1);
    Lib().Listen(-1, 2, 5);
    EXPECT_EQ(Lib().Stop(), 1);
    std::vector<std::string> after = {"INF: after", "ERR: listen(2, 5) returned -1 [0]",
                                      "INF: stopped thread"};
    EXPECT_EQ(LoggedMessages(path), after);
}

// The log file is made read-only while traced. The library checks a
// file's attributes when the name is set, not at every write: writes go
// on as far as the system lets them (Windows refuses them; Wine running as
// root does not), and setting the name again is refused until the file is
// writable once more. Whatever a write reports, the file agrees with it.
TEST_F(Faults, FileMadeReadOnly)
{
    std::string path = MakeScratchDirectory("read_only") + "\\trace.log";
    ASSERT_EQ(Lib().Start(path.c_str(), 0), 1);
    EXPECT_EQ(Lib().Write(0, "before", 0), 1);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));

    int during = Lib().Write(0, "during", 0);
    std::printf("[read-only] a write to the read-only log returned %d\n", during);
    EXPECT_EQ(Lib().Start(path.c_str(), 0), 0) << "a read-only target is refused";
    EXPECT_EQ(Lib().SetFileName(path.c_str()), 0);
    char name[MAX_PATH] = "x";
    EXPECT_EQ(Lib().GetFileName(name, sizeof(name)), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(Lib().Write(0, "without a file", 0), 0);

    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(Lib().SetFileName(path.c_str()), 1);
    EXPECT_EQ(Lib().Write(0, "after", 0), 1);
    EXPECT_EQ(Lib().Stop(), 1);
    EXPECT_EQ(Lib().ActiveCount(), 0) << "the refused nested start owes no stop";

    std::vector<std::string> expected = {"INF: started thread", "INF: before"};
    if (during == 1)
        expected.push_back("INF: during");
    expected.push_back("INF: after");
    expected.push_back("INF: stopped thread");
    EXPECT_EQ(LoggedMessages(path), expected);
}

namespace {

volatile LONG g_getterCalls;
volatile LONG g_setterCalls;
volatile LONG g_lastSet;
int g_getterCode;

int WINAPI CountingGetter()
{
    InterlockedIncrement(&g_getterCalls);
    return g_getterCode;
}

void WINAPI CountingSetter(int code)
{
    InterlockedIncrement(&g_setterCalls);
    InterlockedExchange(&g_lastSet, code);
}

}  // namespace

// The DLL is unloaded while a thread trace and a process trace are live
// and a socket layer's handlers are installed, then loaded again: it starts
// from nothing. Only the two abandoned traces' stop lines are missing.
TEST_F(Faults, UnloadWithLiveTracesAndLoadAgain)
{
    std::string path = MakeScratchDirectory("unload") + "\\trace.log";
    TRACE_ERROR_HANDLERS handlers = {CountingGetter, CountingSetter};
    ASSERT_EQ(Lib().SetErrorHandlers(&handlers), 1);
    ASSERT_EQ(Lib().Start(path.c_str(), 0), 1);
    EXPECT_EQ(Lib().Write(0, "thread line", 0), 1);
    ASSERT_EQ(Lib().Start(path.c_str(), TRACE_PROCESS), 1);
    EXPECT_EQ(Lib().Write(0, "process line", 0), 1);
    g_getterCode = 10054;
    Lib().Listen(-1, 1, 5);  // leaves 10054 saved for this thread
    EXPECT_EQ(Lib().ActiveCount(), 2);

    g_lib.Unload();
    EXPECT_EQ(GetModuleHandleA(DLL_NAME), nullptr) << "the DLL must really go";
    ASSERT_NE(Lib().module, nullptr);

    EXPECT_EQ(Lib().ActiveCount(), 0);
    EXPECT_EQ(Lib().GetFlags(), 0u);
    char name[MAX_PATH] = "x";
    EXPECT_EQ(Lib().GetFileName(name, sizeof(name)), 0);
    EXPECT_EQ(Lib().Write(0, "nobody's", 0), 0);
    EXPECT_EQ(Lib().Stop(), 0);
    g_getterCalls = g_setterCalls = 0;
    ASSERT_EQ(Lib().Start(path.c_str(), 0), 1);
    Lib().Listen(-1, 3, 5);
    EXPECT_EQ(g_getterCalls, 0) << "the handlers went with the old instance, and its saved codes";
    EXPECT_EQ(g_setterCalls, 0);
    EXPECT_EQ(Lib().Stop(), 1);
    EXPECT_EQ(Lib().ActiveCount(), 0);

    std::vector<std::string> expected = {
        "INF: started thread", "INF: thread line", "INF: started process", "INF: process line",
        "ERR: listen(1, 5) returned -1 [10054]", "INF: started thread", "ERR: listen(3, 5) returned -1 [0]", "INF: stopped thread"};
    EXPECT_EQ(LoggedMessages(path), expected);
}

namespace {

struct NoHandlerRun {
    TraceDll *lib;
    std::string path;
};

DWORD WINAPI FailOnFreshThread(void *context)
{
    NoHandlerRun *run = (NoHandlerRun *)context;
    run->lib->Start(run->path.c_str(), 0);
    run->lib->Connect(-1, 9, nullptr, 0);
    run->lib->Stop();
    return 0;
}

}  // namespace

// The socket layer installs no getter, no setter, or neither. No line is
// lost: without a getter a failed call's line carries the last code saved
// on its own thread (0 on a thread that never saved one); without a setter
// the caller's code is simply left alone.
TEST_F(Faults, ErrorHandlersMissing)
{
    std::string path = MakeScratchDirectory("no_handlers") + "\\trace.log";
    struct Case {
        const char *what;
        bool getter;
        bool setter;
        int getterCode;
        const char *line;
        int setTo;  // code handed to the setter, -1 when it must not be called
    } cases[] = {
        {"both", true, true, 10054, "ERR: connect(1, 0x0 [NULL], 0) returned -1 [10054]", 10054},
        {"neither", false, false, 10061, "ERR: connect(1, 0x0 [NULL], 0) returned -1 [10054]", -1},
        {"getter only", true, false, 11001, "WRN: connect(1, 0x0 [NULL], 0) returned -1 [11001]",
         -1},
        {"setter only", false, true, 10022, "WRN: connect(1, 0x0 [NULL], 0) returned -1 [11001]",
         11001},
    };
    ASSERT_EQ(Lib().Start(path.c_str(), 0), 1);
    std::vector<std::string> expected = {"INF: started thread"};
    for (const Case &c : cases) {
        TRACE_ERROR_HANDLERS handlers = {c.getter ? CountingGetter : nullptr,
                                         c.setter ? CountingSetter : nullptr};
        ASSERT_EQ(Lib().SetErrorHandlers(&handlers), 1);
        g_getterCalls = g_setterCalls = 0;
        g_lastSet = -1;
        g_getterCode = c.getterCode;
        Lib().Connect(-1, 1, nullptr, 0);
        EXPECT_EQ(g_getterCalls, c.getter ? 1 : 0) << c.what;
        EXPECT_EQ(g_setterCalls, c.setter ? 1 : 0) << c.what;
        EXPECT_EQ(g_lastSet, c.setTo) << c.what;
        expected.push_back(c.line);
    }
    TRACE_ERROR_HANDLERS none = {nullptr, nullptr};
    ASSERT_EQ(Lib().SetErrorHandlers(&none), 1);
    NoHandlerRun run = {&Lib(), path};
    EXPECT_EQ(Lib().Stop(), 1);
    HANDLE thread = CreateThread(nullptr, 0, FailOnFreshThread, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 60000);
    CloseHandle(thread);

    expected.push_back("INF: stopped thread");
    expected.push_back("INF: started thread");
    expected.push_back("ERR: connect(9, 0x0 [NULL], 0) returned -1 [0]");
    expected.push_back("INF: stopped thread");
    EXPECT_EQ(LoggedMessages(path), expected);
}
