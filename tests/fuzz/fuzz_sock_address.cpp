// FormatSockAddressBounded on a name of exactly `size` bytes with that
// length: reads nothing past it, gives "[address]:port" for a complete
// AF_INET or AF_INET6 layout and the empty text for anything else.
#include <arpa/inet.h>

#include "address_text.h"
#include "fuzz_input.h"

namespace {

void Expected(const unsigned char *name, size_t size, char *expected, size_t room)
{
    expected[0] = '\0';
    if (size < 2)
        return;
    int family = name[0] | (name[1] << 8);
    char address[64];
    if (family == TRACE_AF_INET && size >= (size_t)SOCK_ADDRESS_IN_SIZE)
        inet_ntop(AF_INET, name + 4, address, sizeof(address));
    else if (family == TRACE_AF_INET6 && size >= (size_t)SOCK_ADDRESS_IN6_SIZE)
        inet_ntop(AF_INET6, name + 8, address, sizeof(address));
    else
        return;
    snprintf(expected, room, "[%s]:%u", address, name[2] * 256u + name[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    ExactCopy name(data, size);
    char *text = new char[SOCK_ADDRESS_TEXT_ROOM];
    char expected[SOCK_ADDRESS_TEXT_ROOM];
    Expected(name.data, size, expected, sizeof(expected));

    FUZZ_CHECK(FormatSockAddressBounded(name.data, (int)size, text) == text);
    if (strcmp(text, expected) != 0) {
        fprintf(stderr, "ours [%s], expected [%s]\n", text, expected);
        FUZZ_CHECK(!"the expected text");
    }

    // A negative length gives the empty text whatever the bytes.
    FUZZ_CHECK(FormatSockAddressBounded(name.data, -1 - (int)size, text) == text);
    FUZZ_CHECK(text[0] == '\0');

    // The unbounded form reads the family's own layout: the same text once
    // the name is as long as the longest layout.
    if (size >= (size_t)SOCK_ADDRESS_IN6_SIZE) {
        FUZZ_CHECK(FormatSockAddress(name.data, text) == text);
        FUZZ_CHECK(strcmp(text, expected) == 0);
    }
    delete[] text;
    return 0;
}
