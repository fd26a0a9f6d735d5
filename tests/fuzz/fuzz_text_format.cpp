// FormatText with fuzzed formats. A format reads its arguments through
// va_arg, so the harness cuts the format into pieces of one conversion each
// and passes every piece exactly the arguments it reads (the '*' ints, then
// one value of the type the conversion and its size prefix name). Checked:
// the output stays within room and is terminated, the result is the length
// the text needs, measuring gives the same, and where C defines the same
// conversion the C library's snprintf gives the same bytes.
#include <stdarg.h>

#include <string>

#include "fuzz_input.h"
#include "text_format.h"

namespace {

enum ArgKind { ARG_NONE, ARG_INT, ARG_LONG_LONG, ARG_INTPTR, ARG_STRING, ARG_POINTER };

struct Piece {
    std::string format;
    int stars;
    ArgKind kind;
    bool known;        // a conversion the formatter supports
    bool hasPrecision; // ".digits" or ".*"
    int precision;     // literal precision, when not '*'
    bool sameAsC;      // snprintf defines it the same way
};

// Walks one conversion as the formatter does: flags, width, precision, size
// prefix, conversion letter.
Piece ReadPiece(const char *&p)
{
    Piece piece = {"", 0, ARG_NONE, true, false, -1, true};
    const char *start = p;
    while (*p && *p != '%')
        p++;
    if (!*p) {
        piece.format.assign(start, p);
        return piece;
    }
    size_t specStart = (size_t)(p - start);
    p++;
    std::string flags;
    while (*p == '-' || *p == '0' || *p == '+' || *p == ' ' || *p == '#')
        flags += *p++;
    if (*p == '*') {
        piece.stars++;
        p++;
    } else {
        while (*p >= '0' && *p <= '9')
            p++;
    }
    if (*p == '.') {
        piece.hasPrecision = true;
        p++;
        if (*p == '*') {
            piece.stars++;
            p++;
        } else {
            piece.precision = 0;
            while (*p >= '0' && *p <= '9') {
                if (piece.precision < 1000000)
                    piece.precision = piece.precision * 10 + (*p - '0');
                p++;
            }
        }
    }
    enum { NONE, SHORT, LONG, PTR, I32, I64, LONG_LONG } size = NONE;
    if (*p == 'h') {
        size = SHORT;
        p++;
    } else if (*p == 'l') {
        p++;
        if (*p == 'l') {
            size = LONG_LONG;
            p++;
        } else {
            size = LONG;
        }
    } else if (*p == 'I') {
        p++;
        if (p[0] == '6' && p[1] == '4') {
            size = I64;
            p += 2;
        } else if (p[0] == '3' && p[1] == '2') {
            size = I32;
            p += 2;
        } else {
            size = PTR;
        }
    }
    char conversion = *p;
    if (*p)
        p++;
    piece.format.assign(start, p);

    switch (conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        piece.kind = (size == I64 || size == LONG_LONG) ? ARG_LONG_LONG
                     : size == PTR                     ? ARG_INTPTR
                                                       : ARG_INT;
        break;
    case 'c':
        piece.kind = ARG_INT;
        break;
    case 's':
        piece.kind = ARG_STRING;
        break;
    case 'p':
        piece.kind = ARG_POINTER;
        break;
    case '%':
        break;
    default:
        piece.known = false;
        break;
    }

    // What C defines alike: no Windows prefixes (C's "l" is 64 bits here),
    // no "%p" (its text is the implementation's), each flag only where C
    // gives it a meaning, no precision for "%c", "%%" bare.
    bool numeric = conversion == 'd' || conversion == 'i' || conversion == 'u' ||
                   conversion == 'x' || conversion == 'X' || conversion == 'o';
    bool sign = conversion == 'd' || conversion == 'i';
    bool hex = conversion == 'x' || conversion == 'X' || conversion == 'o';
    piece.sameAsC = piece.known && conversion != 'p' &&
                    (size == NONE || size == SHORT || size == LONG_LONG) &&
                    !(conversion == 'c' && piece.hasPrecision) &&
                    !(conversion == '%' && piece.format.compare(specStart, 2, "%%") != 0) &&
                    !(conversion == '%' && piece.format.size() != specStart + 2);
    for (char flag : flags) {
        if ((flag == '+' || flag == ' ') && !sign)
            piece.sameAsC = false;
        if (flag == '#' && !hex)
            piece.sameAsC = false;
        if (flag == '0' && !numeric)
            piece.sameAsC = false;
    }
    if (size != NONE && !numeric)
        piece.sameAsC = false;
    return piece;
}

struct Harness {
    size_t room;
    int starValues[2];
    int32_t intValue;
    long long longLongValue;
    intptr_t intptrValue;
    const char *terminated;
    const char *counted;  // not terminated: COUNTED_SIZE bytes exactly
};

const size_t COUNTED_SIZE = 8;

// The C library's formatter, reached through a va_list like ours.
int CReference(char *out, size_t room, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = vsnprintf(out, room, format, args);
    va_end(args);
    return length;
}

template <typename... Args>
void Run(const Harness &h, const Piece &piece, Args... args)
{
    const char *format = piece.format.c_str();
    char *out = new char[h.room];
    memset(out, 'Z', h.room);
    int length = FormatText(out, h.room, format, args...);
    int measured = FormatText(nullptr, 0, format, args...);
    FUZZ_CHECK(measured == length);
    if (!piece.known)
        FUZZ_CHECK(length == -1);
    if (h.room > 0) {
        size_t text = strnlen(out, h.room);
        FUZZ_CHECK(text < h.room);  // terminated
        if (length >= 0) {
            // The text holds the first bytes of the whole (a "%c" of 0 may end it early).
            FUZZ_CHECK(text <= (size_t)length);
            size_t kept = (size_t)length < h.room - 1 ? (size_t)length : h.room - 1;
            FUZZ_CHECK(out[kept] == '\0');
        }
    }
    if (piece.sameAsC && length >= 0) {
        char *reference = new char[h.room + 1];
        int referenceLength = CReference(reference, h.room, format, args...);
        if (referenceLength != length ||
            (h.room > 0 && memcmp(out, reference, strnlen(reference, h.room) + 1) != 0)) {
            fprintf(stderr, "format [%s] room %zu: ours %d [%.*s], C library %d [%.*s]\n", format,
                    h.room, length, (int)h.room, out, referenceLength, (int)h.room, reference);
            FUZZ_CHECK(!"the same text as snprintf");
        }
        delete[] reference;
    }
    delete[] out;
}

// The value argument after the stars.
template <typename... Stars>
void RunWithValue(const Harness &h, const Piece &piece, Stars... stars)
{
    switch (piece.kind) {
    case ARG_NONE:
        Run(h, piece, stars...);
        break;
    case ARG_INT:
        Run(h, piece, stars..., (int)h.intValue);
        break;
    case ARG_LONG_LONG:
        Run(h, piece, stars..., h.longLongValue);
        break;
    case ARG_INTPTR:
        Run(h, piece, stars..., h.intptrValue);
        break;
    case ARG_POINTER:
        Run(h, piece, stars..., (void *)h.intptrValue);
        break;
    case ARG_STRING: {
        // A counted text only where the precision keeps the read within it.
        int precision = piece.precision;
        if (piece.stars == 2 || (piece.stars == 1 && piece.hasPrecision && piece.precision < 0))
            precision = h.starValues[piece.stars - 1];
        bool counted = piece.hasPrecision && precision >= 0 && (size_t)precision <= COUNTED_SIZE;
        const char *text = counted ? h.counted : h.terminated;
        Piece checked = piece;
        if (!text)
            checked.sameAsC = false;  // C libraries differ on a null "%s"
        Run(h, checked, stars..., text);
        break;
    }
    }
}

}  // namespace

// AddressSanitizer's own check of printf arguments reads a "%.0s" string up
// to its terminator, which a counted text need not have; the reads of our
// formatter and of the C library are still checked as memory accesses.
extern "C" const char *__asan_default_options()
{
    return "check_printf=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 2048)
        return 0;
    FuzzInput input = {data, size};
    Harness h;
    h.room = input.Byte();
    h.starValues[0] = (int16_t)input.U16();
    h.starValues[1] = (int16_t)input.U16();
    h.intValue = (int32_t)input.U32();
    h.longLongValue = (long long)(((uint64_t)input.U32() << 32) | input.U32());
    h.intptrValue = (intptr_t)h.longLongValue;
    const char *const strings[] = {"", "socket", "USER anonymous", nullptr};
    h.terminated = strings[input.Byte() % 4];
    ExactCopy counted("0123456789", COUNTED_SIZE);
    h.counted = (const char *)counted.data;

    std::string format((const char *)input.data, strnlen((const char *)input.data, input.size));
    const char *p = format.c_str();
    int pieces = 0;
    while (*p && pieces++ < 64) {
        Piece piece = ReadPiece(p);
        if (piece.stars == 0)
            RunWithValue(h, piece);
        else if (piece.stars == 1)
            RunWithValue(h, piece, h.starValues[0]);
        else
            RunWithValue(h, piece, h.starValues[0], h.starValues[1]);
        if (!piece.known)
            break;
    }
    return 0;
}
