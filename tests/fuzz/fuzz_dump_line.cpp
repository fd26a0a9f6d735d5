// FormatDumpLine with indent, offset, count and room from the input, into a
// buffer of exactly `room` bytes: either 0, or the exact dump line, and
// always the line when room holds the indent and DUMP_LINE_BODY_ROOM.
#include <string>

#include "fuzz_input.h"
#include "line_format.h"

namespace {

std::string ReferenceLine(size_t indent, uint32_t offset, const unsigned char *bytes, size_t count)
{
    std::string line(indent, ' ');
    char field[16];
    snprintf(field, sizeof(field), "%04X  ", offset);
    line += field;
    for (size_t i = 0; i < 16; i++) {
        if (i < count)
            snprintf(field, sizeof(field), "%02X%c", bytes[i], i == 7 ? ':' : ' ');
        else
            snprintf(field, sizeof(field), "   ");
        line += field;
    }
    line += ' ';
    for (size_t i = 0; i < count; i++)
        line += (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? (char)bytes[i] : '.';
    line += "\r\n";
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    uint8_t mode = input.Byte();
    size_t indent = input.U16();
    if (mode & 1)
        indent = SIZE_MAX - indent;  // indents no room can hold
    else
        indent %= 256;
    uint32_t offset = input.U32();
    size_t room = input.U16() % 1024;
    size_t count = input.Byte() % 18;  // 17 is one too many
    // count is what the caller claims; it never claims more than it has,
    // except for a count the function must refuse unread.
    if (count <= DUMP_BYTES_PER_LINE && count > input.size)
        count = input.size;
    ExactCopy bytes(input.data, input.size < 17 ? input.size : 17);
    char *line = new char[room];

    size_t length = FormatDumpLine(line, room, indent, offset, bytes.data, count);
    bool fits = indent <= room && room - indent >= DUMP_LINE_BODY_ROOM;
    if (count == 0 || count > DUMP_BYTES_PER_LINE) {
        FUZZ_CHECK(length == 0);
    } else if (length != 0 || fits) {
        FUZZ_CHECK(length <= room);
        std::string expected = ReferenceLine(indent, offset, bytes.data, count);
        FUZZ_CHECK(length == expected.size());
        FUZZ_CHECK(memcmp(line, expected.data(), length) == 0);
    }
    delete[] line;
    return 0;
}
