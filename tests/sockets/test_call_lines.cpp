// The call line of every tracer, exactly as it lands in the log, through
// the DLL bound by ordinal; the dumps of the four transfer tracers; the
// address text of bind; the length limit of a call line.
#include <algorithm>
#include <cstring>
#include <functional>

#include "socket_test_support.h"

namespace
{

// Buffers whose addresses appear in the expected lines: static, so the
// table can print them.
const unsigned char kInet4Name[16] = {2, 0, 0, 80, 127, 0, 0, 1};
const unsigned char kInet6Name[28] = {23, 0, 0x01, 0xbb, 0, 0, 0, 0, 0, 0, 0, 0,
                                      0,  0, 0,    0,    0, 0, 0, 0, 0, 0, 0, 1};
const unsigned char kUnixName[16] = {1, 0, '/', 't', 'm', 'p'};
const char kHostName[256] = "myhost";
const char kNodeName[] = "localhost";
const char kService[] = "80";
const char kHostText[1025] = "example.org";
const char kServText[32] = "http";

struct CallRow {
    const char *name;
    int code; // what the socket layer reports during the call
    std::function<void()> call;
    std::string expected; // the line from the level on
};

std::vector<CallRow> TracerRows()
{
    TraceDll *d = &Dll();
    std::string name4 = Hex(kInet4Name);
    std::string name6 = Hex(kInet6Name);
    std::string host = Hex(kHostName);
    std::string node = Hex(kNodeName);
    std::string serv = Hex(kService);
    std::string hostText = Hex(kHostText);
    std::string servText = Hex(kServText);
    return {
        {"accept", 10054, [d] { d->Accept(316, 5, FakePointer(0x1234), FakeIntPointer(0x5678)); },
         "INF: accept(5, 0x1234, 0x5678) returned 316"},
        {"accept failed", 10054, [d] { d->Accept(-1, -2, nullptr, nullptr); },
         "ERR: accept(-2, 0x0, 0x0) returned -1 [10054]"},
        {"accept would block", 10035, [d] { d->Accept(-1, 5, nullptr, nullptr); },
         "WRN: accept(5, 0x0, 0x0) returned -1 [10035]"},
        {"bind", 0, [d] { d->Bind(0, 316, kInet4Name, 16); },
         "INF: bind(316, " + name4 + " [127.0.0.1]:80, 16) returned 0"},
        {"bind failed", 10048, [d] { d->Bind(-1, 316, nullptr, 0); },
         "ERR: bind(316, 0x0 [NULL], 0) returned -1 [10048]"},
        {"closesocket", 0, [d] { d->CloseSocket(0, 316); }, "INF: closesocket(316) returned 0"},
        {"closesocket failed", 10038, [d] { d->CloseSocket(-1, -1); },
         "ERR: closesocket(-1) returned -1 [10038]"},
        {"connect", 0, [d] { d->Connect(0, 316, kInet6Name, 28); },
         "INF: connect(316, " + name6 + " [::1]:443, 28) returned 0"},
        {"connect failed", 10061, [d] { d->Connect(-1, 316, kInet4Name, 16); },
         "ERR: connect(316, " + name4 + " [127.0.0.1]:80, 16) returned -1 [10061]"},
        {"connect would block", 10035, [d] { d->Connect(-1, 316, kInet4Name, 16); },
         "WRN: connect(316, " + name4 + " [127.0.0.1]:80, 16) returned -1 [10035]"},
        {"connect unknown family", 0, [d] { d->Connect(0, 316, kUnixName, 16); },
         "INF: connect(316, " + Hex(kUnixName) + " , 16) returned 0"},
        {"getaddrinfo", 0,
         [d] { d->GetAddrInfo(0, kNodeName, kService, FakePointer(0x1000), FakePointer(0x2000)); },
         "INF: getaddrinfo(" + node + " [localhost], " + serv +
             " [80], 0x1000, 0x2000) returned 0"},
        {"getaddrinfo no service", 11001,
         [d] { d->GetAddrInfo(11001, kNodeName, nullptr, nullptr, nullptr); },
         "WRN: getaddrinfo(" + node + " [localhost], 0x0 [], 0x0, 0x0) returned 11001 [11001]"},
        {"getaddrinfo no node", 11000,
         [d] { d->GetAddrInfo(11000, nullptr, kService, nullptr, nullptr); },
         "ERR: getaddrinfo(0x0 [], " + serv + " [80], 0x0, 0x0) returned 11000 [11000]"},
        {"gethostname", 0, [d] { d->GetHostName(0, kHostName, 256); },
         "INF: gethostname(" + host + " [myhost], 256) returned 0"},
        {"gethostname failed", 10014, [d] { d->GetHostName(-1, kHostName, 256); },
         "ERR: gethostname(" + host + ", 256) returned -1 [10014]"},
        {"gethostname null name", 0, [d] { d->GetHostName(0, nullptr, 256); },
         "INF: gethostname(0x0, 256) returned 0"},
        {"gethostname namelen 0", 0, [d] { d->GetHostName(0, kHostName, 0); },
         "INF: gethostname(" + host + ", 0) returned 0"},
        {"gethostname namelen negative", 0, [d] { d->GetHostName(0, kHostName, -5); },
         "INF: gethostname(" + host + ", -5) returned 0"},
        {"getnameinfo", 0,
         [d] { d->GetNameInfo(0, FakePointer(0x1234), 16, kHostText, 1025, kServText, 32, 8); },
         "INF: getnameinfo(0x1234, 16, " + hostText + " [example.org], 1025, " + servText +
             " [http], 32, 8) returned 0"},
        // The text rule looks at the lengths and pointers, not at the result.
        {"getnameinfo failed with text", 10022,
         [d] { d->GetNameInfo(10022, FakePointer(0x1234), 16, kHostText, 1025, kServText, 32, 0); },
         "ERR: getnameinfo(0x1234, 16, " + hostText + " [example.org], 1025, " + servText +
             " [http], 32, 0) returned 10022 [10022]"},
        {"getnameinfo zero lengths", 11001,
         [d] { d->GetNameInfo(11001, FakePointer(0x1234), 16, kHostText, 0, kServText, 0, 0); },
         "WRN: getnameinfo(0x1234, 16, " + hostText + " [], 0, " + servText +
             " [], 0, 0) returned 11001 [11001]"},
        {"getnameinfo null buffers", 0,
         [d] { d->GetNameInfo(0, nullptr, 0, nullptr, 1025, nullptr, 32, 1); },
         "INF: getnameinfo(0x0, 0, 0x0 [], 1025, 0x0 [], 32, 1) returned 0"},
        {"getnameinfo huge hostlen", 0,
         [d] { d->GetNameInfo(0, nullptr, 0, kHostText, 0xFFFFFFFF, nullptr, 0, 0); },
         "INF: getnameinfo(0x0, 0, " + hostText + " [example.org], -1, 0x0 [], 0, 0) returned 0"},
        {"getpeername", 10054,
         [d] { d->GetPeerName(0, 316, FakePointer(0xabc0), FakeIntPointer(0xabd0)); },
         "INF: getpeername(316, 0xabc0, 0xabd0) returned 0"},
        {"getpeername failed", 10057, [d] { d->GetPeerName(-1, 316, nullptr, nullptr); },
         "ERR: getpeername(316, 0x0, 0x0) returned -1 [10057]"},
        {"getsockname", 0,
         [d] { d->GetSockName(0, 316, FakePointer(0xfffffff0), FakeIntPointer(0x7ffe0000)); },
         "INF: getsockname(316, 0xfffffff0, 0x7ffe0000) returned 0"},
        {"getsockname failed", 10022, [d] { d->GetSockName(-1, 316, nullptr, nullptr); },
         "ERR: getsockname(316, 0x0, 0x0) returned -1 [10022]"},
        {"getsockopt", 0,
         [d] { d->GetSockOpt(0, 316, 0xffff, 0x1006, FakePointer(0x10), FakeIntPointer(0x14)); },
         "INF: getsockopt(316, 65535, 4102, 0x10, 0x14) returned 0"},
        {"getsockopt failed", 10042, [d] { d->GetSockOpt(-1, 316, -1, -2, nullptr, nullptr); },
         "ERR: getsockopt(316, -1, -2, 0x0, 0x0) returned -1 [10042]"},
        {"ioctlsocket FIONBIO", 0,
         [d] { d->IoctlSocket(0, 316, (long)0x8004667eUL, FakePointer(0x1234)); },
         "INF: ioctlsocket(316, 0x8004667e, 0x1234) returned 0"},
        {"ioctlsocket failed", 10038, [d] { d->IoctlSocket(-1, 999999, 0x4004667f, nullptr); },
         "ERR: ioctlsocket(999999, 0x4004667f, 0x0) returned -1 [10038]"},
        {"listen", 0, [d] { d->Listen(0, 316, 5); }, "INF: listen(316, 5) returned 0"},
        {"listen failed", 10022, [d] { d->Listen(-1, 316, 5); },
         "ERR: listen(316, 5) returned -1 [10022]"},
        // Only -1 is the failure value.
        {"listen other negative", 10022, [d] { d->Listen(-2, 316, 0x7fffffff); },
         "INF: listen(316, 2147483647) returned -2"},
        {"recv", 0, [d] { d->Recv(0, 316, FakePointer(0x1234), 512, 2); },
         "INF: recv(316, 0x1234, 512, 2) returned 0"},
        {"recv failed", 10054, [d] { d->Recv(-1, 316, FakePointer(0x1234), 512, 0); },
         "ERR: recv(316, 0x1234, 512, 0) returned -1 [10054]"},
        {"recvfrom", 0,
         [d] {
             d->RecvFrom(0, 316, FakePointer(0x1234), 512, 0, FakePointer(0x2000),
                         FakeIntPointer(0x2010));
         },
         "INF: recvfrom(316, 0x1234, 512, 0, 0x2000, 0x2010) returned 0"},
        {"recvfrom would block", 10035,
         [d] { d->RecvFrom(-1, 316, FakePointer(0x1234), 512, 0, nullptr, nullptr); },
         "WRN: recvfrom(316, 0x1234, 512, 0, 0x0, 0x0) returned -1 [10035]"},
        {"select", 0,
         [d] { d->Select(1, 0, FakePointer(0x1000), nullptr, nullptr, FakePointer(0x2000)); },
         "INF: select(0, 0x1000, 0x0, 0x0, 0x2000) returned 1"},
        {"select timeout", 0, [d] { d->Select(0, 0, nullptr, nullptr, nullptr, nullptr); },
         "INF: select(0, 0x0, 0x0, 0x0, 0x0) returned 0"},
        {"select failed", 10093, [d] { d->Select(-1, 0, nullptr, nullptr, nullptr, nullptr); },
         "ERR: select(0, 0x0, 0x0, 0x0, 0x0) returned -1 [10093]"},
        {"send", 0, [d] { d->Send(0, 316, FakePointer(0x1234), 0, 0); },
         "INF: send(316, 0x1234, 0, 0) returned 0"},
        {"send failed", 10053, [d] { d->Send(-1, 316, FakePointer(0x1234), 100, 1); },
         "ERR: send(316, 0x1234, 100, 1) returned -1 [10053]"},
        {"sendto", 0,
         [d] { d->SendTo(0, 316, FakePointer(0x1234), 0, 0, FakePointer(0x2000), 16); },
         "INF: sendto(316, 0x1234, 0, 0, 0x2000, 16) returned 0"},
        {"sendto failed", 10051,
         [d] { d->SendTo(-1, 316, FakePointer(0x1234), 10, 0, FakePointer(0x2000), 28); },
         "ERR: sendto(316, 0x1234, 10, 0, 0x2000, 28) returned -1 [10051]"},
        {"setsockopt", 0, [d] { d->SetSockOpt(0, 316, 6, 1, FakePointer(0x1234), 4); },
         "INF: setsockopt(316, 6, 1, 0x1234, 4) returned 0"},
        {"setsockopt failed", 10042, [d] { d->SetSockOpt(-1, 316, 0xffff, 0x80, nullptr, -4); },
         "ERR: setsockopt(316, 65535, 128, 0x0, -4) returned -1 [10042]"},
        {"shutdown", 0, [d] { d->Shutdown(0, 316, 2); }, "INF: shutdown(316, 2) returned 0"},
        {"shutdown failed", 10057, [d] { d->Shutdown(-1, 316, 1); },
         "ERR: shutdown(316, 1) returned -1 [10057]"},
        {"socket", 0, [d] { d->Socket(316, 2, 1, 6); }, "INF: socket(2, 1, 6) returned 316"},
        {"socket failed", 10047, [d] { d->Socket(-1, 23, 2, 17); },
         "ERR: socket(23, 2, 17) returned -1 [10047]"},
        // A socket handle with the top bit set prints signed and is not a failure.
        {"socket top bit", 0, [d] { d->Socket((INT_PTR)0xFFFFFFF0, 2, 1, 0); },
         "INF: socket(2, 1, 0) returned -16"},
        {"WSAAccept", 0,
         [d] {
             d->WSAAccept(400, 5, FakePointer(0x1234), FakeIntPointer(0x5678), FakePointer(0x9abc),
                          0xdeadbeef);
         },
         "INF: WSAAccept(5, 0x1234, 0x5678, 0x9abc, 0xdeadbeef) returned 400"},
        {"WSAAccept would block", 10035, [d] { d->WSAAccept(-1, 5, nullptr, nullptr, nullptr, 0); },
         "WRN: WSAAccept(5, 0x0, 0x0, 0x0, 0x0) returned -1 [10035]"},
        {"WSAAccept failed", 10024, [d] { d->WSAAccept(-1, 5, nullptr, nullptr, nullptr, 0); },
         "ERR: WSAAccept(5, 0x0, 0x0, 0x0, 0x0) returned -1 [10024]"},
        {"WSAAsyncSelect", 0,
         [d] { d->WSAAsyncSelect(0, 316, (HWND)FakePointer(0x10a2), 0x401, 0x2b); },
         "INF: WSAAsyncSelect(316, 0x10a2, 0x401, 0x2b) returned 0"},
        {"WSAAsyncSelect failed", 10022,
         [d] { d->WSAAsyncSelect(-1, 316, nullptr, 0xffffffff, -1); },
         "ERR: WSAAsyncSelect(316, 0x0, 0xffffffff, 0xffffffff) returned -1 [10022]"},
        {"WSAEnumNetworkEvents", 0,
         [d] { d->WSAEnumNetworkEvents(0, 316, (HANDLE)FakePointer(0x1a4), FakePointer(0x1234)); },
         "INF: WSAEnumNetworkEvents(316, 0x1a4, 0x1234) returned 0"},
        {"WSAEnumNetworkEvents failed", 10038,
         [d] { d->WSAEnumNetworkEvents(-1, -5, nullptr, nullptr); },
         "ERR: WSAEnumNetworkEvents(-5, 0x0, 0x0) returned -1 [10038]"},
        {"WSAEventSelect", 0, [d] { d->WSAEventSelect(0, 316, (HANDLE)FakePointer(0x1a4), 0x2b); },
         "INF: WSAEventSelect(316, 0x1a4, 0x2b) returned 0"},
        {"WSAEventSelect failed", 10022,
         [d] { d->WSAEventSelect(-1, 316, nullptr, (long)0x80000000UL); },
         "ERR: WSAEventSelect(316, 0x0, 0x80000000) returned -1 [10022]"},
    };
}

using CallLines = SocketTraceTest;

// One row at a time: the row's single line, the handlers' bracket around
// it, and the thread's Win32 error code left as it was.
TEST_F(CallLines, EveryTracerWritesItsExactLine)
{
    StartTrace();
    for (const CallRow &row : TracerRows()) {
        SCOPED_TRACE(row.name);
        FakeSocketLayer &layer = ThisThreadLayer();
        layer.events.clear();
        layer.code = row.code;
        size_t before = LineCount();
        SetLastError(0x2345);
        row.call();
        EXPECT_EQ(GetLastError(), 0x2345u);
        std::vector<std::string> lines = LinesSince(before);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LineFromLevel(lines[0]), row.expected);
        std::vector<HandlerEvent> bracket = {{'G', row.code, 0}, {'S', row.code, 0}};
        EXPECT_EQ(layer.events, bracket);
        EXPECT_EQ(layer.code, row.code);
    }
}

TEST_F(CallLines, NoLiveTraceMeansNoHandlerCallAndNoLine)
{
    ASSERT_EQ(Dll().ActiveCount(), 0);
    for (const CallRow &row : TracerRows()) {
        SCOPED_TRACE(row.name);
        ThisThreadLayer().events.clear();
        SetLastError(0x2345);
        row.call();
        EXPECT_TRUE(ThisThreadLayer().events.empty());
        EXPECT_EQ(GetLastError(), 0x2345u);
    }
    EXPECT_EQ(ReadFileBytes(path), "");
}

// The transfer tracers dump exactly the `result` bytes that were moved,
// right after the call line, and nothing for 0 or -1.
TEST_F(CallLines, TransferDumpsCoverExactlyTheResultBytes)
{
    static const char kData[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const void *buffer = kData;
    std::string bufferText = Hex(buffer);
    struct DumpRow {
        const char *tracer;
        int result;
        std::string lineAfterBuffer; // the call line after its buffer argument
    };
    const DumpRow rows[] = {
        {"send", 4, ", 10, 0) returned 4"},
        {"send", 0, ", 10, 0) returned 0"},
        {"send", -1, ", 10, 0) returned -1 [10054]"},
        {"send", 17, ", 26, 0) returned 17"},
        {"recv", 4, ", 10, 0) returned 4"},
        {"recv", 16, ", 26, 0) returned 16"},
        {"recv", 0, ", 10, 0) returned 0"},
        {"recv", -1, ", 10, 0) returned -1 [10054]"},
        {"sendto", 4, ", 10, 0, 0x0, 0) returned 4"},
        {"sendto", -1, ", 10, 0, 0x0, 0) returned -1 [10054]"},
        {"recvfrom", 9, ", 10, 0, 0x0, 0x0) returned 9"},
        {"recvfrom", 0, ", 10, 0, 0x0, 0x0) returned 0"},
    };
    StartTrace();
    std::string moduleName = ModuleNameOf(path);
    ThisThreadLayer().code = 10054;
    for (const DumpRow &row : rows) {
        std::string tracer = row.tracer;
        SCOPED_TRACE(tracer + " returning " + std::to_string(row.result));
        int len = row.result > 10 ? 26 : 10;
        size_t before = LineCount();
        if (tracer == "send")
            Dll().Send(row.result, 316, buffer, len, 0);
        else if (tracer == "recv")
            Dll().Recv(row.result, 316, buffer, len, 0);
        else if (tracer == "sendto")
            Dll().SendTo(row.result, 316, buffer, len, 0, nullptr, 0);
        else
            Dll().RecvFrom(row.result, 316, buffer, len, 0, nullptr, nullptr);
        std::vector<std::string> expected = {(row.result == -1 ? "ERR: " : "INF: ") + tracer +
                                             "(316, " + bufferText + row.lineAfterBuffer};
        for (int offset = 0; offset < row.result; offset += 16) {
            std::string bytes(kData + offset, (size_t)std::min(16, row.result - offset));
            expected.push_back(DumpLine(moduleName, offset, bytes));
        }
        std::vector<std::string> lines = LinesSince(before);
        if (!lines.empty())
            lines[0] = LineFromLevel(lines[0]);
        EXPECT_EQ(lines, expected);
    }
}

std::vector<unsigned char> Inet6Name(std::vector<unsigned> groups, unsigned port)
{
    std::vector<unsigned char> name(28, 0);
    name[0] = 23;
    name[2] = (unsigned char)(port >> 8);
    name[3] = (unsigned char)port;
    for (size_t i = 0; i < 8; i++) {
        name[8 + 2 * i] = (unsigned char)(groups[i] >> 8);
        name[9 + 2 * i] = (unsigned char)groups[i];
    }
    name[24] = 7; // a scope identifier, never printed
    return name;
}

TEST_F(CallLines, BindShowsTheAddressText)
{
    struct AddressRow {
        std::vector<unsigned char> name; // empty: a null name
        int namelen;
        const char *text;
    };
    const AddressRow rows[] = {
        {Inet6Name({0, 0, 0, 0, 0, 0, 0, 1}, 443), 28, "[::1]:443"},
        {Inet6Name({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}, 443), 28, "[2001:db8::1]:443"},
        {Inet6Name({0, 0, 0, 0, 0, 0xffff, 0x0102, 0x0304}, 443), 28, "[::ffff:1.2.3.4]:443"},
        {Inet6Name({0xfe80, 0, 0, 0, 0, 0, 0, 0}, 443), 28, "[fe80::]:443"},
        {Inet6Name({1, 0, 0, 0, 2, 0, 0, 0}, 443), 28, "[1::2:0:0:0]:443"},
        {Inet6Name({0, 0, 0, 0, 0, 0, 0, 0}, 65535), 28, "[::]:65535"},
        {{2, 0, 0, 80, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 16, "[127.0.0.1]:80"},
        {{2, 0, 0xff, 0xff, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0},
         16,
         "[255.255.255.255]:65535"},
        {{}, 16, "[NULL]"},
        {{0, 0, 0, 80, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 16, ""},
        {{1, 0, 0, 80, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 16, ""},
        // The family's two bytes are little-endian: 0x0200 is not AF_INET.
        {{0, 2, 0, 80, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 16, ""},
    };
    StartTrace();
    for (const AddressRow &row : rows) {
        SCOPED_TRACE(row.text);
        const void *name = row.name.empty() ? nullptr : row.name.data();
        size_t before = LineCount();
        Dll().Bind(0, 5, name, row.namelen);
        std::vector<std::string> lines = LinesSince(before);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LineFromLevel(lines[0]), "INF: bind(5, " + Hex(name) + " " + row.text + ", " +
                                               std::to_string(row.namelen) + ") returned 0");
    }
}

// A call line of 1023 characters is written whole, one of 1024 or more
// not at all; the " [code]" of a failed call comes on top.
TEST_F(CallLines, LineOf1024CharactersIsDropped)
{
    static char node[6000];
    std::string prefix = "getaddrinfo(" + Hex(node) + " [";
    std::string suffix = "], 0x0 [], 0x0, 0x0) returned ";
    struct LengthRow {
        size_t messageLength; // before the " [code]"
        int result;
        bool written;
    };
    const LengthRow rows[] = {
        {1023, 0, true},
        {1024, 0, false},
        {1023, 10054, true},
        {1025, 10054, false},
    };
    StartTrace();
    ThisThreadLayer().code = 10054;
    for (const LengthRow &row : rows) {
        SCOPED_TRACE(row.messageLength);
        std::string resultText = std::to_string(row.result);
        size_t nodeLength = row.messageLength - prefix.size() - suffix.size() - resultText.size();
        std::string nodeText(nodeLength, 'n');
        memcpy(node, nodeText.c_str(), nodeLength + 1);
        size_t before = LineCount();
        Dll().GetAddrInfo(row.result, node, nullptr, nullptr, nullptr);
        std::vector<std::string> lines = LinesSince(before);
        if (!row.written) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u);
        std::string message = prefix + nodeText + suffix + resultText;
        ASSERT_EQ(message.size(), row.messageLength);
        EXPECT_EQ(LineFromLevel(lines[0]),
                  row.result ? "ERR: " + message + " [10054]" : "INF: " + message);
    }
    // A node name far beyond the limit is not cut down to fit: no line.
    memset(node, 'n', sizeof(node) - 1);
    size_t before = LineCount();
    Dll().GetAddrInfo(0, node, nullptr, nullptr, nullptr);
    EXPECT_EQ(LineCount(), before);
}

} // namespace
