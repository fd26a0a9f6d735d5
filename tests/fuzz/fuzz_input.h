// Shared by the fuzz targets: reading fields from the fuzzer's bytes, heap
// copies of exactly the bytes given (so that AddressSanitizer sees any read
// past them), and a check that aborts with a message.
#ifndef KESTRELNODE9_FUZZ_INPUT_H
#define KESTRELNODE9_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                   \
        }                                                                              \
    } while (0)

// Fields taken from the front of the input; missing bytes read as 0.
struct FuzzInput {
    const uint8_t *data;
    size_t size;

    uint8_t Byte()
    {
        if (size == 0)
            return 0;
        uint8_t b = *data++;
        size--;
        return b;
    }
    uint16_t U16()
    {
        uint16_t low = Byte();
        return (uint16_t)(low | (Byte() << 8));
    }
    uint32_t U32()
    {
        uint32_t low = U16();
        return low | ((uint32_t)U16() << 16);
    }
};

// A heap block holding exactly size bytes; for 0 bytes any read is past it.
struct ExactCopy {
    ExactCopy(const void *bytes, size_t size) : data(new unsigned char[size]), size(size)
    {
        if (size)
            memcpy(data, bytes, size);
    }
    ~ExactCopy() { delete[] data; }
    ExactCopy(const ExactCopy &) = delete;
    ExactCopy &operator=(const ExactCopy &) = delete;

    unsigned char *data;
    size_t size;
};

#endif
