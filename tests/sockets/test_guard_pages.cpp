// The tracers read caller memory only within the lengths they are given.
// Each buffer ends exactly where an inaccessible page begins: one byte read
// too many crashes this program, which fails the run.
#include <climits>
#include <cstring>

#include "socket_test_support.h"

namespace
{

// Two committed pages, the second one made inaccessible.
class GuardedPage
{
  public:
    GuardedPage()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        pageSize = info.dwPageSize;
        base =
            (char *)VirtualAlloc(nullptr, 2 * pageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        DWORD old;
        if (base && !VirtualProtect(base + pageSize, pageSize, PAGE_NOACCESS, &old)) {
            VirtualFree(base, 0, MEM_RELEASE);
            base = nullptr;
        }
    }
    ~GuardedPage()
    {
        if (base)
            VirtualFree(base, 0, MEM_RELEASE);
    }
    GuardedPage(const GuardedPage &) = delete;
    GuardedPage &operator=(const GuardedPage &) = delete;

    bool Ready() const { return base != nullptr; }

    // The bytes copied so that the last one is right before the guard.
    const char *AtGuard(const std::string &bytes)
    {
        char *at = base + pageSize - bytes.size();
        memcpy(at, bytes.data(), bytes.size());
        return at;
    }

  private:
    char *base = nullptr;
    DWORD pageSize = 0;
};

using GuardPages = SocketTraceTest;

std::string Bytes(std::initializer_list<unsigned char> values)
{
    return std::string(values.begin(), values.end());
}

// What is read of a bind or connect name: never more than namelen bytes,
// and nothing but the whole layout of a known family makes an address text.
TEST_F(GuardPages, ShortSocketAddressesAreReadWithinNamelen)
{
    std::string inet = Bytes({2, 0, 0, 80, 1, 2, 3, 4});
    std::string inet6 =
        Bytes({23, 0, 0x01, 0xbb, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    struct NameRow {
        std::string bytes; // placed right before the guard
        int namelen;
        const char *text;
    };
    const NameRow rows[] = {
        {inet.substr(0, 6), 6, ""},
        {inet.substr(0, 7), 7, ""},
        {inet, 8, "[1.2.3.4]:80"},
        {inet6.substr(0, 20), 20, ""},
        {inet6.substr(0, 23), 23, ""},
        {inet6.substr(0, 16), 16, ""},
        {inet6, 24, "[::1]:443"},
        {inet.substr(0, 1), 1, ""},
        {"", 0, ""},
        {"", -1, ""},
        {"", INT_MIN, ""},
        {inet, -8, ""},
    };
    GuardedPage page;
    ASSERT_TRUE(page.Ready());
    StartTrace();
    ThisThreadLayer().code = 10014;
    for (const NameRow &row : rows) {
        SCOPED_TRACE(std::to_string(row.bytes.size()) + " bytes, namelen " +
                     std::to_string(row.namelen));
        const char *name = page.AtGuard(row.bytes);
        std::string args = "(5, " + Hex(name) + " " + row.text + ", " +
                           std::to_string(row.namelen) + ") returned -1 [10014]";
        size_t before = LineCount();
        Dll().Bind(-1, 5, name, row.namelen);
        Dll().Connect(-1, 5, name, row.namelen);
        std::vector<std::string> lines = LinesSince(before);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(LineFromLevel(lines[0]), "ERR: bind" + args);
        EXPECT_EQ(LineFromLevel(lines[1]), "ERR: connect" + args);
    }
}

// A getnameinfo buffer may hold no terminating zero (a failed call leaves
// it as it was): its text is at most hostlen or servlen bytes.
TEST_F(GuardPages, NameInfoTextsAreReadWithinTheirLengths)
{
    struct NameInfoRow {
        std::string host; // exactly hostlen bytes, right before the guard
        std::string serv; // exactly servlen bytes, right before the guard
        int result;
        const char *hostText;
        const char *servText;
    };
    const NameInfoRow rows[] = {
        {"hostname", "https", 11001, "hostname", "https"},
        {"hostname", "https", 0, "hostname", "https"},
        {std::string("ab\0xyz", 6), std::string("8\0", 2), 10022, "ab", "8"},
        {"", "", 10022, "", ""},
        {std::string(1030, 'h'), "s", 11001, nullptr, "s"},
    };
    GuardedPage hostPage;
    GuardedPage servPage;
    ASSERT_TRUE(hostPage.Ready() && servPage.Ready());
    StartTrace();
    for (const NameInfoRow &row : rows) {
        SCOPED_TRACE(row.host.substr(0, 16) + " / " + row.serv);
        const char *host = hostPage.AtGuard(row.host);
        const char *serv = servPage.AtGuard(row.serv);
        ThisThreadLayer().code = row.result;
        size_t before = LineCount();
        Dll().GetNameInfo(row.result, FakePointer(0x1234), 16, host, (DWORD)row.host.size(), serv,
                          (DWORD)row.serv.size(), 2);
        std::vector<std::string> lines = LinesSince(before);
        if (!row.hostText) {
            // Too long for a line, dropped whole; reading it was the test.
            EXPECT_TRUE(lines.empty());
            continue;
        }
        std::string level = row.result == 0 ? "INF: " : row.result > 11000 ? "WRN: " : "ERR: ";
        std::string code = row.result == 0 ? "" : " [" + std::to_string(row.result) + "]";
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LineFromLevel(lines[0]),
                  level + "getnameinfo(0x1234, 16, " + Hex(host) + " [" + row.hostText + "], " +
                      std::to_string(row.host.size()) + ", " + Hex(serv) + " [" + row.servText +
                      "], " + std::to_string(row.serv.size()) + ", 2) returned " +
                      std::to_string(row.result) + code);
    }
}

TEST_F(GuardPages, HostNameIsReadWithinNamelen)
{
    struct HostNameRow {
        std::string name; // exactly the bytes before the guard
        int namelen;
        int result;
        std::string expectedAfterPointer;
    };
    const HostNameRow rows[] = {
        {"myhost12", 8, 0, " [myhost12], 8) returned 0"},
        {std::string("ab\0\0", 4), 4, 0, " [ab], 4) returned 0"},
        {"myhost12", 8, -1, ", 8) returned -1 [10014]"},
        {"", 0, 0, ", 0) returned 0"},
        {"", -3, 0, ", -3) returned 0"},
    };
    GuardedPage page;
    ASSERT_TRUE(page.Ready());
    StartTrace();
    ThisThreadLayer().code = 10014;
    for (const HostNameRow &row : rows) {
        SCOPED_TRACE(row.expectedAfterPointer);
        const char *name = page.AtGuard(row.name);
        size_t before = LineCount();
        Dll().GetHostName(row.result, name, row.namelen);
        std::vector<std::string> lines = LinesSince(before);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LineFromLevel(lines[0]), (row.result ? "ERR: " : "INF: ") +
                                               std::string("gethostname(") + Hex(name) +
                                               row.expectedAfterPointer);
    }
}

// A transfer of `result` bytes out of a larger len dumps only those bytes.
TEST_F(GuardPages, DumpsReadOnlyTheResultBytes)
{
    GuardedPage page;
    ASSERT_TRUE(page.Ready());
    StartTrace();
    const char *data = page.AtGuard("WXYZ");
    std::string dump = DumpLine(ModuleNameOf(path), 0, "WXYZ");
    size_t before = LineCount();
    Dll().Send(4, 316, data, 10, 0);
    Dll().Recv(4, 316, data, 10, 0);
    Dll().SendTo(4, 316, data, 10, 0, nullptr, 0);
    Dll().RecvFrom(4, 316, data, 10, 0, nullptr, nullptr);
    std::vector<std::string> lines = LinesSince(before);
    ASSERT_EQ(lines.size(), 8u);
    for (size_t i = 1; i < lines.size(); i += 2)
        EXPECT_EQ(lines[i], dump);
}

} // namespace
