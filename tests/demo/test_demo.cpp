// trace_demo run for real under Wine: its log must show all 24 tracers,
// levels that match what really happened to each call, and the exact bytes
// of its conversation.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "log_reader.h"

namespace {

const DWORD DEMO_TIME_LIMIT_MS = 60000;

bool StartsWith(const std::string &text, const std::string &start)
{
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof(path));
    std::string text(path, length);
    return text.substr(0, text.find_last_of('\\'));
}

// Runs trace_demo.exe (beside this program) with its output in outputPath;
// returns its exit code, or -1 when it could not run or took too long.
int RunDemo(const std::string &arguments, const std::string &outputPath)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (output == INVALID_HANDLE_VALUE)
        return -1;
    std::string program = ProgramFolder() + "\\trace_demo.exe";
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process;
    BOOL created = CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL,
                                  NULL, &startup, &process);
    CloseHandle(output);
    if (!created)
        return -1;
    DWORD exitCode = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, DEMO_TIME_LIMIT_MS) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)exitCode;
}

// One call line of the log, with the bytes of the dump lines under it.
struct CallLine {
    std::string key;
    std::string level;   // "INF", "WRN" or "ERR"
    std::string name;    // the traced function
    std::string text;    // from the level on
    long long result;
    bool hasCode;
    int code;
    std::string dumped;
};

struct DemoLog {
    std::vector<std::string> textLines;  // every line that is not a dump line
    std::vector<CallLine> calls;
    std::vector<std::string> dumps;      // the bytes of each dump, in order
    bool dumpsWellFormed = true;         // every dump line's two columns agree
};

// The bytes of one dump line: "OFFS  " then 16 columns of "XX " (":" after
// the 8th), then a space and the characters. An empty result on a bad line.
bool ReadDumpLine(const std::string &line, size_t indent, std::string *bytes)
{
    const size_t hexStart = indent + 6, charStart = hexStart + 48 + 1;
    if (line.size() <= charStart)
        return false;
    size_t count = line.size() - charStart;
    if (count > 16)
        return false;
    for (size_t i = 0; i < count; i++) {
        std::string hex = line.substr(hexStart + 3 * i, 2);
        char separator = line[hexStart + 3 * i + 2];
        if (separator != (i == 7 ? ':' : ' '))
            return false;
        unsigned char byte = (unsigned char)std::strtoul(hex.c_str(), NULL, 16);
        char shown = line[charStart + i];
        if (shown != ((byte >= 0x20 && byte <= 0x7E) ? (char)byte : '.'))
            return false;
        bytes->push_back((char)byte);
    }
    // Fillers for the missing bytes and the separating space.
    return line.substr(hexStart + 3 * count, charStart - hexStart - 3 * count) ==
           std::string(charStart - hexStart - 3 * count, ' ');
}

bool ParseCallLine(const std::string &line, CallLine *call)
{
    std::string text = LineFromLevel(line);
    size_t open = text.find('(');
    size_t returned = text.rfind(") returned ");
    if (text.size() < 5 || open == std::string::npos || returned == std::string::npos)
        return false;
    size_t keyStart = line.find(' ') + 1;
    call->key = line.substr(keyStart, line.find(' ', keyStart) - keyStart);
    call->level = text.substr(0, 3);
    call->name = text.substr(5, open - 5);
    call->text = text;
    std::string tail = text.substr(returned + 11);
    char *end = NULL;
    call->result = std::strtoll(tail.c_str(), &end, 10);
    call->hasCode = *end == ' ';
    call->code = call->hasCode ? std::atoi(end + 2) : 0;
    return true;
}

DemoLog ReadDemoLog(const std::string &path)
{
    const std::string program = "TRACE_DEMO";
    DemoLog log;
    for (const std::string &line : ReadLogLines(path)) {
        if (StartsWith(line, " ")) {
            // A dump goes out in one piece and starts at offset 0000. With
            // one thread it follows its call line; in a process trace
            // another thread's line may come in between.
            std::string bytes;
            if (!ReadDumpLine(line, program.size() + 1, &bytes))
                log.dumpsWellFormed = false;
            if (line.compare(program.size() + 1, 6, "0000  ") == 0 || log.dumps.empty())
                log.dumps.push_back("");
            log.dumps.back() += bytes;
            if (!log.calls.empty())
                log.calls.back().dumped += bytes;
            continue;
        }
        log.textLines.push_back(line);
        CallLine call;
        if (StartsWith(line, program + " ") &&
            LineFromLevel(line).find(" returned ") != std::string::npos &&
            ParseCallLine(line, &call))
            log.calls.push_back(call);
    }
    return log;
}

const char *const ALL_TRACERS[] = {
    "accept", "bind", "closesocket", "connect", "getaddrinfo", "gethostname",
    "getnameinfo", "getpeername", "getsockname", "getsockopt", "ioctlsocket", "listen",
    "recv", "recvfrom", "select", "send", "sendto", "setsockopt",
    "shutdown", "socket", "WSAAccept", "WSAAsyncSelect", "WSAEnumNetworkEvents", "WSAEventSelect"};

bool CallFailed(const CallLine &call)
{
    bool zeroMeansSuccess = call.name == "getaddrinfo" || call.name == "gethostname" ||
                            call.name == "getnameinfo";
    return zeroMeansSuccess ? call.result != 0 : call.result == -1;
}

// The level the writer must give this call: INF for success, WRN for a
// failure with 10035 or a code above 11000, ERR for any other failure.
std::string ExpectedLevel(const CallLine &call)
{
    if (!CallFailed(call))
        return "INF";
    return (call.code == 10035 || call.code > 11000) ? "WRN" : "ERR";
}

bool Transfers(const CallLine &call)
{
    return call.name == "send" || call.name == "recv" || call.name == "sendto" ||
           call.name == "recvfrom";
}

// What one round of the conversation sends, in order; every message is
// received whole right after it was sent.
const char *const ROUND_MESSAGES[] = {
    "HELLO trace_demo\r\n", "+OK welcome trace_demo\r\n", "ECHO Kestrelnode9\r\n",
    "+OK Kestrelnode9\r\n",  "QUIT\r\n",                  "+OK bye\r\n",
    "PING tcp\r\n",          "PONG tcp\r\n",              "PING udp\r\n",
    "PONG udp\r\n"};

class DemoRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = MakeScratchDirectory("demo");
        logPath = directory + "\\demo.log";
        outputPath = directory + "\\output.txt";
    }

    DemoLog Run(const std::string &options)
    {
        EXPECT_EQ(RunDemo("--log \"" + logPath + "\" " + options, outputPath), 0)
            << ReadFileBytes(outputPath);
        return ReadDemoLog(logPath);
    }

    std::string directory, logPath, outputPath;
};

TEST_F(DemoRun, OneRoundShowsEveryTracerWithItsRealOutcome)
{
    DemoLog log = Run("");
    ASSERT_GE(log.textLines.size(), 2u);
    EXPECT_TRUE(StartsWith(LineFromLevel(log.textLines.front()), "INF: started thread 0x"));
    EXPECT_TRUE(StartsWith(LineFromLevel(log.textLines.back()), "INF: stopped thread 0x"));
    EXPECT_EQ(log.textLines.size(), log.calls.size() + 2) << "every other line is a call line";

    std::set<std::string> seen;
    std::vector<std::string> failures;
    for (const CallLine &call : log.calls) {
        seen.insert(call.name);
        EXPECT_EQ(call.level, ExpectedLevel(call)) << call.text;
        EXPECT_EQ(call.hasCode, CallFailed(call)) << call.text;
        if (call.level != "INF")
            failures.push_back(call.text);
    }
    for (const char *name : ALL_TRACERS)
        EXPECT_TRUE(seen.count(name)) << name << " is missing from the log";

    // The only failures are the two the demo provokes, with their real codes.
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_TRUE(StartsWith(failures[0], "WRN: recv(")) << failures[0];
    EXPECT_TRUE(EndsWith(failures[0], " returned -1 [10035]")) << failures[0];
    EXPECT_TRUE(StartsWith(failures[1], "ERR: connect(")) << failures[1];
    EXPECT_NE(failures[1].find(" [127.0.0.1]:"), std::string::npos) << failures[1];
    EXPECT_TRUE(EndsWith(failures[1], " returned -1 [10061]")) << failures[1];
}

TEST_F(DemoRun, DumpsHoldExactlyTheBytesOfTheConversation)
{
    DemoLog log = Run("");
    EXPECT_TRUE(log.dumpsWellFormed);
    std::vector<std::string> sent;
    std::string allSent, allReceived;
    for (const CallLine &call : log.calls) {
        if (!Transfers(call)) {
            EXPECT_TRUE(call.dumped.empty()) << call.text;
            continue;
        }
        EXPECT_EQ((long long)call.dumped.size(), call.result > 0 ? call.result : 0) << call.text;
        if (call.name == "send" || call.name == "sendto") {
            sent.push_back(call.dumped);
            allSent += call.dumped;
        } else {
            allReceived += call.dumped;
        }
    }
    std::vector<std::string> expected(std::begin(ROUND_MESSAGES), std::end(ROUND_MESSAGES));
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(allReceived, allSent);
}

TEST_F(DemoRun, PrintsTheLogFileAndItsLines)
{
    DemoLog log = Run("");
    std::string output = ReadFileBytes(outputPath);
    EXPECT_NE(output.find("Log file: " + logPath + "\r\n"), std::string::npos) << output;
    for (const std::string &line : log.textLines)
        EXPECT_NE(output.find(line + "\r\n"), std::string::npos) << line;
}

TEST_F(DemoRun, ProcessTraceCoversEveryWorkerThread)
{
    const int conversations = 3 * 2;  // threads times rounds
    DemoLog log = Run("--process --threads 3 --rounds 2");
    ASSERT_GE(log.textLines.size(), 2u);
    EXPECT_TRUE(StartsWith(LineFromLevel(log.textLines.front()), "INF: started process 0x"));
    EXPECT_TRUE(StartsWith(LineFromLevel(log.textLines.back()), "INF: stopped process 0x"));

    std::map<std::string, int> levels;
    std::set<std::string> keys, seen;
    for (const CallLine &call : log.calls) {
        EXPECT_EQ(call.level, ExpectedLevel(call)) << call.text;
        levels[call.level]++;
        keys.insert(call.key);
        seen.insert(call.name);
    }
    EXPECT_EQ(keys.size(), 1u) << "one key, the process identifier";
    EXPECT_EQ(seen.size(), 24u);
    EXPECT_EQ(levels["WRN"], conversations);
    EXPECT_EQ(levels["ERR"], conversations);

    // Every message is dumped twice (sent and received) per conversation,
    // each dump whole.
    EXPECT_TRUE(log.dumpsWellFormed);
    std::map<std::string, int> dumps, expected;
    for (const std::string &dump : log.dumps)
        dumps[dump]++;
    for (const char *message : ROUND_MESSAGES)
        expected[message] = 2 * conversations;
    EXPECT_EQ(dumps, expected);
}

// The flags filter what the demo's real calls leave in the log.
TEST_F(DemoRun, FlagsFilterTheRealCalls)
{
    struct Case {
        const char *flags;
        std::vector<std::string> levels;  // of every line written, in order
    };
    const Case cases[] = {
        {"1", {"ERR"}},         // errors only: no start, stop, INF or WRN line, no dumps
        {"2", {"WRN", "ERR"}},  // warnings and errors
    };
    for (const Case &c : cases) {
        DeleteFileA(logPath.c_str());
        DemoLog log = Run(std::string("--flags ") + c.flags);
        std::vector<std::string> levels;
        for (const std::string &line : log.textLines)
            levels.push_back(LineFromLevel(line).substr(0, 3));
        EXPECT_EQ(levels, c.levels) << "flags " << c.flags;
        for (const CallLine &call : log.calls)
            EXPECT_TRUE(call.dumped.empty()) << "flags " << c.flags;
    }
}

}  // namespace
