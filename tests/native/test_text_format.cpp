// FormatText: the Windows meaning of the size prefixes, bounds of the output
// and of "%s" input, and agreement with the C library where both define the
// same thing.
#include <gtest/gtest.h>

#include <inttypes.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>

#include "text_format.h"

namespace {

// Formats into a roomy buffer; the result must be the text's length.
template <typename... Args>
std::string Text(const char *format, Args... args)
{
    char out[256];
    int length = FormatText(out, sizeof(out), format, args...);
    EXPECT_EQ(length, (int)strlen(out)) << format;
    return out;
}

std::string PointerSizedDecimal(intptr_t value)
{
    char text[32];
    snprintf(text, sizeof(text), "%" PRIdPTR, value);
    return text;
}

std::string PointerSizedHex(intptr_t value)
{
    char text[32];
    snprintf(text, sizeof(text), "%" PRIxPTR, (uintptr_t)value);
    return text;
}

struct Int32Case {
    const char *format;
    int32_t value;
    const char *expected;
};

// "l" is a 32-bit Windows LONG, "h" 16 bits; plain conversions as usual.
// Only 32 bits are passed, so a formatter that read a native long would
// show garbage or sign-extended digits here.
const Int32Case INT32_CASES[] = {
    {"%ld", INT32_MIN, "-2147483648"},
    {"%ld", -1, "-1"},
    {"%lx", -1, "ffffffff"},
    {"%lX", INT32_MIN, "80000000"},
    {"%lu", -1, "4294967295"},
    {"%04lX", 0x0A3C, "0A3C"},
    {"%04lX", 0x12345, "12345"},
    {"%04ld", 15, "0015"},
    {"%04ld", -1, "-001"},
    {"%04ld", 12345, "12345"},
    {"%hu", 65535, "65535"},
    {"%hu", 65536 + 1, "1"},
    {"%hd", 65535, "-1"},
    {"%hx", 0x12345, "2345"},
    {"%d", INT_MIN, "-2147483648"},
    {"%i", INT_MAX, "2147483647"},
    {"%u", (int32_t)0xFFFFFFFF, "4294967295"},
    {"%x", 0xABCDEF, "abcdef"},
    {"%X", 0xABCDEF, "ABCDEF"},
    {"%08X", 0xBEEF, "0000BEEF"},
    {"%02d", 5, "05"},
    {"%02d", 123, "123"},
    {"%I32d", -7, "-7"},
};

TEST(TextFormat, SizePrefixesHaveTheirWindowsMeaning)
{
    for (const Int32Case &c : INT32_CASES)
        EXPECT_EQ(Text(c.format, c.value), c.expected) << c.format << " " << c.value;

    // "I" is pointer-sized: sockets and handles, negative ones included.
    const intptr_t pointerValues[] = {0, -1, 316, INTPTR_MIN, INTPTR_MAX,
                                      (intptr_t)INT32_MIN - 1};
    for (intptr_t value : pointerValues) {
        EXPECT_EQ(Text("%Id", value), PointerSizedDecimal(value)) << value;
        EXPECT_EQ(Text("%Ix", value), PointerSizedHex(value)) << value;
    }
    EXPECT_EQ(Text("%I64d", (long long)INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(Text("%llu", (unsigned long long)UINT64_MAX), "18446744073709551615");
}

TEST(TextFormat, StringConversions)
{
    EXPECT_EQ(Text("%s", (const char *)nullptr), "(null)");
    EXPECT_EQ(Text("[%5s|%-5s]", "ab", "cd"), "[   ab|cd   ]");
    EXPECT_EQ(Text("%.*s", 2, "abcdef"), "ab");
    EXPECT_EQ(Text("%.*s", -1, "abc"), "abc");  // negative precision: none
    EXPECT_EQ(Text("%.*s", 10, "abc"), "abc");
    EXPECT_EQ(Text("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(Text("100%%"), "100%");
}

// A counted text need not be terminated: "%.*s" may read only that many
// bytes. The heap block has no terminator, so one byte more is an overread
// that AddressSanitizer reports.
TEST(TextFormat, PrecisionBoundsTheStringRead)
{
    const size_t sizes[] = {1, 3, 16};
    for (size_t size : sizes) {
        char *unterminated = new char[size];
        memset(unterminated, 'q', size);
        EXPECT_EQ(Text("%.*s", (int)size, unterminated), std::string(size, 'q'));
        delete[] unterminated;
    }
    char *three = new char[3]{'a', 'b', 'c'};
    EXPECT_EQ(Text("<%.3s>", three), "<abc>");
    EXPECT_EQ(Text("<%.0s>", three), "<>");
    delete[] three;
}

TEST(TextFormat, CutsToRoomAndReturnsTheFullLength)
{
    struct Case {
        size_t room;
        const char *expected;
    };
    const Case cases[] = {{1, ""}, {2, "a"}, {5, "abcd"}, {10, "abcdefgh4"}, {11, "abcdefgh42"},
                          {16, "abcdefgh42"}};
    for (const Case &c : cases) {
        char out[16];
        memset(out, 'Z', sizeof(out));
        EXPECT_EQ(FormatText(out, c.room, "%s%d", "abcdefgh", 42), 10) << c.room;
        EXPECT_STREQ(out, c.expected) << c.room;
        for (size_t i = c.room; i < sizeof(out); i++)
            EXPECT_EQ(out[i], 'Z') << "written at " << i << " with room " << c.room;
    }

    // Room 0 measures only: with no buffer, or with one that stays untouched.
    EXPECT_EQ(FormatText(nullptr, 0, "%s-%Id", "socket", (intptr_t)-1), 9);
    char untouched = 'Z';
    EXPECT_EQ(FormatText(&untouched, 0, "abc"), 3);
    EXPECT_EQ(untouched, 'Z');
}

TEST(TextFormat, RefusesWhatItDoesNotKnow)
{
    const char *const formats[] = {"%q", "abc%y", "%", "abc%", "%l", "%Iz", "%5", "%.*"};
    for (const char *format : formats) {
        char out[32];
        memset(out, 'Z', sizeof(out));
        EXPECT_EQ(FormatText(out, sizeof(out), format, 1, 2), -1) << format;
        EXPECT_STREQ(out, "") << format;
    }
    char out[8];
    EXPECT_EQ(FormatText(out, sizeof(out), nullptr), -1);
}

// A field too wide to build is refused like an unknown conversion, and the
// text produced before it must not be left without its terminator.
TEST(TextFormat, RefusedWidthLeavesTheOutputTerminated)
{
    const char *const formats[] = {"ab%9999999d", "ab%.9999999d"};
    for (const char *format : formats) {
        char out[16];
        memset(out, 'Z', sizeof(out));
        EXPECT_EQ(FormatText(out, sizeof(out), format, 1), -1) << format;
        EXPECT_NE(memchr(out, '\0', sizeof(out)), nullptr) << format << ": no terminator";
        EXPECT_EQ(out[0], '\0') << format;
    }
    // The same bound for a precision given as an argument: a sign and
    // INT_MAX zeros would not even have a length.
    char out[16];
    EXPECT_EQ(FormatText(out, sizeof(out), "%+.*d", INT_MAX, 5), -1);
    EXPECT_STREQ(out, "");
}

// Without size prefixes the conversions mean what they mean in C, so the C
// library's snprintf is the reference for random flags, widths, precisions
// and values.
TEST(TextFormat, AgreesWithTheCLibrary)
{
    std::mt19937 random(20190701);
    const int32_t edges[] = {0, 1, -1, 7, -7, 10, 255, 65535, INT32_MIN, INT32_MAX, -2147483647};
    const char *const strings[] = {"", "a", "socket", "USER anonymous", "with  spaces"};
    struct Conversion {
        char letter;
        const char *flags;  // the flags C defines for it
    };
    const Conversion conversions[] = {{'d', "-0+ "}, {'i', "-0+ "}, {'u', "-0"}, {'x', "-0#"},
                                      {'X', "-0#"},  {'o', "-0#"},  {'c', "-"},  {'s', "-"}};
    int compared = 0;
    int different = 0;
    for (int round = 0; round < 200000; round++) {
        const Conversion &conversion = conversions[random() % 8];
        std::string format = random() % 4 == 0 ? "<" : "";
        format += '%';
        for (const char *flag = conversion.flags; *flag; flag++) {
            if (random() % 3 == 0)
                format += *flag;
        }
        bool starWidth = false;
        bool starPrecision = false;
        int width = (int)(random() % 41) - 20;
        int precision = (int)(random() % 31) - 10;
        switch (random() % 3) {
        case 1:
            format += std::to_string(random() % 25);
            break;
        case 2:
            format += '*';
            starWidth = true;
            break;
        }
        if (conversion.letter != 'c') {
            switch (random() % 4) {
            case 1:
                format += '.';
                break;
            case 2:
                format += '.' + std::to_string(random() % 20);
                break;
            case 3:
                format += ".*";
                starPrecision = true;
                break;
            }
        }
        format += conversion.letter;
        format += random() % 4 == 0 ? ">" : "";

        int32_t value = random() % 3 == 0 ? edges[random() % 11] : (int32_t)random();
        if (conversion.letter == 'c' && (value & 0xFF) == 0)
            value = 'A';
        const char *text = strings[random() % 5];

        char ours[512];
        char theirs[512];
        int ourLength;
        int theirLength;
        const char *f = format.c_str();
        // Arguments in the order the format reads them.
#define BOTH(...)                                                   \
    do {                                                            \
        ourLength = FormatText(ours, sizeof(ours), f, __VA_ARGS__); \
        theirLength = snprintf(theirs, sizeof(theirs), f, __VA_ARGS__); \
    } while (0)
        if (conversion.letter == 's') {
            if (starWidth && starPrecision)
                BOTH(width, precision, text);
            else if (starWidth)
                BOTH(width, text);
            else if (starPrecision)
                BOTH(precision, text);
            else
                BOTH(text);
        } else {
            if (starWidth && starPrecision)
                BOTH(width, precision, value);
            else if (starWidth)
                BOTH(width, value);
            else if (starPrecision)
                BOTH(precision, value);
            else
                BOTH(value);
        }
#undef BOTH
        compared++;
        if (ourLength != theirLength ||
            memcmp(ours, theirs, (size_t)(ourLength < 0 ? 0 : ourLength) + 1) != 0) {
            ADD_FAILURE() << format << " value " << value << " width " << width << " precision "
                          << precision << ": ours [" << ours << "] " << ourLength
                          << ", C library [" << theirs << "] " << theirLength;
            if (++different == 10)
                break;
        }
    }
    printf("FormatText compared with snprintf: %d formats, %d different\n", compared, different);
    RecordProperty("formats_compared", compared);
}

}  // namespace
