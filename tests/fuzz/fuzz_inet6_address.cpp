// FormatInet6Address of any 16 bytes: always a text (the longest has 39
// characters), the same text as the C library's inet_ntop, and one that
// reads back as the same address.
#include <arpa/inet.h>

#include "address_text.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 16)
        return 0;
    ExactCopy addr(data, 16);
    char *text = new char[ADDRESS_TEXT_ROOM];
    FUZZ_CHECK(FormatInet6Address(addr.data, text) == text);
    size_t length = strnlen(text, ADDRESS_TEXT_ROOM);
    FUZZ_CHECK(length <= 39);

    char reference[INET6_ADDRSTRLEN];
    FUZZ_CHECK(inet_ntop(AF_INET6, addr.data, reference, sizeof(reference)) != nullptr);
    if (strcmp(text, reference) != 0) {
        fprintf(stderr, "ours %s, inet_ntop %s\n", text, reference);
        FUZZ_CHECK(!"the same text as inet_ntop");
    }

    unsigned char back[16];
    FUZZ_CHECK(inet_pton(AF_INET6, text, back) == 1);
    FUZZ_CHECK(memcmp(back, addr.data, 16) == 0);
    delete[] text;
    return 0;
}
