// The pieces of a text line: the head, the error suffix and the message with
// its line feeds made CR LF, each into a buffer of exactly the given room.
#include <string>

#include "fuzz_input.h"
#include "line_format.h"

namespace {

const char *const LEVELS[] = {"INF: ", "WRN: ", "ERR: "};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    uint32_t id = input.U32();
    uint32_t elapsed = input.U32();
    int level = input.Byte() % 3;
    int code = (int)input.U32();
    size_t headRoom = input.Byte();
    size_t messageRoom = input.U16() % 2048;
    size_t nameLength = input.Byte() % 80;
    if (nameLength > input.size)
        nameLength = input.size;
    std::string name((const char *)input.data, nameLength);
    input.data += nameLength;
    input.size -= nameLength;
    ExactCopy message(input.data, input.size);

    // Head: "NAME KEY ELAPSED LVL: " or 0 when it would not fit.
    char expected[256];
    int expectedLength = snprintf(expected, sizeof(expected), "%s %04X %04d %s", name.c_str(), id,
                                  (int32_t)elapsed, LEVELS[level]);
    char *head = new char[headRoom];
    size_t length =
        FormatLineHead(head, headRoom, name.c_str(), id, elapsed, (TRACE_LEVEL)level);
    if ((size_t)expectedLength < headRoom) {
        FUZZ_CHECK(length == (size_t)expectedLength);
        FUZZ_CHECK(memcmp(head, expected, length + 1) == 0);
    } else {
        FUZZ_CHECK(length == 0);
    }
    delete[] head;

    // Suffix: " [code]".
    expectedLength = snprintf(expected, sizeof(expected), " [%d]", code);
    size_t suffixRoom = headRoom % 16;
    char *suffix = new char[suffixRoom];
    length = FormatErrorSuffix(suffix, suffixRoom, code);
    if ((size_t)expectedLength < suffixRoom) {
        FUZZ_CHECK(length == (size_t)expectedLength);
        FUZZ_CHECK(memcmp(suffix, expected, length + 1) == 0);
    } else {
        FUZZ_CHECK(length == 0);
    }
    delete[] suffix;

    // Message: every LF becomes CR LF, a pair is never split, and it stops
    // only when the next byte does not fit.
    char *out = new char[messageRoom];
    size_t consumed = 0;
    size_t produced = TranslateLineFeeds(out, messageRoom, (const char *)message.data,
                                         message.size, &consumed);
    FUZZ_CHECK(produced <= messageRoom);
    FUZZ_CHECK(consumed <= message.size);
    std::string translated;
    for (size_t i = 0; i < consumed; i++) {
        if (message.data[i] == '\n')
            translated += "\r\n";
        else
            translated += (char)message.data[i];
    }
    FUZZ_CHECK(produced == translated.size());
    FUZZ_CHECK(memcmp(out, translated.data(), produced) == 0);
    if (consumed < message.size)
        FUZZ_CHECK(produced + (message.data[consumed] == '\n' ? 2 : 1) > messageRoom);
    delete[] out;
    return 0;
}
