// The byte layout of log lines: elapsed time across the tick wrap, the head
// of a text line, the error suffix, line-feed translation and dump lines.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "line_format.h"

namespace {

const char GUARD = 'Z';

// A buffer of room bytes followed by guard bytes, to see that nothing is
// written past room.
struct Guarded {
    explicit Guarded(size_t room) : bytes(room + 16, GUARD), room(room) {}
    char *data() { return bytes.data(); }
    std::string Text(size_t length) const { return std::string(bytes.data(), length); }
    bool GuardIntact() const
    {
        for (size_t i = room; i < bytes.size(); i++) {
            if (bytes[i] != GUARD)
                return false;
        }
        return true;
    }
    std::vector<char> bytes;
    size_t room;
};

TEST(LineFormat, ElapsedIsTheModularDifference)
{
    struct Case {
        uint32_t now;
        uint32_t last;
        uint32_t expected;
    };
    const Case cases[] = {
        {100, 40, 60},
        {7, 7, 0},
        {5, 0xFFFFFFFE, 7},  // across the wrap: FFFFFFFE, FFFFFFFF, 0, ... 5
        {0, 0xFFFFFFFF, 1},
        {0x7FFFFFFF, 0xFFFFFFFF, 0x80000000},
        {0xFFFFFFFF, 0, 0xFFFFFFFF},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ElapsedMilliseconds(c.now, c.last), c.expected) << c.now << " - " << c.last;
}

TEST(LineFormat, LineHead)
{
    struct Case {
        const char *name;
        uint32_t id;
        uint32_t elapsed;
        TRACE_LEVEL level;
        const char *expected;
    };
    const Case cases[] = {
        {"MYCLIENT", 0x0A3C, 15, TRACE_LEVEL_INF, "MYCLIENT 0A3C 0015 INF: "},
        {"MYCLIENT", 0x0A3C, 3, TRACE_LEVEL_ERR, "MYCLIENT 0A3C 0003 ERR: "},
        {"MYCLIENT", 0x0A3C, 0, TRACE_LEVEL_WRN, "MYCLIENT 0A3C 0000 WRN: "},
        {"x", 0x12345, 12345, TRACE_LEVEL_INF, "x 12345 12345 INF: "},
        {"x", 0xFFFFFFFF, 0x7FFFFFFF, TRACE_LEVEL_INF, "x FFFFFFFF 2147483647 INF: "},
        {"x", 0, 0x80000000, TRACE_LEVEL_INF, "x 0000 -2147483648 INF: "},  // a gap of 2^31 ms
        {"x", 0, 0xFFFFFFFF, TRACE_LEVEL_INF, "x 0000 -001 INF: "},
        {nullptr, 1, 1, TRACE_LEVEL_INF, " 0001 0001 INF: "},
    };
    for (const Case &c : cases) {
        size_t length = strlen(c.expected);
        Guarded out(length + 1);
        EXPECT_EQ(FormatLineHead(out.data(), length + 1, c.name, c.id, c.elapsed, c.level), length);
        EXPECT_EQ(out.Text(length + 1), std::string(c.expected, length + 1));
        EXPECT_TRUE(out.GuardIntact());

        // One byte less and the head does not fit.
        Guarded tight(length);
        EXPECT_EQ(FormatLineHead(tight.data(), length, c.name, c.id, c.elapsed, c.level), 0u)
            << c.expected;
        EXPECT_TRUE(tight.GuardIntact());
    }
}

TEST(LineFormat, ErrorSuffix)
{
    struct Case {
        int code;
        const char *expected;
    };
    const Case cases[] = {{10054, " [10054]"}, {0, " [0]"}, {-1, " [-1]"},
                          {INT_MIN, " [-2147483648]"}};
    for (const Case &c : cases) {
        size_t length = strlen(c.expected);
        char out[32];
        EXPECT_EQ(FormatErrorSuffix(out, sizeof(out), c.code), length);
        EXPECT_STREQ(out, c.expected);
        Guarded tight(length);
        EXPECT_EQ(FormatErrorSuffix(tight.data(), length, c.code), 0u) << c.expected;
        EXPECT_TRUE(tight.GuardIntact());
    }
}

TEST(LineFormat, LineFeedsBecomeCrLf)
{
    struct Case {
        std::string message;
        size_t room;
        std::string expected;
        size_t consumed;
    };
    const Case cases[] = {
        {"a\nb", 16, "a\r\nb", 3},
        {"\n\n", 16, "\r\n\r\n", 2},
        {"a\rb", 16, "a\rb", 3},          // a carriage return alone is kept
        {"a\r\nb", 16, "a\r\r\nb", 4},    // as a text-mode stream stores it
        {std::string("a\0b", 3), 16, std::string("a\0b", 3), 3},
        {"abc", 2, "ab", 2},
        {"a\nb", 2, "a", 1},              // the CR LF pair is not split
        {"a\nb", 3, "a\r\n", 2},
        {"\n", 1, "", 0},
        {"abc", 0, "", 0},
        {"", 4, "", 0},
    };
    for (const Case &c : cases) {
        Guarded out(c.room);
        size_t consumed = 99;
        size_t produced =
            TranslateLineFeeds(out.data(), c.room, c.message.data(), c.message.size(), &consumed);
        EXPECT_EQ(produced, c.expected.size()) << "room " << c.room;
        EXPECT_EQ(out.Text(produced), c.expected) << "room " << c.room;
        EXPECT_EQ(consumed, c.consumed) << "room " << c.room;
        EXPECT_TRUE(out.GuardIntact()) << "room " << c.room;
    }
}

std::string Fillers(size_t missingBytes)
{
    return std::string(3 * missingBytes, ' ');
}

TEST(LineFormat, DumpLines)
{
    struct Case {
        size_t indent;
        uint32_t offset;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {9, 0, "USER anonymous\r\n",
         "         0000  55 53 45 52 20 61 6E 6F:6E 79 6D 6F 75 73 0D 0A  USER anonymous..\r\n"},
        {9, 0, "abc", "         0000  61 62 63 " + Fillers(13) + " abc\r\n"},
        {0, 0x10, "ABCDEFGH", "0010  41 42 43 44 45 46 47 48:" + Fillers(8) + " ABCDEFGH\r\n"},
        {0, 0x0FF0, std::string(1, '\0'), "0FF0  00 " + Fillers(15) + " .\r\n"},
        {1, 0, "\x1F\x7F\x80\xFF \x7E", " 0000  1F 7F 80 FF 20 7E " + Fillers(10) + " .... ~\r\n"},
        {2, 0x10010, "A", "  10010  41 " + Fillers(15) + " A\r\n"},
        {0, 0xFFFFFFF0, "z", "FFFFFFF0  7A " + Fillers(15) + " z\r\n"},
    };
    for (const Case &c : cases) {
        Guarded out(c.indent + DUMP_LINE_BODY_ROOM);
        size_t length = FormatDumpLine(out.data(), out.room, c.indent, c.offset,
                                       (const unsigned char *)c.bytes.data(), c.bytes.size());
        EXPECT_EQ(out.Text(length), c.expected);
        EXPECT_TRUE(out.GuardIntact());
    }

    // Every byte value, 16 to a line: the character column keeps 0x20..0x7E.
    for (unsigned first = 0; first < 256; first += 16) {
        unsigned char bytes[16];
        std::string expected = "0000  ";
        std::string characters;
        const char hex[] = "0123456789ABCDEF";
        for (unsigned i = 0; i < 16; i++) {
            bytes[i] = (unsigned char)(first + i);
            expected += hex[bytes[i] >> 4];
            expected += hex[bytes[i] & 15];
            expected += i == 7 ? ':' : ' ';
            characters += (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? (char)bytes[i] : '.';
        }
        expected += " " + characters + "\r\n";
        char out[DUMP_LINE_BODY_ROOM];
        size_t length = FormatDumpLine(out, sizeof(out), 0, 0, bytes, 16);
        EXPECT_EQ(std::string(out, length), expected);
    }
}

// A block formatted in bulk is the same text as line by line, stops before
// the first line whose worst case (indent + DUMP_LINE_BODY_ROOM) no longer
// fits, and says how many bytes it took.
TEST(LineFormat, DumpLinesInBulk)
{
    std::vector<unsigned char> block(4099);
    for (size_t i = 0; i < block.size(); i++)
        block[i] = (unsigned char)(i * 37 + 11);
    const size_t indent = 6;
    const size_t worst = indent + DUMP_LINE_BODY_ROOM;
    struct Case {
        uint32_t offset;
        size_t length;
        size_t roomAfterLines; // room: the text of this many lines plus one worst case
        int shortBy;           // ... less this many bytes
        size_t expectedLines;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0},         {0, 1, 0, 0, 1},         {0, 16, 0, 0, 1},
        {0, 17, 1, 0, 2},        {0, 4099, 256, 0, 257},  {0xFFC0, 100, 6, 0, 7},
        {0, 100, 3, 0, 4},       {0, 100, 3, 1, 3},       {0, 100, 0, 1, 0},
        {0, 4099, 200, 0, 201},
    };
    for (const Case &c : cases) {
        std::string expected;
        std::vector<size_t> ends(1, 0);
        for (size_t taken = 0; taken < c.length; taken += 16) {
            char line[64 + DUMP_LINE_BODY_ROOM];
            size_t count = c.length - taken < 16 ? c.length - taken : 16;
            expected += std::string(line, FormatDumpLine(line, sizeof(line), indent,
                                                         c.offset + (uint32_t)taken,
                                                         block.data() + taken, count));
            ends.push_back(expected.size());
        }
        size_t room = ends[c.roomAfterLines] + worst - c.shortBy;
        Guarded out(room);
        size_t consumed = 99;
        size_t length = FormatDumpLines(out.data(), room, indent, c.offset, block.data(), c.length,
                                        &consumed);
        EXPECT_EQ(out.Text(length), expected.substr(0, ends[c.expectedLines]))
            << "offset " << c.offset << " length " << c.length << " room " << room;
        EXPECT_EQ(consumed, std::min(c.expectedLines * 16, c.length));
        EXPECT_TRUE(out.GuardIntact());
    }
}

TEST(LineFormat, DumpLineRefusals)
{
    const unsigned char bytes[17] = {0};
    struct Case {
        size_t room;
        size_t indent;
        size_t count;
    };
    const Case cases[] = {
        {DUMP_LINE_BODY_ROOM + 8, 8, 0},        // nothing to dump
        {DUMP_LINE_BODY_ROOM + 8, 8, 17},       // more than a line
        {DUMP_LINE_BODY_ROOM + 7, 8, 16},       // room too small
        {10, 0, 1},
        {0, 0, 1},
        {200, SIZE_MAX - 40, 1},                // an indent beyond any room
        {200, SIZE_MAX, 1},
    };
    for (const Case &c : cases) {
        Guarded out(c.room);
        EXPECT_EQ(FormatDumpLine(out.data(), c.room, c.indent, 0, bytes, c.count), 0u)
            << "room " << c.room << " indent " << c.indent << " count " << c.count;
        EXPECT_TRUE(out.GuardIntact());
    }
}

}  // namespace
