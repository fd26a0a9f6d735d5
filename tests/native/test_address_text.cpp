// Socket addresses as text: IPv4, IPv6 and whole socket addresses, read only
// within their bounds, and IPv6 compared with the C library's inet_ntop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "address_text.h"

namespace {

struct Inet4Case {
    int maxLength;
    const unsigned char *addr;
    const char *expected;  // null: the call returns null
};

const unsigned char ADDR_192[] = {192, 168, 100, 200};
const unsigned char ADDR_ZERO[] = {0, 0, 0, 0};
const unsigned char ADDR_ONES[] = {255, 255, 255, 255};

TEST(AddressText, Inet4)
{
    const Inet4Case cases[] = {
        {64, ADDR_192, "192.168.100.200"},
        {16, ADDR_192, "192.168.100.200"},
        {15, ADDR_192, "192.168.100.20"},
        {5, ADDR_192, "192."},
        {2, ADDR_192, "1"},
        {1, ADDR_192, ""},
        {0, ADDR_192, nullptr},
        {-1, ADDR_192, nullptr},
        {INT_MIN, ADDR_192, nullptr},
        {64, ADDR_ZERO, "0.0.0.0"},
        {64, ADDR_ONES, "255.255.255.255"},
        {64, nullptr, "NULL"},
        {3, nullptr, "NU"},
    };
    for (const Inet4Case &c : cases) {
        const size_t size = 80;
        std::vector<char> out(size, 'Z');
        // The address is copied into a block of exactly four bytes.
        unsigned char *addr = nullptr;
        if (c.addr) {
            addr = new unsigned char[4];
            memcpy(addr, c.addr, 4);
        }
        char *result = FormatInetAddress(out.data(), c.maxLength, addr);
        delete[] addr;
        if (!c.expected) {
            EXPECT_EQ(result, nullptr) << c.maxLength;
            EXPECT_EQ(out[0], 'Z') << c.maxLength;
            continue;
        }
        EXPECT_EQ(result, out.data());
        EXPECT_STREQ(out.data(), c.expected) << c.maxLength;
        for (size_t i = (size_t)c.maxLength; i < size; i++)
            ASSERT_EQ(out[i], 'Z') << "written at " << i << " with maxLength " << c.maxLength;
    }
    EXPECT_EQ(FormatInetAddress(nullptr, 16, ADDR_192), nullptr);
}

struct Groups {
    uint16_t g[8];
};

void ToBytes(const Groups &groups, unsigned char bytes[16])
{
    for (int i = 0; i < 8; i++) {
        bytes[2 * i] = (unsigned char)(groups.g[i] >> 8);
        bytes[2 * i + 1] = (unsigned char)groups.g[i];
    }
}

std::string Inet6(const Groups &groups)
{
    unsigned char *bytes = new unsigned char[16];  // exactly 16, so overreads show
    ToBytes(groups, bytes);
    char out[ADDRESS_TEXT_ROOM];
    memset(out, 'Z', sizeof(out));
    const char *result = FormatInet6Address(bytes, out);
    delete[] bytes;
    if (result != out)
        return "<null>";
    return out;
}

TEST(AddressText, Inet6)
{
    struct Case {
        Groups groups;
        const char *expected;
    };
    const Case cases[] = {
        {{{0, 0, 0, 0, 0, 0, 0, 0}}, "::"},
        {{{0, 0, 0, 0, 0, 0, 0, 1}}, "::1"},
        {{{0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}}, "2001:db8::1"},
        {{{0xfe80, 0, 0, 0, 0, 0, 0, 0}}, "fe80::"},
        {{{0, 0, 0, 0, 0, 0xffff, 0x0102, 0x0304}}, "::ffff:1.2.3.4"},
        {{{0, 0, 0, 0, 0, 0, 0x0102, 0x0304}}, "::1.2.3.4"},
        {{{1, 0, 0, 2, 0, 0, 0, 3}}, "1:0:0:2::3"},
        {{{1, 0, 0, 0, 2, 0, 0, 0}}, "1::2:0:0:0"},
        {{{0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}}, "2001:db8:0:1:1:1:1:1"},
        {{{0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}}, "2001:db8::1:0:0:1"},
        {{{1, 0, 0, 0, 0, 0, 0, 0}}, "1::"},
        {{{0, 0, 0, 0, 0, 0xffff, 0, 0}}, "::ffff:0.0.0.0"},
        {{{0, 0, 0, 0, 0, 0, 2, 3}}, "::0.2.0.3"},
        {{{0, 0, 0, 0, 0, 0, 1, 0}}, "::0.1.0.0"},
        {{{0, 0, 0, 0, 0, 0, 0, 0xffff}}, "::ffff"},       // a run of 7: hexadecimal
        {{{0, 0, 0, 0, 1, 0xffff, 0x0102, 0x0304}}, "::1:ffff:102:304"},
        {{{0, 0, 0, 0, 0, 0xfffe, 0x0102, 0x0304}}, "::fffe:102:304"},
        {{{0, 0, 0, 0, 0xffff, 0, 0x0102, 0x0304}}, "::ffff:0:102:304"},
        {{{1, 2, 3, 4, 5, 6, 7, 8}}, "1:2:3:4:5:6:7:8"},
        {{{0xabcd, 0, 0xef01, 0, 0x2345, 0, 0x6789, 0}}, "abcd:0:ef01:0:2345:0:6789:0"},
        {{{0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff}},
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},  // the longest form, 39 characters
    };
    for (const Case &c : cases)
        EXPECT_EQ(Inet6(c.groups), c.expected) << c.expected;

    char out[ADDRESS_TEXT_ROOM];
    EXPECT_EQ(FormatInet6Address(nullptr, out), out);
    EXPECT_STREQ(out, "NULL");
    unsigned char loopback[16] = {0};
    loopback[15] = 1;
    EXPECT_EQ(FormatInet6Address(loopback, nullptr), nullptr);
}

// A socket address laid out as on Windows: family little-endian, port in
// network order, then the address.
std::vector<unsigned char> SockAddress(int family, uint16_t port, const unsigned char *addr,
                                       size_t addrSize, size_t total)
{
    std::vector<unsigned char> bytes(total, 0);
    bytes[0] = (unsigned char)family;
    bytes[1] = (unsigned char)(family >> 8);
    bytes[2] = (unsigned char)(port >> 8);
    bytes[3] = (unsigned char)port;
    size_t at = family == TRACE_AF_INET6 ? 8 : 4;
    if (addr)
        memcpy(bytes.data() + at, addr, addrSize);
    return bytes;
}

// Formats from a heap block holding exactly the bytes given, so a read past
// them is an overread that AddressSanitizer reports.
std::string Bounded(const std::vector<unsigned char> &name, size_t copied, int length)
{
    unsigned char *block = new unsigned char[copied > 0 ? copied : 1];
    memcpy(block, name.data(), copied);
    char out[SOCK_ADDRESS_TEXT_ROOM];
    memset(out, 'Z', sizeof(out));
    const char *result = FormatSockAddressBounded(block, length, out);
    delete[] block;
    return result == out ? out : "<null>";
}

const unsigned char LOCALHOST[] = {127, 0, 0, 1};
const unsigned char LOOPBACK6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const unsigned char MAPPED6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0, 1};

TEST(AddressText, SockAddress)
{
    struct Case {
        std::vector<unsigned char> name;
        const char *expected;
    };
    const Case cases[] = {
        {SockAddress(TRACE_AF_INET, 80, LOCALHOST, 4, 16), "[127.0.0.1]:80"},
        {SockAddress(TRACE_AF_INET, 65535, ADDR_192, 4, 16), "[192.168.100.200]:65535"},
        {SockAddress(TRACE_AF_INET6, 443, LOOPBACK6, 16, 28), "[::1]:443"},
        {SockAddress(TRACE_AF_INET6, 0, MAPPED6, 16, 28), "[::ffff:10.0.0.1]:0"},
        {SockAddress(0, 80, LOCALHOST, 4, 28), ""},
        {SockAddress(1, 80, LOCALHOST, 4, 28), ""},
        {SockAddress(TRACE_AF_INET | 0x100, 80, LOCALHOST, 4, 28), ""},  // family 258
        {SockAddress(TRACE_AF_INET << 8, 80, LOCALHOST, 4, 28), ""},     // big-endian family
    };
    for (const Case &c : cases) {
        char out[SOCK_ADDRESS_TEXT_ROOM];
        memset(out, 'Z', sizeof(out));
        EXPECT_EQ(FormatSockAddress(c.name.data(), out), out);
        EXPECT_STREQ(out, c.expected);
        // The full layout given as the length reads the same.
        EXPECT_EQ(Bounded(c.name, c.name.size(), (int)c.name.size()), c.expected);
    }

    char out[SOCK_ADDRESS_TEXT_ROOM];
    EXPECT_EQ(FormatSockAddress(nullptr, out), out);
    EXPECT_STREQ(out, "[NULL]");
    EXPECT_EQ(FormatSockAddress(cases[0].name.data(), nullptr), nullptr);
    EXPECT_EQ(FormatSockAddressBounded(nullptr, 16, out), out);
    EXPECT_STREQ(out, "[NULL]");
}

// bind and connect hand over a name with its length: only those bytes exist.
TEST(AddressText, SockAddressReadsOnlyItsLength)
{
    const std::vector<unsigned char> inet = SockAddress(TRACE_AF_INET, 80, LOCALHOST, 4, 16);
    const std::vector<unsigned char> inet6 = SockAddress(TRACE_AF_INET6, 443, LOOPBACK6, 16, 28);
    struct Case {
        const std::vector<unsigned char> *name;
        size_t copied;  // bytes that exist
        int length;     // length given
        const char *expected;
    };
    const Case cases[] = {
        {&inet, 8, 8, "[127.0.0.1]:80"},
        {&inet, 7, 7, ""},
        {&inet, 4, 4, ""},
        {&inet, 2, 2, ""},
        {&inet, 1, 1, ""},
        {&inet, 16, 0, ""},
        {&inet, 16, -1, ""},
        {&inet, 16, INT_MIN, ""},
        {&inet6, 24, 24, "[::1]:443"},
        {&inet6, 23, 23, ""},
        {&inet6, 16, 16, ""},  // a sockaddr_in's length with an AF_INET6 family
        {&inet6, 8, 8, ""},
        {&inet6, 28, -28, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Bounded(*c.name, c.copied, c.length), c.expected)
            << "copied " << c.copied << " length " << c.length;
    }
    // No bytes at all: only a zero length may come with them.
    char out[SOCK_ADDRESS_TEXT_ROOM];
    unsigned char *none = new unsigned char[1];
    EXPECT_EQ(FormatSockAddressBounded(none + 1, 0, out), out);
    EXPECT_STREQ(out, "");
    delete[] none;
}

// The shapes where the text rules make choices, by how the test tells them
// apart; random addresses are counted per shape.
enum Shape {
    SHAPE_MAPPED,        // 0:0:0:0:0:ffff:x:x, dotted IPv4 after ::ffff:
    SHAPE_COMPATIBLE,    // six zero groups, then x:x with group 6 not zero
    SHAPE_SEVEN_ZEROS,   // seven or eight zero groups: hexadecimal (::, ::1)
    SHAPE_TIED_RUNS,     // two longest zero runs of equal length: the first shortens
    SHAPE_SINGLE_ZEROS,  // no run of two: single zero groups print as 0
    SHAPE_NO_ZERO,
    SHAPE_OTHER_RUN,     // one longest run of two or more, none of the above
    SHAPE_COUNT
};

const char *const SHAPE_NAMES[SHAPE_COUNT] = {
    "IPv4-mapped", "IPv4-compatible", "seven or eight zero groups", "tied zero runs",
    "single zero groups", "no zero group", "other zero run"};

// Where glibc's inet_ntop writes a different text on purpose. The C library
// of this build machine (glibc) shortens the same run (the first of equally
// long ones, never a single group), writes lower-case digits without leading
// zeros, and uses the dotted tail exactly for ::ffff:a.b.c.d and for six
// zero groups followed by a nonzero group 6; ::x (seven zero groups) stays
// hexadecimal in both. So no shape may differ.
const bool DIFFERENCE_EXPECTED[SHAPE_COUNT] = {false, false, false, false, false, false, false};

Shape ShapeOf(const Groups &a)
{
    bool firstFiveZero = !a.g[0] && !a.g[1] && !a.g[2] && !a.g[3] && !a.g[4];
    if (firstFiveZero && a.g[5] == 0xffff)
        return SHAPE_MAPPED;
    if (firstFiveZero && !a.g[5] && a.g[6])
        return SHAPE_COMPATIBLE;
    if (firstFiveZero && !a.g[5] && !a.g[6])
        return SHAPE_SEVEN_ZEROS;
    int longest = 0;
    int longestCount = 0;
    int zeros = 0;
    for (int i = 0; i < 8;) {
        if (a.g[i]) {
            i++;
            continue;
        }
        int start = i;
        while (i < 8 && !a.g[i])
            i++;
        zeros += i - start;
        if (i - start > longest) {
            longest = i - start;
            longestCount = 1;
        } else if (i - start == longest) {
            longestCount++;
        }
    }
    if (zeros == 0)
        return SHAPE_NO_ZERO;
    if (longest < 2)
        return SHAPE_SINGLE_ZEROS;
    return longestCount > 1 ? SHAPE_TIED_RUNS : SHAPE_OTHER_RUN;
}

// Random addresses biased towards what matters to the rules: zero groups and
// short zero runs anywhere, the mapped and compatible prefixes, and groups
// whose digits need leading-zero suppression.
Groups RandomAddress(std::mt19937 &random)
{
    Groups a;
    auto group = [&random]() -> uint16_t {
        switch (random() % 8) {
        case 0:
        case 1:
        case 2:
            return 0;
        case 3:
            return 0xffff;
        case 4:
            return (uint16_t)(random() % 16);
        case 5:
            return (uint16_t)(random() % 0x100);
        default:
            return (uint16_t)random();
        }
    };
    for (int i = 0; i < 8; i++)
        a.g[i] = group();
    switch (random() % 6) {
    case 0:  // mapped, or almost
        for (int i = 0; i < 5; i++)
            a.g[i] = 0;
        a.g[5] = random() % 4 ? 0xffff : group();
        break;
    case 1:  // compatible, or almost
        for (int i = 0; i < 6; i++)
            a.g[i] = random() % 16 ? 0 : group();
        break;
    case 2: {  // one or two short runs over nonzero groups
        for (int i = 0; i < 8; i++)
            a.g[i] = (uint16_t)(1 + random() % 0xffff);
        int runs = 1 + (int)(random() % 2);
        for (int r = 0; r < runs; r++) {
            int start = (int)(random() % 8);
            int length = 1 + (int)(random() % 3);
            for (int i = start; i < start + length && i < 8; i++)
                a.g[i] = 0;
        }
        break;
    }
    default:  // as drawn
        break;
    }
    return a;
}

TEST(AddressText, Inet6AgreesWithInetNtop)
{
    std::mt19937 random(5952);
    const int total = 1000000;
    long compared[SHAPE_COUNT] = {0};
    long differences[SHAPE_COUNT] = {0};
    unsigned char bytes[16];
    char ours[ADDRESS_TEXT_ROOM];
    char theirs[INET6_ADDRSTRLEN];
    for (int n = 0; n < total; n++) {
        Groups a = RandomAddress(random);
        ToBytes(a, bytes);
        ASSERT_EQ(FormatInet6Address(bytes, ours), ours);
        ASSERT_NE(inet_ntop(AF_INET6, bytes, theirs, sizeof(theirs)), nullptr);
        Shape shape = ShapeOf(a);
        compared[shape]++;
        if (strcmp(ours, theirs) != 0) {
            if (!DIFFERENCE_EXPECTED[shape])
                ADD_FAILURE() << SHAPE_NAMES[shape] << ": ours " << ours << ", inet_ntop "
                              << theirs;
            else if (differences[shape] == 0)
                printf("  expected difference, %s: ours %s, inet_ntop %s\n", SHAPE_NAMES[shape],
                       ours, theirs);
            differences[shape]++;
            if (!DIFFERENCE_EXPECTED[shape] && differences[shape] >= 20)
                FAIL() << "stopping after 20 differences in " << SHAPE_NAMES[shape];
        }
    }
    long totalDifferences = 0;
    printf("FormatInet6Address compared with inet_ntop: %d addresses\n", total);
    for (int s = 0; s < SHAPE_COUNT; s++) {
        printf("  %-28s %8ld compared, %ld different\n", SHAPE_NAMES[s], compared[s],
               differences[s]);
        RecordProperty(std::string("compared ") + SHAPE_NAMES[s], (int)compared[s]);
        RecordProperty(std::string("different ") + SHAPE_NAMES[s], (int)differences[s]);
        totalDifferences += differences[s];
        // Every shape must actually be drawn, or the comparison proves little.
        EXPECT_GT(compared[s], 1000) << SHAPE_NAMES[s];
    }
    printf("  differences in all: %ld\n", totalDifferences);
}

}  // namespace
