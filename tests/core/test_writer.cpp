// What the writer puts into the file: the level filter, the layout of text
// and dump lines, the length limit of a line and the elapsed column.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>

#include "core_support.h"

namespace {

// The socket error code that the installed getter hands to the library.
int g_socketError = 0;

int WINAPI GetSocketError()
{
    return g_socketError;
}

class Writer : public TraceFixture {
protected:
    void SetUp() override
    {
        TraceFixture::SetUp();
        TRACE_ERROR_HANDLERS handlers = {GetSocketError, nullptr};
        ASSERT_EQ(Dll().SetErrorHandlers(&handlers), 1);
        indent = std::string(HostProgramName().size() + 1, ' ');
    }

    void TearDown() override
    {
        TRACE_ERROR_HANDLERS none = {nullptr, nullptr};
        Dll().SetErrorHandlers(&none);
        TraceFixture::TearDown();
    }

    // A connect that the tracer reports with the given result, the getter
    // then giving error.
    static void Connect(int result, INT_PTR s, int error)
    {
        g_socketError = error;
        Dll().Connect(result, s, nullptr, 16);
    }

    std::string indent;
};

struct FilterRow {
    DWORD flags;
    // Level of each call line, nullptr when dropped.
    const char *succeeded;
    const char *warning;
    const char *failed;
    bool textLines;  // start and stop lines, and text of kind 0
    int dumpResult;
    bool dumpWritten;
};

const FilterRow FILTER_ROWS[] = {
    {0x4, "INF", "WRN", "ERR", true, 1, true},
    {0x10, "INF", "WRN", "ERR", true, 0, false},
    {0x1, nullptr, nullptr, "ERR", false, 0, false},
    {0x2, nullptr, "WRN", "ERR", false, 0, false},
    {0x3, nullptr, "WRN", "ERR", false, 0, false},
    {0x5, nullptr, nullptr, "ERR", false, 1, true},
    {0x6, nullptr, "WRN", "ERR", false, 1, true},
    {0x7, nullptr, "WRN", "ERR", false, 1, true},
    {0x80000001, "INF", "WRN", "ERR", false, 0, false},
    {TRACE_SUSPEND | 0x4, nullptr, nullptr, nullptr, false, 1, false},
    {TRACE_SUSPEND | 0x10, nullptr, nullptr, nullptr, false, 0, false},
    {TRACE_SUSPEND | 0x1, nullptr, nullptr, nullptr, false, 0, false},
    {TRACE_SUSPEND | 0x6, nullptr, nullptr, nullptr, false, 1, false},
};

TEST_F(Writer, FilterLetsThroughWhatTheFlagsAskFor)
{
    for (const FilterRow &row : FILTER_ROWS) {
        char label[32];
        std::snprintf(label, sizeof(label), "flags 0x%lX", (unsigned long)row.flags);
        SCOPED_TRACE(label);
        bool suspended = (row.flags & TRACE_SUSPEND) != 0;
        std::string log = dir + "\\" + label + ".log";

        ASSERT_EQ(Dll().Start(log.c_str(), row.flags), 1);
        Connect(0, 1, 0);
        Connect(-1, 2, 10035);
        Connect(-1, 3, 10054);
        EXPECT_EQ(Dll().Write(0, "own text", 0), row.textLines || suspended ? 1 : 0);
        EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, "abc", 3), row.dumpResult);
        EXPECT_EQ(Dll().Stop(), 1);

        std::vector<std::string> expected;
        if (row.textLines)
            expected.push_back("INF: started");
        if (row.succeeded)
            expected.push_back(std::string(row.succeeded) + ": connect(1, 0x0 [NULL], 16) returned 0");
        if (row.warning)
            expected.push_back(std::string(row.warning) +
                               ": connect(2, 0x0 [NULL], 16) returned -1 [10035]");
        if (row.failed)
            expected.push_back(std::string(row.failed) +
                               ": connect(3, 0x0 [NULL], 16) returned -1 [10054]");
        if (row.textLines)
            expected.push_back("INF: own text");
        if (row.dumpWritten)
            expected.push_back("dump 0000 abc");
        if (row.textLines)
            expected.push_back("INF: stopped");

        std::vector<std::string> found;
        for (const std::string &line : ReadLogLines(log)) {
            TextLine text;
            unsigned long offset = 0;
            std::string bytes;
            if (ParseTextLine(line, &text)) {
                std::string shown = text.level + ": " + text.message;
                if (shown.compare(0, 12, "INF: started") == 0 || shown.compare(0, 12, "INF: stopped") == 0)
                    shown = shown.substr(0, 12);
                found.push_back(shown);
            } else if (ParseDumpLine(line, indent.size(), &offset, &bytes)) {
                found.push_back("dump " + KeyText(offset) + " " + bytes);
            } else {
                found.push_back("malformed: " + line);
            }
        }
        EXPECT_EQ(found, expected);
        if (suspended) {
            EXPECT_FALSE(FileExists(log));
        }
    }
}

TEST_F(Writer, FailedCallsAreWarningsOnlyForWouldBlockAndNameResolutionCodes)
{
    struct CodeCase {
        int code;
        const char *level;
    };
    const CodeCase cases[] = {
        {10054, "ERR"}, {10035, "WRN"}, {11001, "WRN"}, {11000, "ERR"},
        {-1, "ERR"},    {-11002, "ERR"}, {0, "ERR"},     {0x7FFFFFFF, "WRN"},
    };
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    for (const CodeCase &c : cases)
        Connect(-1, 316, c.code);
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 2 + sizeof(cases) / sizeof(cases[0]));
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        EXPECT_EQ(LineFromLevel(lines[i + 1]), std::string(cases[i].level) +
                                                   ": connect(316, 0x0 [NULL], 16) returned -1 [" +
                                                   std::to_string(cases[i].code) + "]");
    }
}

// The start and stop lines' date and time, as a moment to compare.
ULONGLONG Moment(int month, int day, int year, int hour, int minute, int second)
{
    SYSTEMTIME time = {};
    time.wYear = (WORD)year;
    time.wMonth = (WORD)month;
    time.wDay = (WORD)day;
    time.wHour = (WORD)hour;
    time.wMinute = (WORD)minute;
    time.wSecond = (WORD)second;
    FILETIME file = {};
    if (!SystemTimeToFileTime(&time, &file))
        return 0;
    return ((ULONGLONG)file.dwHighDateTime << 32) | file.dwLowDateTime;
}

ULONGLONG Now(bool roundUp)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Moment(now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute,
                  now.wSecond + (roundUp ? 1 : 0));
}

ULONGLONG MomentOf(const std::smatch &match, size_t first)
{
    return Moment(std::stoi(match[first]), std::stoi(match[first + 1]), std::stoi(match[first + 2]),
                  std::stoi(match[first + 3]), std::stoi(match[first + 4]),
                  std::stoi(match[first + 5]));
}

TEST_F(Writer, TextLinesLookLikeTheExamples)
{
    ULONGLONG before = Now(false);
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    Dll().Socket(316, 2, 1, 6);
    g_socketError = 10022;
    Dll().Listen(-1, 316, 5);
    EXPECT_EQ(Dll().Stop(), 1);
    ULONGLONG after = Now(true);

    std::string bytes = ReadFileBytes(path);
    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 4u);
    // Every line ends in CR LF and there is no other line end.
    size_t crlf = 0;
    for (size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos; at += 2)
        crlf++;
    EXPECT_EQ(crlf, 4u);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 4);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

    std::string head = HostProgramName() + " " + KeyText(GetCurrentThreadId()) + " ";
    std::vector<TextLine> text(lines.size());
    for (size_t i = 0; i < lines.size(); i++) {
        ASSERT_TRUE(ParseTextLine(lines[i], &text[i])) << lines[i];
        EXPECT_EQ(lines[i].substr(0, head.size()), head);
    }
    EXPECT_EQ(lines[1], head + text[1].elapsedText + " INF: socket(2, 1, 6) returned 316");
    EXPECT_EQ(lines[2], head + text[2].elapsedText + " ERR: listen(316, 5) returned -1 [10022]");

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    char windows[64];
    std::snprintf(windows, sizeof(windows), "Windows x86-%lu\\.%lu\\.%lu", version.dwMajorVersion,
                  version.dwMinorVersion, version.dwBuildNumber);
    std::string key = KeyText(GetCurrentThreadId());
    const std::string timestamp = "(\\d\\d)-(\\d\\d)-(\\d{4}) (\\d\\d):(\\d\\d):(\\d\\d)";
    std::regex started("started thread 0x" + key + " trace on " + timestamp + " " + windows +
                       " \\[9\\.5\\.9530\\.3421\\]");
    std::regex stopped("stopped thread 0x" + key + " trace on " + timestamp);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text[0].message, match, started)) << text[0].message;
    ULONGLONG startedAt = MomentOf(match, 1);
    ASSERT_TRUE(std::regex_match(text[3].message, match, stopped)) << text[3].message;
    ULONGLONG stoppedAt = MomentOf(match, 1);
    // Month first, then day: the moments must fall within the test's run.
    EXPECT_GE(startedAt, before);
    EXPECT_LE(startedAt, stoppedAt);
    EXPECT_LE(stoppedAt, after);
}

TEST_F(Writer, TextIsWrittenAsGivenWithLineFeedsAsCarriageReturnLineFeed)
{
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_ERRORS | 0x100), 1);  // no start line
    EXPECT_EQ(Dll().Write(0x100, "a\0b", 3), 1);
    EXPECT_EQ(Dll().Write(0x100, "cut\0here", 0), 1);
    EXPECT_EQ(Dll().Write(0x100, "one\ntwo\n", 0), 1);
    EXPECT_EQ(Dll().Write(0x100, "cr\r\nlf", 0), 1);
    EXPECT_EQ(Dll().Stop(), 1);

    std::string bytes = ReadFileBytes(path);
    std::vector<std::string> expected = {std::string("a\0b", 3), "cut", "one\r\ntwo\r\n", "cr\r\r\nlf"};
    size_t at = 0;
    for (const std::string &message : expected) {
        std::string head = " INF: ";
        at = bytes.find(head, at);
        ASSERT_NE(at, std::string::npos);
        at += head.size();
        EXPECT_EQ(bytes.substr(at, message.size() + 2), message + "\r\n");
        at += message.size() + 2;
    }
    EXPECT_EQ(at, bytes.size());
}

struct DumpCase {
    std::string data;
    std::vector<std::string> lines;  // without the indent
};

TEST_F(Writer, DumpLinesLookLikeTheExamples)
{
    const std::string blank(3, ' ');
    auto fillers = [&](int count) {
        std::string text;
        for (int i = 0; i < count; i++)
            text += blank;
        return text;
    };
    const DumpCase cases[] = {
        {"USER anonymous\r\n",
         {"0000  55 53 45 52 20 61 6E 6F:6E 79 6D 6F 75 73 0D 0A  USER anonymous.."}},
        {"abc", {"0000  61 62 63 " + fillers(13) + " abc"}},
        {"ABCDEFGH", {"0000  41 42 43 44 45 46 47 48:" + fillers(8) + " ABCDEFGH"}},
        {"0123456789abcdefZ",
         {"0000  30 31 32 33 34 35 36 37:38 39 61 62 63 64 65 66  0123456789abcdef",
          "0010  5A " + fillers(15) + " Z"}},
        {std::string("\x00\x1F\x20\x7E\x7F\x80\xFF", 7),
         {"0000  00 1F 20 7E 7F 80 FF " + fillers(9) + " .. ~..."}},
    };
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_HEXDUMP | 0x1), 1);  // dumps only
    std::vector<std::string> expected;
    for (const DumpCase &c : cases) {
        EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, c.data.data(), (DWORD)c.data.size()), 1);
        for (const std::string &line : c.lines)
            expected.push_back(indent + line);
    }
    EXPECT_EQ(Dll().Stop(), 1);
    std::string bytes;
    for (const std::string &line : expected)
        bytes += line + "\r\n";
    EXPECT_EQ(ReadFileBytes(path), bytes);
}

TEST_F(Writer, ControlAndHighBytesShowAsDots)
{
    std::string data;
    for (int byte = 0x00; byte <= 0x1F; byte++)
        data += (char)byte;
    for (int byte = 0x7F; byte <= 0xFF; byte++)
        data += (char)byte;
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_HEXDUMP | 0x1), 1);
    EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, data.data(), (DWORD)data.size()), 1);
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), (data.size() + 15) / 16);
    std::string dumped;
    for (size_t i = 0; i < lines.size(); i++) {
        unsigned long offset = 0;
        std::string bytes;
        ASSERT_TRUE(ParseDumpLine(lines[i], indent.size(), &offset, &bytes)) << lines[i];
        EXPECT_EQ(offset, i * 16);
        EXPECT_EQ(lines[i].substr(lines[i].size() - bytes.size()), std::string(bytes.size(), '.'));
        dumped += bytes;
    }
    EXPECT_EQ(dumped, data);
}

TEST_F(Writer, LongDumpOffsetsGrowPastFourDigits)
{
    std::string data(0x10010, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)('a' + i % 26);
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_HEXDUMP | 0x1), 1);
    EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, data.data(), (DWORD)data.size()), 1);
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 0x1001u);
    // 0x10000 % 26 == 16: the last line starts at "q".
    EXPECT_EQ(lines[0xFFF].substr(0, indent.size() + 6), indent + "FFF0  ");
    EXPECT_EQ(lines[0x1000],
              indent + "10000  " + "71 72 73 74 75 76 77 78:79 7A 61 62 63 64 65 66  qrstuvwxyzabcdef");
    std::string dumped;
    for (const std::string &line : lines) {
        std::string bytes;
        ASSERT_TRUE(ParseDumpLine(line, indent.size(), nullptr, &bytes)) << line;
        dumped += bytes;
    }
    EXPECT_EQ(dumped, data);
}

TEST_F(Writer, EmptyDumpWritesNothingButCreatesTheFile)
{
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    std::string empty = dir + "\\empty.log";
    ASSERT_EQ(Dll().SetFileName(empty.c_str()), 1);
    EXPECT_FALSE(FileExists(empty));
    EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, "abc", 0), 1);
    EXPECT_TRUE(FileExists(empty));
    EXPECT_EQ(ReadFileBytes(empty), "");
    EXPECT_EQ(Dll().Stop(), 1);
}

// The call line of getaddrinfo as the library formats it, its node name
// being the only part of variable length.
std::string AddrInfoLine(const char *node)
{
    char line[2048];
    std::snprintf(line, sizeof(line), "getaddrinfo(0x%lx [%s], 0x0 [], 0x0, 0x0) returned 0",
                  (unsigned long)(uintptr_t)node, node);
    return line;
}

TEST_F(Writer, CallLineOf1024CharactersIsDropped)
{
    std::vector<char> node(1100, 'n');
    node[0] = '\0';
    size_t fixed = AddrInfoLine(node.data()).size();
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    std::vector<std::string> written;
    for (size_t length : {1022u, 1023u, 1024u, 1025u}) {
        std::fill(node.begin(), node.end(), 'n');
        node[length - fixed] = '\0';
        std::string line = AddrInfoLine(node.data());
        ASSERT_EQ(line.size(), length);
        Dll().GetAddrInfo(0, node.data(), nullptr, nullptr, nullptr);
        if (length < 1024)
            written.push_back("INF: " + line);
    }
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 2 + written.size());
    for (size_t i = 0; i < written.size(); i++)
        EXPECT_EQ(LineFromLevel(lines[i + 1]), written[i]);
}

TEST_F(Writer, ElapsedColumnCountsFromTheLastTextLine)
{
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    EXPECT_EQ(Dll().Write(0, "at once", 0), 1);
    Sleep(1200);
    EXPECT_EQ(Dll().Write(0, "later", 0), 1);
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 4u);
    TextLine started, atOnce, later;
    ASSERT_TRUE(ParseTextLine(lines[0], &started));
    ASSERT_TRUE(ParseTextLine(lines[1], &atOnce));
    ASSERT_TRUE(ParseTextLine(lines[2], &later));
    EXPECT_EQ(started.elapsedText.size(), 4u);
    // A few milliseconds at most; generous for a loaded machine.
    EXPECT_LT(started.elapsed, 500);
    EXPECT_LT(atOnce.elapsed, 500);
    EXPECT_GE(later.elapsed, 1200);
    EXPECT_LT(later.elapsed, 5000);
}

TEST_F(Writer, DroppedLinesAndDumpsDoNotMoveTheClock)
{
    // Only failed calls and dumps pass; nothing is written at the start.
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_ERRORS | TRACE_HEXDUMP), 1);
    Sleep(500);
    EXPECT_EQ(Dll().Write(0, "dropped", 0), 0);
    Connect(-1, 1, 10035);  // a warning, dropped
    EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, "abc", 3), 1);
    Sleep(500);
    Connect(-1, 2, 10054);
    EXPECT_EQ(Dll().Stop(), 1);

    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 2u);
    TextLine failed;
    ASSERT_TRUE(ParseTextLine(lines[1], &failed)) << lines[1];
    EXPECT_EQ(failed.message, "connect(2, 0x0 [NULL], 16) returned -1 [10054]");
    EXPECT_GE(failed.elapsed, 1000);
}

}  // namespace
