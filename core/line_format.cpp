#include "line_format.h"

#include <string.h>

#include "text_format.h"

namespace
{

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
const char *const LEVEL_TEXT[] = {"INF: ", "WRN: ", "ERR: "};

} // namespace

size_t FormatLineHead(char *out, size_t room, const char *moduleName, uint32_t id, uint32_t elapsed,
                      TRACE_LEVEL level)
{
    int length = FormatText(out, room, "%s %04lX %04ld %s", moduleName ? moduleName : "",
                            (unsigned int)id, (int)(int32_t)elapsed, LEVEL_TEXT[level]);
    if (length < 0 || (size_t)length >= room)
        return 0;
    return (size_t)length;
}

size_t FormatErrorSuffix(char *out, size_t room, int code)
{
    int length = FormatText(out, room, " [%d]", code);
    if (length < 0 || (size_t)length >= room)
        return 0;
    return (size_t)length;
}

size_t TranslateLineFeeds(char *out, size_t room, const char *message, size_t length,
                          size_t *consumed)
{
    size_t produced = 0;
    size_t taken = 0;
    while (taken < length) {
        char c = message[taken];
        if (c == '\n') {
            if (produced + 2 > room)
                break;
            out[produced++] = '\r';
            out[produced++] = '\n';
        } else {
            if (produced + 1 > room)
                break;
            out[produced++] = c;
        }
        taken++;
    }
    *consumed = taken;
    return produced;
}

namespace
{

// Per byte value: its two hexadecimal digits as they lie in the line, and
// the character shown for it. Dumps are the bulk of a log; a lookup per
// byte keeps them near the speed of a plain copy.
struct DUMP_TABLES {
    uint16_t hexPair[256];
    uint32_t hexSpace[256]; // the two digits, a space and a byte to be overwritten
    char shown[256];
    constexpr DUMP_TABLES() : hexPair(), hexSpace(), shown()
    {
        for (int i = 0; i < 256; i++) {
            hexPair[i] = (uint16_t)((unsigned char)HEX_DIGITS[i >> 4] |
                                    ((unsigned char)HEX_DIGITS[i & 0x0F] << 8));
            hexSpace[i] = (uint32_t)hexPair[i] | ((uint32_t)' ' << 16);
            shown[i] = (i >= 0x20 && i <= 0x7E) ? (char)i : '.';
        }
    }
};

constexpr DUMP_TABLES DUMP_TABLE;

// The hex column, one separator and the character column of a line of
// count bytes; returns the end.
char *FormatDumpBody(char *p, const unsigned char *bytes, size_t count)
{
    if (count == DUMP_BYTES_PER_LINE) {
        // A full line, the common case: one four-byte store per byte, each
        // overwriting the spare byte of the one before. The last spare byte
        // is where the separator goes below.
        for (size_t i = 0; i < DUMP_BYTES_PER_LINE; i++)
            memcpy(p + 3 * i, &DUMP_TABLE.hexSpace[bytes[i]], 4);
        p[3 * 7 + 2] = ':';
    } else {
        for (size_t i = 0; i < DUMP_BYTES_PER_LINE; i++) {
            if (i < count) {
                memcpy(p + 3 * i, &DUMP_TABLE.hexPair[bytes[i]], 2);
                p[3 * i + 2] = i == 7 ? ':' : ' ';
            } else {
                p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = ' ';
            }
        }
    }
    p += 3 * DUMP_BYTES_PER_LINE;
    *p++ = ' ';
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t four = (uint32_t)(unsigned char)DUMP_TABLE.shown[bytes[i]] |
                        (uint32_t)(unsigned char)DUMP_TABLE.shown[bytes[i + 1]] << 8 |
                        (uint32_t)(unsigned char)DUMP_TABLE.shown[bytes[i + 2]] << 16 |
                        (uint32_t)(unsigned char)DUMP_TABLE.shown[bytes[i + 3]] << 24;
        memcpy(p + i, &four, 4);
    }
    for (; i < count; i++)
        p[i] = DUMP_TABLE.shown[bytes[i]];
    return p + count;
}

} // namespace

size_t FormatDumpLine(char *out, size_t room, size_t indent, uint32_t offset,
                      const unsigned char *bytes, size_t count)
{
    // Compared without adding, so that no indent can wrap the sum.
    if (count == 0 || count > DUMP_BYTES_PER_LINE || indent > room ||
        room - indent < DUMP_LINE_BODY_ROOM)
        return 0;
    char *p = out;
    // The indent in four-byte stores (a call to the C runtime's memset per
    // line would cost more than the line); the few spaces past it are
    // overwritten by the offset.
    const uint32_t SPACES = 0x20202020;
    for (size_t i = 0; i < indent; i += 4)
        memcpy(p + i, &SPACES, 4);
    p += indent;
    // At least four upper-case digits ("%04X"); offsets from 0x10000 on
    // simply take more. Written by hand: this runs once per 16 dumped bytes.
    if (offset <= 0xFFFF) {
        memcpy(p, &DUMP_TABLE.hexPair[offset >> 8], 2);
        memcpy(p + 2, &DUMP_TABLE.hexPair[offset & 0xFF], 2);
        p += 4;
    } else {
        int digits = 5;
        while (digits < 8 && (offset >> (4 * digits)) != 0)
            digits++;
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
            *p++ = HEX_DIGITS[(offset >> shift) & 0x0F];
    }
    *p++ = ' ';
    *p++ = ' ';
    p = FormatDumpBody(p, bytes, count);
    *p++ = '\r';
    *p++ = '\n';
    return (size_t)(p - out);
}

size_t FormatDumpLines(char *out, size_t room, size_t indent, uint32_t offset,
                       const unsigned char *bytes, size_t length, size_t *consumed)
{
    size_t produced = 0;
    size_t taken = 0;
    while (taken < length) {
        size_t count = length - taken;
        if (count > DUMP_BYTES_PER_LINE)
            count = DUMP_BYTES_PER_LINE;
        size_t line =
            FormatDumpLine(out + produced, room - produced, indent, offset, bytes + taken, count);
        if (line == 0)
            break;
        produced += line;
        taken += count;
        if (offset > 0xFFFFFFFF - DUMP_BYTES_PER_LINE)
            break; // the largest offset a block can have
        offset += DUMP_BYTES_PER_LINE;
    }
    *consumed = taken;
    return produced;
}
