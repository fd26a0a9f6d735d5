#include "line_format.h"

#include "text_format.h"

namespace
{

const char HEX_DIGITS[] = "0123456789ABCDEF";
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

size_t FormatDumpLine(char *out, size_t room, size_t indent, uint32_t offset,
                      const unsigned char *bytes, size_t count)
{
    // Compared without adding, so that no indent can wrap the sum.
    if (count == 0 || count > DUMP_BYTES_PER_LINE || indent > room ||
        room - indent < DUMP_LINE_BODY_ROOM)
        return 0;
    size_t n = 0;
    for (size_t i = 0; i < indent; i++)
        out[n++] = ' ';
    // At least four upper-case digits ("%04X"); offsets from 0x10000 on
    // simply take more. Written by hand: this runs once per 16 dumped bytes.
    int digits = 4;
    while (digits < 8 && (offset >> (4 * digits)) != 0)
        digits++;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out[n++] = HEX_DIGITS[(offset >> shift) & 0x0F];
    out[n++] = ' ';
    out[n++] = ' ';
    for (size_t i = 0; i < DUMP_BYTES_PER_LINE; i++) {
        if (i < count) {
            out[n++] = HEX_DIGITS[bytes[i] >> 4];
            out[n++] = HEX_DIGITS[bytes[i] & 0x0F];
            out[n++] = i == 7 ? ':' : ' ';
        } else {
            out[n++] = ' ';
            out[n++] = ' ';
            out[n++] = ' ';
        }
    }
    out[n++] = ' ';
    for (size_t i = 0; i < count; i++)
        out[n++] = (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? (char)bytes[i] : '.';
    out[n++] = '\r';
    out[n++] = '\n';
    return n;
}
