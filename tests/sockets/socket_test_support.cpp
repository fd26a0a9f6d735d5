#include "socket_test_support.h"

#include <cstdio>
#include <ostream>

namespace
{

std::string g_watchedLog;

size_t WatchedLines()
{
    return g_watchedLog.empty() ? 0 : ReadLogLines(g_watchedLog).size();
}

} // namespace

void PrintTo(const HandlerEvent &event, std::ostream *os)
{
    *os << event.kind << "(" << event.value << ", lines " << event.logLines << ")";
}

FakeSocketLayer &ThisThreadLayer()
{
    // The test program may keep per-thread state this way; the library may not.
    thread_local FakeSocketLayer layer;
    return layer;
}

int WINAPI FakeGetLastError()
{
    FakeSocketLayer &layer = ThisThreadLayer();
    layer.events.push_back({'G', layer.code, WatchedLines()});
    return layer.code;
}

void WINAPI FakeSetLastError(int error)
{
    FakeSocketLayer &layer = ThisThreadLayer();
    layer.events.push_back({'S', error, WatchedLines()});
    layer.code = error;
}

void InstallHandlers(bool getter, bool setter)
{
    TRACE_ERROR_HANDLERS handlers = {getter ? FakeGetLastError : nullptr,
                                     setter ? FakeSetLastError : nullptr};
    EXPECT_EQ(Dll().SetErrorHandlers(&handlers), 1);
}

void RemoveHandlers()
{
    InstallHandlers(false, false);
}

void WatchLog(const std::string &path)
{
    g_watchedLog = path;
}

std::string Hex(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%lx", value);
    return text;
}

std::string Hex(const void *pointer)
{
    return Hex((unsigned long)(UINT_PTR)pointer);
}

std::string ModuleNameOf(const std::string &path)
{
    std::vector<std::string> lines = ReadLogLines(path);
    return lines.empty() ? "" : lines[0].substr(0, lines[0].find(' '));
}

std::string DumpLine(const std::string &moduleName, unsigned offset, const std::string &bytes)
{
    char head[16];
    std::snprintf(head, sizeof(head), "%04X  ", offset);
    std::string hex;
    std::string text;
    for (size_t i = 0; i < 16; i++) {
        if (i >= bytes.size()) {
            hex += "   ";
            continue;
        }
        unsigned char byte = (unsigned char)bytes[i];
        char digits[4];
        std::snprintf(digits, sizeof(digits), "%02X%c", byte, i == 7 ? ':' : ' ');
        hex += digits;
        text += byte >= 0x20 && byte <= 0x7E ? (char)byte : '.';
    }
    return std::string(moduleName.size() + 1, ' ') + head + hex + " " + text;
}

void SocketTraceTest::SetUp()
{
    ASSERT_NE(Dll().module, nullptr);
    ASSERT_EQ(Dll().ActiveCount(), 0) << "a previous test left a trace behind";
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    path = MakeScratchDirectory(name) + "\\calls.log";
    ThisThreadLayer() = FakeSocketLayer();
    InstallHandlers();
}

void SocketTraceTest::TearDown()
{
    WatchLog("");
    if (started)
        StopTrace();
    RemoveHandlers();
    EXPECT_EQ(Dll().ActiveCount(), 0);
}

void SocketTraceTest::StartTrace(DWORD flags)
{
    ASSERT_EQ(Dll().Start(path.c_str(), flags), 1);
    started = true;
}

void SocketTraceTest::StopTrace()
{
    EXPECT_EQ(Dll().Stop(), 1);
    started = false;
}

std::vector<std::string> SocketTraceTest::LinesSince(size_t from) const
{
    std::vector<std::string> lines = ReadLogLines(path);
    if (from >= lines.size())
        return {};
    return std::vector<std::string>(lines.begin() + from, lines.end());
}
