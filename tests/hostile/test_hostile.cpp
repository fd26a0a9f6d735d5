// Hostile input: null pointers, pointers into unmapped memory, negative,
// zero and huge lengths, and file names built to overrun buffers. The
// library must answer each as documented, never crash its host, and never
// read or write a byte outside the caller's buffers: caller input is placed
// so that it ends right before a no-access page, and output buffers so that
// they end there, with a filled canary in front of them. Every test fails
// when any guard page was touched.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>

#include "log_grammar.h"
#include "log_reader.h"
#include "trace_dll.h"

namespace {

const size_t PAGE = 4096;
const unsigned char CANARY = 0xA5;

// The no-access pages behind the live guarded blocks. A touch of one is
// counted and the page opened, so that the library carries on and the test
// reports the overrun as a failure instead of the program dying on it.
std::vector<char *> g_guardPages;
volatile LONG g_guardTouches;
std::string g_lastTouch;

LONG CALLBACK CountGuardTouch(EXCEPTION_POINTERS *exception)
{
    const EXCEPTION_RECORD *record = exception->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    char *address = (char *)record->ExceptionInformation[1];
    for (char *page : g_guardPages) {
        if (address >= page && address < page + PAGE) {
            InterlockedIncrement(&g_guardTouches);
            char text[96];
            std::snprintf(text, sizeof(text), "%s %u byte(s) past the end of a caller buffer",
                          record->ExceptionInformation[0] ? "wrote" : "read",
                          (unsigned int)(address - page + 1));
            g_lastTouch = text;
            DWORD old = 0;
            VirtualProtect(page, PAGE, PAGE_READWRITE, &old);
            return EXCEPTION_CONTINUE_EXECUTION;
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// size bytes that end where a PAGE_NOACCESS page begins. The bytes of the
// page in front of them are canary bytes.
class GuardedBlock {
public:
    explicit GuardedBlock(size_t size) : size_(size)
    {
        static PVOID handler = AddVectoredExceptionHandler(1, CountGuardTouch);
        (void)handler;
        size_t pages = (size + PAGE - 1) / PAGE + 2;
        base_ = (char *)VirtualAlloc(nullptr, pages * PAGE, MEM_RESERVE | MEM_COMMIT,
                                     PAGE_READWRITE);
        if (!base_)
            return;
        guard_ = base_ + (pages - 1) * PAGE;
        DWORD old = 0;
        VirtualProtect(guard_, PAGE, PAGE_NOACCESS, &old);
        g_guardPages.push_back(guard_);
        data_ = guard_ - size;
        std::memset(base_, CANARY, (size_t)(guard_ - base_));
    }
    ~GuardedBlock()
    {
        if (!base_)
            return;
        for (size_t i = 0; i < g_guardPages.size(); i++) {
            if (g_guardPages[i] == guard_) {
                g_guardPages.erase(g_guardPages.begin() + (long)i);
                break;
            }
        }
        VirtualFree(base_, 0, MEM_RELEASE);
    }
    GuardedBlock(const GuardedBlock &) = delete;
    GuardedBlock &operator=(const GuardedBlock &) = delete;

    char *data() const { return data_; }
    size_t size() const { return size_; }
    // True when nothing in front of the block changed.
    bool CanaryIntact() const
    {
        for (const char *p = base_; p < data_; p++) {
            if ((unsigned char)*p != CANARY)
                return false;
        }
        return true;
    }

private:
    size_t size_;
    char *base_ = nullptr;
    char *guard_ = nullptr;
    char *data_ = nullptr;
};

// A zero-terminated text whose terminator is the last byte before the guard.
class GuardedText : public GuardedBlock {
public:
    explicit GuardedText(const std::string &text) : GuardedBlock(text.size() + 1)
    {
        std::memcpy(data(), text.c_str(), text.size() + 1);
    }
    const char *c_str() const { return data(); }
};

// Raw bytes (no terminator) that end at the guard.
class GuardedBytes : public GuardedBlock {
public:
    explicit GuardedBytes(const std::string &bytes) : GuardedBlock(bytes.size())
    {
        std::memcpy(data(), bytes.data(), bytes.size());
    }
};

bool Unmapped(const void *address)
{
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof(info)) == 0)
        return true;
    return info.State != MEM_COMMIT ||
           (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0;
}

const void *const UNMAPPED_LOW = (const void *)0x10;
const void *const UNMAPPED_HIGH = (const void *)0xFFFF0000;

std::string Hex(const void *pointer)
{
    char text[32];
    std::snprintf(text, sizeof(text), "0x%lx", (unsigned long)(UINT_PTR)pointer);
    return text;
}

const int GETTER_CODE = 10022;

int WINAPI FixedGetter()
{
    return GETTER_CODE;
}

// A sockaddr_in for 192.0.2.7:8080 and a sockaddr_in6 for [2001:db8::1]:443.
std::string InetAddress()
{
    const unsigned char bytes[8] = {2, 0, 0x1F, 0x90, 192, 0, 2, 7};
    return std::string((const char *)bytes, sizeof(bytes));
}

std::string Inet6Address()
{
    unsigned char bytes[24] = {23, 0, 0x01, 0xBB, 0, 0, 0, 0, 0x20, 0x01, 0x0D, 0xB8};
    bytes[23] = 1;
    return std::string((const char *)bytes, sizeof(bytes));
}

// Every test runs with a live thread trace on a file of its own and a
// getter that reports GETTER_CODE; Fresh() gives what was written since
// its last call.
class Hostile : public testing::Test {
protected:
    struct Output {
        std::vector<std::string> lines;  // "LVL: message [code]"
        std::vector<std::string> dumps;  // bytes of each dump line
    };

    void SetUp() override
    {
        ASSERT_NE(Dll().module, nullptr);
        ASSERT_EQ(Dll().ActiveCount(), 0);
        g_guardTouches = 0;
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        path_ = MakeScratchDirectory("hostile_" + name) + "\\hostile.log";
        ASSERT_EQ(Dll().Start(path_.c_str(), 0), 1);
        TRACE_ERROR_HANDLERS handlers = {FixedGetter, nullptr};
        ASSERT_EQ(Dll().SetErrorHandlers(&handlers), 1);
        Fresh();
    }

    void TearDown() override
    {
        EXPECT_EQ(g_guardTouches, 0) << "last: " << g_lastTouch;
        TRACE_ERROR_HANDLERS none = {nullptr, nullptr};
        Dll().SetErrorHandlers(&none);
        while (Dll().Stop() == 1) {
        }
        EXPECT_EQ(Dll().ActiveCount(), 0);
        LogCheck check = CheckLog(path_, HostProgramName());
        EXPECT_TRUE(check.Clean()) << DescribeBadLines(check);
    }

    Output Fresh()
    {
        LogCheck check = CheckLog(path_, HostProgramName());
        EXPECT_TRUE(check.Clean()) << DescribeBadLines(check);
        Output out;
        for (size_t i = seenText_; i < check.textLines.size(); i++) {
            const LogTextLine &line = check.textLines[i];
            std::string text = (line.level == LOG_INF   ? "INF: "
                                : line.level == LOG_WRN ? "WRN: "
                                                        : "ERR: ") +
                               line.message;
            if (line.level != LOG_INF)
                text += " [" + std::to_string(line.code) + "]";
            out.lines.push_back(text);
        }
        for (size_t i = seenDump_; i < check.dumpLines.size(); i++)
            out.dumps.push_back(check.dumpLines[i].bytes);
        seenText_ = check.textLines.size();
        seenDump_ = check.dumpLines.size();
        return out;
    }

    const std::string &LogPath() const { return path_; }

private:
    std::string path_;
    size_t seenText_ = 0;
    size_t seenDump_ = 0;
};

struct TracerCase {
    std::string line;  // the expected line, "" when none is to be written
    std::function<void()> call;
};

// Every tracer with each pointer argument set to p, and results and
// lengths under which the library has no business reading through it:
// the pointers are only printed.
std::vector<TracerCase> PrintedPointerCases(const void *p)
{
    TraceDll &d = Dll();
    const std::string P = Hex(p);
    const char *const E = " [10022]";
    const char *address = p ? " " : " [NULL]";  // sockaddr text: nothing is read
    HANDLE h = (HANDLE)p;
    return {
        {"INF: accept(5, " + P + ", " + P + ") returned 7",
         [&d, p] { d.Accept(7, 5, p, (const int *)p); }},
        {"INF: bind(5, " + P + address + ", 0) returned 0", [&d, p] { d.Bind(0, 5, p, 0); }},
        {"ERR: bind(5, " + P + address + ", -1) returned -1" + E,
         [&d, p] { d.Bind(-1, 5, p, -1); }},
        {"ERR: connect(5, " + P + address + ", 1) returned -1" + E,
         [&d, p] { d.Connect(-1, 5, p, 1); }},
        {"ERR: getaddrinfo(0x0 [], 0x0 [], " + P + ", " + P + ") returned 11001" + E,
         [&d, p] { d.GetAddrInfo(11001, nullptr, nullptr, p, p); }},
        {"ERR: gethostname(" + P + ", 256) returned -1" + E,
         [&d, p] { d.GetHostName(-1, (const char *)p, 256); }},
        {"INF: gethostname(" + P + ", 0) returned 0",
         [&d, p] { d.GetHostName(0, (const char *)p, 0); }},
        {"INF: gethostname(" + P + ", -5) returned 0",
         [&d, p] { d.GetHostName(0, (const char *)p, -5); }},
        {"INF: getnameinfo(" + P + ", 16, " + P + " [], 0, " + P + " [], 0, 8) returned 0",
         [&d, p] { d.GetNameInfo(0, p, 16, (const char *)p, 0, (const char *)p, 0, 8); }},
        {"INF: getpeername(5, " + P + ", " + P + ") returned 0",
         [&d, p] { d.GetPeerName(0, 5, p, (const int *)p); }},
        {"INF: getsockname(5, " + P + ", " + P + ") returned 0",
         [&d, p] { d.GetSockName(0, 5, p, (const int *)p); }},
        {"INF: getsockopt(5, 65535, 4, " + P + ", " + P + ") returned 0",
         [&d, p] { d.GetSockOpt(0, 5, 65535, 4, p, (const int *)p); }},
        {"INF: ioctlsocket(5, 0x8004667e, " + P + ") returned 0",
         [&d, p] { d.IoctlSocket(0, 5, (long)0x8004667e, p); }},
        {"ERR: recv(5, " + P + ", 10, 0) returned -1" + E, [&d, p] { d.Recv(-1, 5, p, 10, 0); }},
        {"INF: recv(5, " + P + ", 10, 0) returned 0", [&d, p] { d.Recv(0, 5, p, 10, 0); }},
        {"ERR: recvfrom(5, " + P + ", 10, 0, " + P + ", " + P + ") returned -1" + E,
         [&d, p] { d.RecvFrom(-1, 5, p, 10, 0, p, (const int *)p); }},
        {"INF: select(1, " + P + ", " + P + ", " + P + ", " + P + ") returned 0",
         [&d, p] { d.Select(0, 1, p, p, p, p); }},
        {"ERR: send(5, " + P + ", 10, 0) returned -1" + E, [&d, p] { d.Send(-1, 5, p, 10, 0); }},
        {"INF: send(5, " + P + ", 10, 0) returned 0", [&d, p] { d.Send(0, 5, p, 10, 0); }},
        {"ERR: sendto(5, " + P + ", 10, 0, " + P + ", 16) returned -1" + E,
         [&d, p] { d.SendTo(-1, 5, p, 10, 0, p, 16); }},
        {"INF: setsockopt(5, 65535, 4, " + P + ", 4) returned 0",
         [&d, p] { d.SetSockOpt(0, 5, 65535, 4, p, 4); }},
        {"INF: WSAAccept(5, " + P + ", " + P + ", " + P + ", " + P + ") returned 7",
         [&d, p] { d.WSAAccept(7, 5, p, (const int *)p, p, (DWORD_PTR)p); }},
        {"INF: WSAAsyncSelect(5, " + P + ", 0x401, 0x3) returned 0",
         [&d, h] { d.WSAAsyncSelect(0, 5, (HWND)h, 0x401, 3); }},
        {"INF: WSAEnumNetworkEvents(5, " + P + ", " + P + ") returned 0",
         [&d, h, p] { d.WSAEnumNetworkEvents(0, 5, h, p); }},
        {"INF: WSAEventSelect(5, " + P + ", 0x3) returned 0",
         [&d, h] { d.WSAEventSelect(0, 5, h, 3); }},
    };
}

void ExpectTracerLines(const std::vector<TracerCase> &cases,
                       const std::function<std::vector<std::string>()> &fresh, const char *what)
{
    for (const TracerCase &c : cases) {
        c.call();
        std::vector<std::string> lines = fresh();
        if (c.line.empty()) {
            EXPECT_TRUE(lines.empty()) << what << ": " << (lines.empty() ? "" : lines[0]);
        } else {
            ASSERT_EQ(lines.size(), 1u) << what << ": " << c.line;
            EXPECT_EQ(lines[0], c.line) << what;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Null pointers

TEST_F(Hostile, ExportsGivenNullPointers)
{
    TraceDll &d = Dll();
    EXPECT_EQ((DWORD)d.DllGetVersion(nullptr), 0x80000005u);
    EXPECT_EQ(d.SetErrorHandlers(nullptr), 0);
    EXPECT_EQ(d.GetFileName(nullptr, 10), 0);
    EXPECT_EQ(d.GetFileName(nullptr, 0), 0);
    EXPECT_EQ(d.Write(0, nullptr, 5), 0);
    EXPECT_EQ(d.Write(0, nullptr, 0), 0);
    EXPECT_EQ(d.Write(TRACE_HEXDUMP, nullptr, 5), 0);
    EXPECT_EQ(d.Write(TRACE_KIND_CALL, nullptr, 3), 0);

    // A nested start without a name keeps the file; setting no name picks
    // the default file in the documents folder.
    EXPECT_EQ(d.Start(nullptr, 0), 1);
    char name[MAX_PATH] = {0};
    EXPECT_EQ(d.GetFileName(name, sizeof(name)), (int)LogPath().size());
    EXPECT_EQ(name, LogPath());
    EXPECT_EQ(d.Stop(), 1);
    EXPECT_EQ(d.SetFileName(nullptr), 1);
    std::string fallback = DocumentsFolder() + "\\Kestrelnode9.log";
    EXPECT_EQ(d.GetFileName(name, sizeof(name)), (int)fallback.size());
    EXPECT_EQ(name, fallback);
    EXPECT_EQ(d.SetFileName(LogPath().c_str()), 1);
    EXPECT_TRUE(Fresh().lines.empty());

    EXPECT_EQ(d.Stop(), 1);
    EXPECT_EQ(d.SetFileName(nullptr), 0) << "no trace";
    EXPECT_EQ(d.GetFileName(nullptr, 10), 0);
    EXPECT_EQ(d.Write(0, nullptr, 5), 0);
}

TEST_F(Hostile, TracersGivenNullPointers)
{
    std::vector<TracerCase> cases = PrintedPointerCases(nullptr);
    TraceDll &d = Dll();
    // Null data with a positive result: the line, but no dump.
    cases.push_back({"INF: recv(5, 0x0, 10, 0) returned 4", [&d] { d.Recv(4, 5, nullptr, 10, 0); }});
    cases.push_back({"INF: recvfrom(5, 0x0, 10, 0, 0x0, 0x0) returned 4",
                     [&d] { d.RecvFrom(4, 5, nullptr, 10, 0, nullptr, nullptr); }});
    cases.push_back({"INF: send(5, 0x0, 10, 0) returned 4", [&d] { d.Send(4, 5, nullptr, 10, 0); }});
    cases.push_back({"INF: sendto(5, 0x0, 10, 0, 0x0, 16) returned 4",
                     [&d] { d.SendTo(4, 5, nullptr, 10, 0, nullptr, 16); }});
    cases.push_back({"INF: bind(5, 0x0 [NULL], 16) returned 0", [&d] { d.Bind(0, 5, nullptr, 16); }});
    cases.push_back({"ERR: connect(5, 0x0 [NULL], 28) returned -1 [10022]",
                     [&d] { d.Connect(-1, 5, nullptr, 28); }});
    cases.push_back({"INF: gethostname(0x0, 256) returned 0",
                     [&d] { d.GetHostName(0, nullptr, 256); }});
    cases.push_back({"ERR: getnameinfo(0x0, 0, 0x0 [], 1025, 0x0 [], 32, 0) returned 11001 [10022]",
                     [&d] { d.GetNameInfo(11001, nullptr, 0, nullptr, 1025, nullptr, 32, 0); }});
    ExpectTracerLines(cases, [this] { return Fresh().lines; }, "null");
    EXPECT_TRUE(Fresh().dumps.empty());
}

// ---------------------------------------------------------------------------
// Pointers into unmapped memory that the library only prints

TEST_F(Hostile, PrintedPointersAreNeverRead)
{
    for (const void *p : {UNMAPPED_LOW, UNMAPPED_HIGH}) {
        ASSERT_TRUE(Unmapped(p)) << Hex(p);
        ExpectTracerLines(PrintedPointerCases(p), [this] { return Fresh().lines; }, Hex(p).c_str());
    }
    EXPECT_TRUE(Fresh().dumps.empty());
}

// With no live trace anywhere a tracer returns at once: even the texts,
// addresses and data it would otherwise read are left alone. A write
// without a trace, or one the trace suspends, reads nothing either.
TEST_F(Hostile, NothingIsReadWithoutALiveTrace)
{
    TraceDll &d = Dll();
    const void *p = UNMAPPED_HIGH;
    const char *t = (const char *)p;
    ASSERT_EQ(d.SetFlags(TRACE_SUSPEND | TRACE_HEXDUMP), TRACE_HEXDUMP);
    EXPECT_EQ(d.Write(0, p, 0), 1);
    EXPECT_EQ(d.Write(0, p, 100), 1);
    EXPECT_EQ(d.Write(TRACE_HEXDUMP, p, 100), 1);
    ASSERT_EQ(d.Stop(), 1);
    ASSERT_EQ(d.ActiveCount(), 0);
    EXPECT_EQ(d.Write(0, p, 0), 0);
    EXPECT_EQ(d.Write(TRACE_HEXDUMP, p, 100), 0);
    d.Bind(0, 5, p, 16);
    d.Connect(0, 5, p, 28);
    d.GetAddrInfo(0, t, t, p, p);
    d.GetHostName(0, t, 256);
    d.GetNameInfo(0, p, 16, t, 1025, t, 32, 0);
    d.Recv(100, 5, p, 100, 0);
    d.RecvFrom(100, 5, p, 100, 0, p, (const int *)p);
    d.Send(100, 5, p, 100, 0);
    d.SendTo(100, 5, p, 100, 0, p, 16);
    Output out = Fresh();
    EXPECT_TRUE(out.lines.empty());
    EXPECT_TRUE(out.dumps.empty());
}

// ---------------------------------------------------------------------------
// Negative, zero and huge lengths; caller texts ending at the guard page

TEST_F(Hostile, LengthsAndCallerTextsAtTheGuard)
{
    TraceDll &d = Dll();
    GuardedBytes data("0123456789abcdef");
    GuardedBytes inet(InetAddress());
    GuardedBytes inet6(Inet6Address());
    GuardedBytes shortInet(InetAddress().substr(0, 7));
    GuardedBytes shortInet6(Inet6Address().substr(0, 23));
    GuardedBytes family(InetAddress().substr(0, 1));
    GuardedBytes host("example");   // unterminated, as a failed call may leave it
    GuardedBytes serv("http");
    GuardedBytes noBytes("");
    GuardedBytes hostName("myhost");
    GuardedText terminatedHost("ab");
    GuardedText node("www.example.com");
    GuardedText service("443");
    GuardedText longNode(std::string(1100, 'n'));

    const std::string D = Hex(data.data());
    struct Case {
        std::string line;
        std::function<void()> call;
        std::vector<std::string> dumps;
    } cases[] = {
        // Failed or empty transfers dump nothing, whatever the length says.
        {"ERR: send(5, " + D + ", 2147483647, 0) returned -1 [10022]",
         [&] { d.Send(-1, 5, data.data(), INT_MAX, 0); }, {}},
        {"INF: recv(5, " + D + ", -1, 0) returned 0", [&] { d.Recv(0, 5, data.data(), -1, 0); }, {}},
        {"ERR: recvfrom(5, " + D + ", -2147483648, 0, 0x0, 0x0) returned -1 [10022]",
         [&] { d.RecvFrom(-1, 5, data.data(), INT_MIN, 0, nullptr, nullptr); }, {}},
        // A transfer dumps its result's bytes, up to the very last one.
        {"INF: sendto(5, " + D + ", 2147483647, 0, 0x0, 0) returned 16",
         [&] { d.SendTo(16, 5, data.data(), INT_MAX, 0, nullptr, 0); }, {"0123456789abcdef"}},
        {"INF: recv(5, " + Hex(data.data() + 13) + ", 3, 0) returned 3",
         [&] { d.Recv(3, 5, data.data() + 13, 3, 0); }, {"def"}},
        // Socket addresses: the family's own layout, never beyond namelen.
        {"INF: bind(5, " + Hex(inet.data()) + " [192.0.2.7]:8080, 2147483647) returned 0",
         [&] { d.Bind(0, 5, inet.data(), INT_MAX); }, {}},
        {"INF: connect(5, " + Hex(inet6.data()) + " [2001:db8::1]:443, 2147483647) returned 0",
         [&] { d.Connect(0, 5, inet6.data(), INT_MAX); }, {}},
        {"INF: bind(5, " + Hex(inet.data()) + " , -1) returned 0",
         [&] { d.Bind(0, 5, inet.data(), -1); }, {}},
        {"ERR: bind(5, " + Hex(shortInet.data()) + " , 7) returned -1 [10022]",
         [&] { d.Bind(-1, 5, shortInet.data(), 7); }, {}},
        {"ERR: connect(5, " + Hex(shortInet6.data()) + " , 23) returned -1 [10022]",
         [&] { d.Connect(-1, 5, shortInet6.data(), 23); }, {}},
        {"ERR: connect(5, " + Hex(family.data()) + " , 1) returned -1 [10022]",
         [&] { d.Connect(-1, 5, family.data(), 1); }, {}},
        {"INF: bind(5, " + Hex(noBytes.data()) + " , 0) returned 0",
         [&] { d.Bind(0, 5, noBytes.data(), 0); }, {}},
        // getnameinfo texts: within hostlen and servlen, terminated or not.
        {"INF: getnameinfo(0x0, 0, " + Hex(host.data()) + " [example], 7, " + Hex(serv.data()) +
             " [http], 4, 0) returned 0",
         [&] { d.GetNameInfo(0, nullptr, 0, host.data(), 7, serv.data(), 4, 0); }, {}},
        {"ERR: getnameinfo(0x0, 0, " + Hex(host.data() + 4) + " [ple], 3, " +
             Hex(serv.data() + 4) + " [], 0, 0) returned 11001 [10022]",
         [&] { d.GetNameInfo(11001, nullptr, 0, host.data() + 4, 3, serv.data() + 4, 0, 0); },
         {}},
        {"INF: getnameinfo(0x0, 0, " + Hex(noBytes.data()) + " [], 0, " + Hex(noBytes.data()) +
             " [], 0, 0) returned 0",
         [&] { d.GetNameInfo(0, nullptr, 0, noBytes.data(), 0, noBytes.data(), 0, 0); }, {}},
        {"INF: getnameinfo(0x0, 0, " + Hex(terminatedHost.c_str()) + " [ab], -1, 0x0 [], 32, 0) "
             "returned 0",
         [&] { d.GetNameInfo(0, nullptr, 0, terminatedHost.c_str(), 0xFFFFFFFF, nullptr, 32, 0); },
         {}},
        // gethostname: the name within namelen.
        {"INF: gethostname(" + Hex(hostName.data()) + " [myhost], 6) returned 0",
         [&] { d.GetHostName(0, hostName.data(), 6); }, {}},
        {"INF: gethostname(" + Hex(hostName.data() + 2) + " [ho], 2) returned 0",
         [&] { d.GetHostName(0, hostName.data() + 2, 2); }, {}},
        {"INF: gethostname(" + Hex(terminatedHost.c_str()) + " [ab], 2147483647) returned 0",
         [&] { d.GetHostName(0, terminatedHost.c_str(), INT_MAX); }, {}},
        // getaddrinfo: terminated texts up to their terminator; one too
        // long for a line drops the line.
        {"INF: getaddrinfo(" + Hex(node.c_str()) + " [www.example.com], " + Hex(service.c_str()) +
             " [443], 0x0, 0x0) returned 0",
         [&] { d.GetAddrInfo(0, node.c_str(), service.c_str(), nullptr, nullptr); }, {}},
        {"", [&] { d.GetAddrInfo(0, longNode.c_str(), service.c_str(), nullptr, nullptr); }, {}},
    };
    for (const Case &c : cases) {
        LONG touches = g_guardTouches;
        c.call();
        EXPECT_EQ(g_guardTouches, touches) << g_lastTouch << ": " << c.line;
        Output out = Fresh();
        if (c.line.empty()) {
            EXPECT_TRUE(out.lines.empty()) << out.lines[0];
        } else {
            ASSERT_EQ(out.lines.size(), 1u) << c.line;
            EXPECT_EQ(out.lines[0], c.line);
        }
        EXPECT_EQ(out.dumps, c.dumps) << c.line;
    }
}

// TraceWrite reads exactly length bytes of a caller's own text or dump,
// however long, and no more.
TEST_F(Hostile, WriteLengthsAtTheGuard)
{
    TraceDll &d = Dll();
    std::string text(5000, 't');
    GuardedBytes unterminated(text);
    EXPECT_EQ(d.Write(0, unterminated.data(), (DWORD)text.size()), 1);
    GuardedText terminated("zero-terminated");
    EXPECT_EQ(d.Write(0, terminated.c_str(), 0), 1);
    GuardedBytes three("abc");
    EXPECT_EQ(d.Write(0, three.data(), 3), 1);
    Output out = Fresh();
    std::vector<std::string> expected = {"INF: " + text, "INF: zero-terminated", "INF: abc"};
    EXPECT_EQ(out.lines, expected);

    // A dump past offset 0xFFFF: the offset column grows, the lines stay whole.
    std::string block(0x10000 + 20, '\0');
    for (size_t i = 0; i < block.size(); i++)
        block[i] = (char)(i * 7);
    GuardedBytes large(block);
    EXPECT_EQ(d.Write(TRACE_HEXDUMP, large.data(), (DWORD)block.size()), 1);
    GuardedBytes empty("");
    EXPECT_EQ(d.Write(TRACE_HEXDUMP, empty.data(), 0), 1);
    out = Fresh();
    EXPECT_TRUE(out.lines.empty());
    ASSERT_EQ(out.dumps.size(), 0x1000u + 2);
    std::string dumped;
    for (const std::string &bytes : out.dumps)
        dumped += bytes;
    EXPECT_EQ(dumped, block);
}

// ---------------------------------------------------------------------------
// File names

namespace {

struct NameCase {
    std::string what;
    std::string name;
    bool accepted;
    size_t storedLength;  // for accepted names: the stored path's length, 0 to skip
};

std::string Repeat(const std::string &piece, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; i++)
        text += piece;
    return text;
}

// A name that is dir, a backslash and a file name making total characters.
std::string NameOfLength(const std::string &dir, size_t total)
{
    return dir + "\\" + std::string(total - dir.size() - 1 - 4, 'n') + ".log";
}

}  // namespace

TEST_F(Hostile, FileNames)
{
    TraceDll &d = Dll();
    std::string dir = MakeScratchDirectory("hostile_names");
    std::string documents = DocumentsFolder();
    ASSERT_LT(dir.size(), 150u);
    ASSERT_LT(documents.size(), 150u);
    // Expanded names of 253 and 254 characters around the 254-character
    // room of the expansion (terminator included).
    std::string expansion(253 - dir.size() - 2, 'e');
    ASSERT_TRUE(SetEnvironmentVariableA("TRACELOG_HOSTILE_LONG", expansion.c_str()));
    std::string fits = dir + "\\%TRACELOG_HOSTILE_LONG%f";
    std::string overflows = fits + "f";
    std::string bareFits(255 - documents.size() - 1, 'm');

    std::vector<NameCase> cases = {
        {"10 KiB path", dir + "\\" + std::string(10240, 'a'), false, 0},
        {"10 KiB bare name", std::string(10240, 'b'), false, 0},
        {"10 KiB of references", Repeat("%TRACELOG_HOSTILE_LONG%", 450), false, 0},
        {"10 KiB with a lone percent", "%" + std::string(10240, 'c'), false, 0},
        {"expansion past 254", dir + "\\%TRACELOG_HOSTILE_LONG%%TRACELOG_HOSTILE_LONG%.log", false,
         0},
        {"expansion of 253", fits, true, 253},
        {"expansion of 254", overflows, false, 0},
        {"path of 255", NameOfLength(dir, 255), true, 255},
        {"path of 256", NameOfLength(dir, 256), false, 0},
        {"bare name making 255", bareFits, true, 255},
        {"bare name making 256", bareFits + "m", false, 0},
        {"CON", "CON", false, 0},
        {"nul", "nul", false, 0},
        {"NUL.txt", "NUL.txt", false, 0},
        {"aux.log", "aux.log", false, 0},
        {"COM1", "COM1", false, 0},
        {"com9.txt in a folder", dir + "\\com9.txt", false, 0},
        {"LPT1", "LPT1", false, 0},
        {"lpt9.log", "lpt9.log", false, 0},
        {"CONIN$", "CONIN$", false, 0},
        {"CONOUT$", "CONOUT$", false, 0},
        {"PRN in a folder", dir + "\\PRN.log", false, 0},
        {"device with a trailing space", dir + "\\con .log", false, 0},
        {"device with trailing dots", dir + "\\AUX..", false, 0},
        {"named pipe", "\\\\.\\pipe\\tracelog", false, 0},
        {"drive device", "\\\\.\\C:", false, 0},
        {"physical drive", "\\\\.\\PhysicalDrive0", false, 0},
        {"device namespace path", "\\\\?\\" + dir + "\\plain.log", false, 0},
        {"forward-slash device path", "//./nul", false, 0},
        {"COM10 is no device", dir + "\\COM10.log", true, dir.size() + 10},
        {"console.log is no device", dir + "\\console.log", true, dir.size() + 12},
        {"run.exe.", dir + "\\run.exe.", false, 0},
        {"run.exe ", dir + "\\run.exe ", false, 0},
        {"run.exe. .", dir + "\\run.exe. .", false, 0},
        {"run.DLL...", dir + "\\run.DLL...", false, 0},
        {"run.txt.", dir + "\\run.txt.", true, 0},
        {"run.exe.txt", dir + "\\run.exe.txt", true, dir.size() + 12},
    };
    for (const NameCase &c : cases) {
        GuardedText name(c.name);
        // As the name of an existing trace...
        EXPECT_EQ(d.SetFileName(name.c_str()), c.accepted ? 1 : 0) << c.what;
        GuardedBlock stored(MAX_PATH);
        int length = d.GetFileName(stored.data(), MAX_PATH);
        if (c.accepted) {
            if (c.storedLength) {
                EXPECT_EQ(length, (int)c.storedLength) << c.what;
            }
            EXPECT_EQ(length, (int)std::strlen(stored.data())) << c.what;
        } else {
            EXPECT_EQ(length, 0) << c.what;
            EXPECT_STREQ(stored.data(), "") << c.what;
            EXPECT_EQ(d.Write(0, "refused", 0), 0) << c.what;
        }
        // ...and of a new one, which takes a stop either way. Suspended, so
        // that no accepted name gets a file.
        ASSERT_EQ(d.SetFileName(LogPath().c_str()), 1);
        ASSERT_EQ(d.Stop(), 1);
        EXPECT_EQ(d.Start(name.c_str(), TRACE_SUSPEND), c.accepted ? 1 : 0) << c.what;
        EXPECT_EQ(d.ActiveCount(), 1) << c.what;
        ASSERT_EQ(d.Stop(), 1);
        ASSERT_EQ(d.Start(LogPath().c_str(), 0), 1);
    }
    SetEnvironmentVariableA("TRACELOG_HOSTILE_LONG", nullptr);
    // Nothing landed anywhere but in the trace's own log.
    for (const NameCase &c : cases) {
        if (c.accepted && c.name.find('%') == std::string::npos) {
            std::string where = c.name.find('\\') == std::string::npos
                                    ? documents + "\\" + c.name : c.name;
            EXPECT_EQ(GetFileAttributesA(where.c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
        }
    }
    EXPECT_EQ(Fresh().lines.size(), 2 * cases.size());
}

// Every length of name around the limits, each ending at the guard: a
// plain path is kept up to 255 characters; one with a "%" that names no
// variable goes through the expansion, whose room is 254 with the
// terminator, so it is kept up to 253.
TEST_F(Hostile, FileNameLengthsAtTheGuard)
{
    TraceDll &d = Dll();
    std::string dir = MakeScratchDirectory("hostile_lengths");
    for (size_t length = dir.size() + 3; length <= 300; length++) {
        std::string plain = dir + "\\" + std::string(length - dir.size() - 1, 'x');
        std::string percent = dir + "\\%" + std::string(length - dir.size() - 2, 'y');
        for (const std::string &text : {plain, percent}) {
            size_t limit = text == plain ? 255 : 253;
            GuardedText name(text);
            EXPECT_EQ(d.SetFileName(name.c_str()), length <= limit ? 1 : 0) << text;
            GuardedBlock stored(length + 1);
            EXPECT_EQ(d.GetFileName(stored.data(), (int)length + 1),
                      length <= limit ? (int)length : 0)
                << text;
        }
    }
    ASSERT_EQ(d.SetFileName(LogPath().c_str()), 1);
}

// ---------------------------------------------------------------------------
// Output buffers and caller structures at the guard page

TEST_F(Hostile, GetFileNameSizes)
{
    TraceDll &d = Dll();
    const std::string &path = LogPath();
    const int length = (int)path.size();
    struct Case {
        int size;
        int result;
    } cases[] = {
        {1, 0}, {2, 1}, {10, 9}, {length, length - 1}, {length + 1, length}, {length + 100, length},
    };
    for (const Case &c : cases) {
        GuardedBlock buffer((size_t)c.size);
        std::memset(buffer.data(), 'X', (size_t)c.size);
        EXPECT_EQ(d.GetFileName(buffer.data(), c.size), c.result) << c.size;
        EXPECT_EQ(std::string(buffer.data()), path.substr(0, (size_t)c.result)) << c.size;
        EXPECT_TRUE(buffer.CanaryIntact()) << c.size;
    }
    for (int size : {0, -1, -100, INT_MIN}) {
        GuardedBlock buffer(1);
        buffer.data()[0] = 'X';
        EXPECT_EQ(d.GetFileName(buffer.data(), size), 0) << size;
        EXPECT_EQ(buffer.data()[0], 'X') << size;
        EXPECT_TRUE(buffer.CanaryIntact()) << size;
    }
    // A size larger than the buffer really is: only the path and its
    // terminator are written.
    GuardedBlock tight((size_t)length + 1);
    EXPECT_EQ(d.GetFileName(tight.data(), INT_MAX), length);
    EXPECT_EQ(std::string(tight.data()), path);
}

TEST_F(Hostile, CallerStructuresAtTheGuard)
{
    TraceDll &d = Dll();
    GuardedBlock info(20);
    DWORD *fields = (DWORD *)info.data();
    fields[0] = 20;
    EXPECT_EQ((DWORD)d.DllGetVersion(info.data()), 0u);
    EXPECT_EQ(fields[1], 9u);
    EXPECT_EQ(fields[2], 5u);
    EXPECT_EQ(fields[3], 9530u);
    EXPECT_EQ(fields[4], 1u);
    EXPECT_TRUE(info.CanaryIntact());
    // Sizes it refuses: the fields stay as they were.
    for (DWORD size : {0u, 16u, 32u, 0xFFFFFFFFu}) {
        std::memset(info.data(), 0x5A, 20);
        fields[0] = size;
        EXPECT_EQ((DWORD)d.DllGetVersion(info.data()), 0x80000003u) << size;
        for (int i = 1; i < 5; i++)
            EXPECT_EQ(fields[i], 0x5A5A5A5Au) << size;
    }
    GuardedBlock handlers(sizeof(TRACE_ERROR_HANDLERS));
    TRACE_ERROR_HANDLERS *h = (TRACE_ERROR_HANDLERS *)handlers.data();
    h->pfnGetLastError = FixedGetter;
    h->pfnSetLastError = nullptr;
    EXPECT_EQ(d.SetErrorHandlers(h), 1);
    d.Listen(-1, 5, 1);
    std::vector<std::string> expected = {"ERR: listen(5, 1) returned -1 [10022]"};
    EXPECT_EQ(Fresh().lines, expected);
}
