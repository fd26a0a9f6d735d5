// The error bracket around every traced call: the getter once before the
// line is written, the setter afterwards with the getter's value, on the
// calling thread, and the codes saved per thread when no getter is there.
#include <thread>

#include "socket_test_support.h"

namespace
{

using ErrorBracket = SocketTraceTest;

const unsigned char kInet4Name[16] = {2, 0, 0, 80, 10, 0, 0, 1};

void FailedConnect()
{
    Dll().Connect(-1, 316, kInet4Name, 16);
}

std::string FailedConnectLine(int code)
{
    return "connect(316, " + Hex(kInet4Name) + " [10.0.0.1]:80, 16) returned -1 [" +
           std::to_string(code) + "]";
}

// Runs fn on a new thread, which starts with no trace of its own and a
// socket layer of its own, and waits for it.
template <typename Fn> void OnNewThread(Fn fn)
{
    std::thread thread(fn);
    thread.join();
}

TEST_F(ErrorBracket, GetterBeforeTheLineSetterAfterTheDump)
{
    StartTrace();
    WatchLog(path);
    FakeSocketLayer &layer = ThisThreadLayer();
    size_t before = LineCount();

    layer.code = 10061;
    FailedConnect();
    std::vector<HandlerEvent> connectBracket = {{'G', 10061, before}, {'S', 10061, before + 1}};
    EXPECT_EQ(layer.events, connectBracket);

    // A send that moved 20 bytes: the call line and two dump lines are out
    // before the setter runs.
    layer.events.clear();
    layer.code = 10035;
    Dll().Send(20, 316, "twenty bytes of data", 20, 0);
    std::vector<HandlerEvent> sendBracket = {{'G', 10035, before + 1}, {'S', 10035, before + 4}};
    EXPECT_EQ(layer.events, sendBracket);
}

// A thread with no trace of its own still gets its code read and handed
// back while some other thread's trace is live, and writes nothing.
TEST_F(ErrorBracket, ThreadWithoutTraceIsBracketedWhileAnotherTraces)
{
    StartTrace();
    size_t before = LineCount();
    std::vector<HandlerEvent> events;
    DWORD win32Error = 0;
    OnNewThread([&] {
        ThisThreadLayer().code = 10054;
        SetLastError(0x1111);
        FailedConnect();
        Dll().Send(5, 316, "hello", 5, 0);
        win32Error = GetLastError();
        events = ThisThreadLayer().events;
    });
    std::vector<HandlerEvent> expected = {
        {'G', 10054, 0}, {'S', 10054, 0}, {'G', 10054, 0}, {'S', 10054, 0}};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(win32Error, 0x1111u);
    EXPECT_EQ(LineCount(), before);
}

// A socket layer whose codes are the thread's Win32 codes, as the real one
// is: the code is read before the library touches anything, and both codes
// survive the call.
int WINAPI Win32GetLastError()
{
    return (int)GetLastError();
}

void WINAPI Win32SetLastError(int error)
{
    SetLastError((DWORD)error);
}

TEST_F(ErrorBracket, CodesSharedWithWin32SurviveTheCall)
{
    TRACE_ERROR_HANDLERS handlers = {Win32GetLastError, Win32SetLastError};
    ASSERT_EQ(Dll().SetErrorHandlers(&handlers), 1);
    StartTrace();
    const int codes[] = {10061, 10035, 11004};
    for (int code : codes) {
        SCOPED_TRACE(code);
        size_t before = LineCount();
        SetLastError((DWORD)code);
        FailedConnect();
        EXPECT_EQ(GetLastError(), (DWORD)code);
        std::vector<std::string> lines = LinesSince(before);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LineFromLevel(lines[0]),
                  (code == 10061 ? "ERR: " : "WRN: ") + FailedConnectLine(code));
    }
}

TEST_F(ErrorBracket, NullHandlersPointerIsRefusedAndChangesNothing)
{
    EXPECT_EQ(Dll().SetErrorHandlers(nullptr), 0);
    StartTrace();
    ThisThreadLayer().code = 10048;
    FailedConnect();
    std::vector<HandlerEvent> expected = {{'G', 10048, 0}, {'S', 10048, 0}};
    EXPECT_EQ(ThisThreadLayer().events, expected);
}

// Without a getter a failed call's line carries the last code saved on the
// calling thread: 0 on a thread that never saved one, never another
// thread's. A lone setter receives that code.
TEST_F(ErrorBracket, WithoutGetterTheThreadsLastSavedCodeIsUsed)
{
    StartTrace(TRACE_PROCESS);
    std::vector<std::string> lines;
    std::vector<HandlerEvent> setterOnly;
    size_t before = LineCount();
    OnNewThread([&] {
        RemoveHandlers();
        FailedConnect(); // nothing saved yet: 0
        InstallHandlers(true, false);
        ThisThreadLayer().code = 10054;
        FailedConnect(); // saves 10054
        RemoveHandlers();
        FailedConnect(); // still 10054
        Dll().Connect(0, 316, kInet4Name, 16);
        InstallHandlers(false, true);
        ThisThreadLayer().events.clear();
        FailedConnect();
        setterOnly = ThisThreadLayer().events;
        RemoveHandlers();
    });
    OnNewThread([&] { FailedConnect(); }); // another thread: its own 0
    for (const std::string &line : LinesSince(before))
        lines.push_back(LineFromLevel(line));
    std::vector<std::string> expected = {
        "ERR: " + FailedConnectLine(0),
        "ERR: " + FailedConnectLine(10054),
        "ERR: " + FailedConnectLine(10054),
        "INF: connect(316, " + Hex(kInet4Name) + " [10.0.0.1]:80, 16) returned 0",
        "ERR: " + FailedConnectLine(10054),
        "ERR: " + FailedConnectLine(0),
    };
    EXPECT_EQ(lines, expected);
    std::vector<HandlerEvent> setterExpected = {{'S', 10054, 0}};
    EXPECT_EQ(setterOnly, setterExpected);
}

} // namespace
