// The byte layout of log lines: the head of a text line, the line-feed
// translation of its message, and hex dump lines. Pure functions, free of
// platform headers.
#ifndef KESTRELNODE9_LINE_FORMAT_H
#define KESTRELNODE9_LINE_FORMAT_H

#include <stddef.h>
#include <stdint.h>

enum TRACE_LEVEL { TRACE_LEVEL_INF, TRACE_LEVEL_WRN, TRACE_LEVEL_ERR };

// Longest program name kept, and the room the head of a text line needs:
// name, separator, key, elapsed time and level.
const size_t TRACE_MODULE_NAME_ROOM = 64;
const size_t TRACE_LINE_HEAD_ROOM = TRACE_MODULE_NAME_ROOM + 40;

// A dump line holds 16 bytes; its length is the indent plus at most
// DUMP_LINE_BODY_ROOM characters (offset, hex column, text column, CR LF).
const size_t DUMP_BYTES_PER_LINE = 16;
const size_t DUMP_LINE_BODY_ROOM = 16 + 48 + 1 + 16 + 2;

// Milliseconds between two readings of the wrapping 32-bit tick counter.
inline uint32_t ElapsedMilliseconds(uint32_t now, uint32_t last)
{
    return now - last;
}

// Writes "NAME KEY ELAPSED LVL: " into out and returns its length, or 0 when
// room is too small. The elapsed time prints as a signed value, so a gap of
// 2^31 ms or more shows negative.
size_t FormatLineHead(char *out, size_t room, const char *moduleName, uint32_t id, uint32_t elapsed,
                      TRACE_LEVEL level);

// Writes " [code]" and returns its length (0 when room is too small).
size_t FormatErrorSuffix(char *out, size_t room, int code);

// Copies message bytes into out, every line feed becoming CR LF, the way a
// text-mode stream stores them. Stops when the next byte would not fit;
// *consumed tells how many input bytes were taken. Returns bytes produced.
size_t TranslateLineFeeds(char *out, size_t room, const char *message, size_t length,
                          size_t *consumed);

// One dump line for count (1..16) bytes starting at block offset "offset",
// indented by indent spaces, ending in CR LF. Returns its length, or 0 when
// it would not fit into room.
size_t FormatDumpLine(char *out, size_t room, size_t indent, uint32_t offset,
                      const unsigned char *bytes, size_t count);

// As many whole dump lines of the block as fit into room, the first for the
// bytes at block offset "offset". *consumed receives the bytes formatted.
size_t FormatDumpLines(char *out, size_t room, size_t indent, uint32_t offset,
                       const unsigned char *bytes, size_t length, size_t *consumed);

#endif
