// The line checker itself: it must accept every layout the DLL writes and
// reject the shapes a torn or interleaved write leaves behind.
#include <gtest/gtest.h>

#include "log_grammar.h"

namespace {

const char PROGRAM[] = "MYCLIENT";
const std::string INDENT(sizeof(PROGRAM), ' ');  // name plus one space

const std::string START_LINE =
    "MYCLIENT 0A3C 0000 INF: started thread 0x0A3C trace on 07-01-2019 18:02:50 "
    "Windows x86-6.2.9200 [9.5.9530.3421]\r\n";
const std::string CALL_LINE = "MYCLIENT 0A3C 0015 INF: socket(2, 1, 6) returned 316\r\n";
const std::string ERROR_LINE = "MYCLIENT 0A3C 0003 ERR: listen(316, 5) returned -1 [10022]\r\n";
const std::string DUMP_LINE =
    INDENT + "0000  55 53 45 52 20 61 6E 6F:6E 79 6D 6F 75 73 0D 0A  USER anonymous..\r\n";

}  // namespace

TEST(Grammar, AcceptsEveryLayoutTheLibraryWrites)
{
    std::string log = START_LINE + CALL_LINE + ERROR_LINE + DUMP_LINE +
                      INDENT + "0010  61 62 63" + std::string(13 * 3 + 1, ' ') + " abc\r\n" +
                      "MYCLIENT 0A3C -001 WRN: recv(316, 0x0, 5, 0) returned -1 [10035]\r\n" +
                      "MYCLIENT 00012345 123456 ERR: x [-5]\r\n" +
                      INDENT + "0000  00 01 02 03 04 05 06 07:" + std::string(8 * 3, ' ') +
                      " ........\r\n" + "MYCLIENT 0A3C 0000 INF: \r\n";
    LogCheck check = CheckLogBytes(log, PROGRAM);
    EXPECT_TRUE(check.Clean()) << DescribeBadLines(check);
    EXPECT_EQ(check.lineCount, 9u);
    EXPECT_EQ(check.dumpLines.size(), 3u);
    ASSERT_EQ(check.keys.size(), 2u);
    EXPECT_EQ(check.keys[0x0A3C].level[LOG_INF], 3u);
    EXPECT_EQ(check.keys[0x0A3C].level[LOG_WRN], 1u);
    EXPECT_EQ(check.keys[0x0A3C].level[LOG_ERR], 1u);
    EXPECT_EQ(check.keys[0x12345].level[LOG_ERR], 1u);
    ASSERT_EQ(check.textLines.size(), 6u);
    EXPECT_EQ(check.textLines[2].message, "listen(316, 5) returned -1");
    EXPECT_EQ(check.textLines[2].code, 10022);
    EXPECT_EQ(check.textLines[3].elapsed, -1);
    EXPECT_EQ(check.dumpLines[0].bytes, "USER anonymous\r\n");
    EXPECT_EQ(check.dumpLines[1].offset, 0x10u);
    EXPECT_EQ(check.dumpLines[1].bytes, "abc");
}

TEST(Grammar, RejectsBrokenLines)
{
    const std::string full = DUMP_LINE.substr(INDENT.size());
    struct Case {
        const char *what;
        std::string line;
    } cases[] = {
        {"cut short at the end of the file", "MYCLIENT 0A3C 0015 INF: socket(2, 1, 6) ret"},
        {"a bare line feed inside", "MYCLIENT 0A3C 0015 INF: socket(2,\n 1, 6)\r\n"},
        {"a bare carriage return inside", "MYCLIENT 0A3C 0015 INF: so\rcket\r\n"},
        {"the head of the line lost", "ENT 0A3C 0015 INF: socket(2, 1, 6) returned 316\r\n"},
        {"another program name", "MYCLIENTS 0A3C 0015 INF: x\r\n"},
        {"a short key", "MYCLIENT A3C 0015 INF: x\r\n"},
        {"a lower-case key", "MYCLIENT 0a3c 0015 INF: x\r\n"},
        {"a short elapsed column", "MYCLIENT 0A3C 015 INF: x\r\n"},
        {"an unknown level", "MYCLIENT 0A3C 0015 DBG: x\r\n"},
        {"the level cut", "MYCLIENT 0A3C 0015 ERR\r\n"},
        {"an error without its code", "MYCLIENT 0A3C 0015 ERR: listen(316, 5) returned -1\r\n"},
        {"a broken code", "MYCLIENT 0A3C 0015 WRN: recv() returned -1 [100a5]\r\n"},
        {"a dump indented too little", INDENT.substr(1) + full},
        {"a dump line cut in its hex column", INDENT + "0000  55 53 45 52 20 61\r\n"},
        {"a dump line cut in its text column", DUMP_LINE.substr(0, DUMP_LINE.size() - 5) + "\r\n"},
        {"lower-case hex digits", INDENT + "0000  6e" + std::string(15 * 3 + 1, ' ') + " n\r\n"},
        {"no colon after the 8th byte",
         INDENT + "0000  55 53 45 52 20 61 6E 6F 6E 79 6D 6F 75 73 0D 0A  USER anonymous..\r\n"},
        {"a byte after the filler", INDENT + "0000  55    45" + std::string(13 * 3 + 1, ' ') +
                                        " UE\r\n"},
        {"text column unlike the bytes",
         INDENT + "0000  55 53 45 52 20 61 6E 6F:6E 79 6D 6F 75 73 0D 0A  USER anonymous.!\r\n"},
        {"a continuation without its first line",
         INDENT + "0010  55 53 45 52 20 61 6E 6F:6E 79 6D 6F 75 73 0D 0A  USER anonymous..\r\n"},
        {"an offset that is no multiple of 16",
         INDENT + "0003  61" + std::string(15 * 3 + 1, ' ') + " a\r\n"},
    };
    for (const Case &c : cases) {
        bool last = c.line.size() < 2 || c.line.compare(c.line.size() - 2, 2, "\r\n") != 0;
        std::string log = CALL_LINE + c.line + (last ? "" : ERROR_LINE);
        LogCheck check = CheckLogBytes(log, PROGRAM);
        ASSERT_EQ(check.badLines.size(), 1u) << c.what << "\n" << DescribeBadLines(check);
        EXPECT_EQ(check.badLines[0].number, 2u) << c.what;
        EXPECT_EQ(check.textLines.size(), last ? 1u : 2u) << c.what;
    }
}

TEST(Grammar, MissingFileIsAnEmptyLog)
{
    LogCheck check = CheckLog("no such directory\\no such file.log", PROGRAM);
    EXPECT_TRUE(check.Clean());
    EXPECT_EQ(check.lineCount, 0u);
}
