// FormatInetAddress with any maxLength: the text is "a.b.c.d" (or "NULL")
// cut to maxLength-1 characters, nothing is written past maxLength bytes and
// only the four address bytes are read.
#include "address_text.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    int maxLength = (int8_t)input.Byte();
    bool nullAddress = input.size < 4;
    ExactCopy addr(input.data, nullAddress ? 0 : 4);

    char expected[32];
    if (nullAddress)
        snprintf(expected, sizeof(expected), "NULL");
    else
        snprintf(expected, sizeof(expected), "%u.%u.%u.%u", addr.data[0], addr.data[1],
                 addr.data[2], addr.data[3]);

    size_t room = maxLength > 0 ? (size_t)maxLength : 1;
    char *text = new char[room];
    memset(text, 'Z', room);
    char *result = FormatInetAddress(text, maxLength, nullAddress ? nullptr : addr.data);
    if (maxLength < 1) {
        FUZZ_CHECK(result == nullptr);
        FUZZ_CHECK(text[0] == 'Z');
    } else {
        FUZZ_CHECK(result == text);
        size_t length = strlen(expected);
        if (length > room - 1)
            length = room - 1;
        FUZZ_CHECK(memcmp(text, expected, length) == 0);
        FUZZ_CHECK(text[length] == '\0');
    }
    delete[] text;
    return 0;
}
