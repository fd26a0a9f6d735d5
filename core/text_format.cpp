#include "text_format.h"

#include <stdint.h>

namespace
{

struct Sink {
    char *out;
    size_t room;
    size_t length; // characters produced so far, written or not
};

void Put(Sink *sink, char c)
{
    if (sink->length + 1 < sink->room)
        sink->out[sink->length] = c;
    sink->length++;
}

void PutRepeated(Sink *sink, char c, int count)
{
    for (int i = 0; i < count; i++)
        Put(sink, c);
}

enum Size { SIZE_INT, SIZE_SHORT, SIZE_LONG, SIZE_PTR, SIZE_64 };

// Widths and precisions beyond this are refused rather than built.
const int MAX_FIELD = 100000;

// A refused format leaves the output empty, as if nothing had been written.
int Refuse(char *out, size_t room)
{
    if (out && room > 0)
        out[0] = '\0';
    return -1;
}

struct Spec {
    bool left;
    bool zero;
    bool plus;
    bool space;
    bool alternate;
    int width;
    int precision; // -1 when none
};

void PutField(Sink *sink, const Spec &spec, const char *prefix, const char *digits, int count)
{
    int prefixLength = 0;
    while (prefix[prefixLength])
        prefixLength++;
    int zeros = 0;
    if (spec.precision > count)
        zeros = spec.precision - count;
    int total = prefixLength + zeros + count;
    int pad = spec.width > total ? spec.width - total : 0;
    if (!spec.left && !(spec.zero && spec.precision < 0))
        PutRepeated(sink, ' ', pad);
    for (int i = 0; i < prefixLength; i++)
        Put(sink, prefix[i]);
    if (!spec.left && spec.zero && spec.precision < 0)
        PutRepeated(sink, '0', pad);
    PutRepeated(sink, '0', zeros);
    for (int i = 0; i < count; i++)
        Put(sink, digits[i]);
    if (spec.left)
        PutRepeated(sink, ' ', pad);
}

void PutNumber(Sink *sink, const Spec &spec, uint64_t magnitude, bool negative, unsigned base,
               bool upper, char conversion)
{
    char digits[24];
    int count = 0;
    const char *table = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    // Reverse fill, then flip.
    char reversed[24];
    do {
        reversed[count++] = table[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    for (int i = 0; i < count; i++)
        digits[i] = reversed[count - 1 - i];
    // A precision of 0 with the value 0 prints no digits, as printf does.
    if (spec.precision == 0 && count == 1 && digits[0] == '0')
        count = 0;

    char prefix[3] = {0, 0, 0};
    if (negative)
        prefix[0] = '-';
    else if (spec.plus && (conversion == 'd' || conversion == 'i'))
        prefix[0] = '+';
    else if (spec.space && (conversion == 'd' || conversion == 'i'))
        prefix[0] = ' ';
    else if (spec.alternate && base == 16 && count > 0 && !(count == 1 && digits[0] == '0')) {
        prefix[0] = '0';
        prefix[1] = upper ? 'X' : 'x';
    } else if (spec.alternate && base == 8 && spec.precision <= count &&
               (count == 0 || digits[0] != '0'))
        prefix[0] = '0';
    PutField(sink, spec, prefix, digits, count);
}

} // namespace

int FormatTextV(char *out, size_t room, const char *format, va_list args)
{
    Sink sink = {out, out ? room : 0, 0};
    if (out && room > 0)
        out[0] = '\0';
    if (!format)
        return -1;

    for (const char *p = format; *p; p++) {
        if (*p != '%') {
            Put(&sink, *p);
            continue;
        }
        p++;
        Spec spec = {false, false, false, false, false, 0, -1};
        for (;; p++) {
            if (*p == '-')
                spec.left = true;
            else if (*p == '0')
                spec.zero = true;
            else if (*p == '+')
                spec.plus = true;
            else if (*p == ' ')
                spec.space = true;
            else if (*p == '#')
                spec.alternate = true;
            else
                break;
        }
        if (*p == '*') {
            int width = va_arg(args, int);
            if (width < 0) {
                spec.left = true;
                width = width == -2147483647 - 1 ? 0 : -width;
            }
            if (width > MAX_FIELD)
                return Refuse(out, room);
            spec.width = width;
            p++;
        } else {
            while (*p >= '0' && *p <= '9') {
                spec.width = spec.width * 10 + (*p - '0');
                if (spec.width > MAX_FIELD)
                    return Refuse(out, room);
                p++;
            }
        }
        if (*p == '.') {
            p++;
            spec.precision = 0;
            if (*p == '*') {
                int precision = va_arg(args, int);
                if (precision > MAX_FIELD)
                    return Refuse(out, room);
                spec.precision = precision < 0 ? -1 : precision;
                p++;
            } else {
                while (*p >= '0' && *p <= '9') {
                    spec.precision = spec.precision * 10 + (*p - '0');
                    if (spec.precision > MAX_FIELD)
                        return Refuse(out, room);
                    p++;
                }
            }
        }

        Size size = SIZE_INT;
        if (*p == 'h') {
            size = SIZE_SHORT;
            p++;
        } else if (*p == 'l') {
            p++;
            if (*p == 'l') {
                size = SIZE_64;
                p++;
            } else {
                size = SIZE_LONG;
            }
        } else if (*p == 'I') {
            p++;
            if (p[0] == '6' && p[1] == '4') {
                size = SIZE_64;
                p += 2;
            } else if (p[0] == '3' && p[1] == '2') {
                size = SIZE_INT;
                p += 2;
            } else {
                size = SIZE_PTR;
            }
        }

        char conversion = *p;
        switch (conversion) {
        case 'd':
        case 'i': {
            int64_t value;
            if (size == SIZE_64)
                value = va_arg(args, long long);
            else if (size == SIZE_PTR)
                value = (intptr_t)va_arg(args, intptr_t);
            else if (size == SIZE_SHORT)
                value = (short)va_arg(args, int);
            else // int and the 32-bit Windows long
                value = (int32_t)va_arg(args, int);
            uint64_t magnitude = value < 0 ? (uint64_t)0 - (uint64_t)value : (uint64_t)value;
            PutNumber(&sink, spec, magnitude, value < 0, 10, false, conversion);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t value;
            if (size == SIZE_64)
                value = va_arg(args, unsigned long long);
            else if (size == SIZE_PTR)
                value = (uintptr_t)va_arg(args, uintptr_t);
            else if (size == SIZE_SHORT)
                value = (unsigned short)va_arg(args, unsigned int);
            else
                value = (uint32_t)va_arg(args, unsigned int);
            unsigned base = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
            PutNumber(&sink, spec, value, false, base, conversion == 'X', conversion);
            break;
        }
        case 'p': {
            uintptr_t value = (uintptr_t)va_arg(args, void *);
            Spec pointer = spec;
            pointer.precision = (int)(sizeof(void *) * 2);
            PutNumber(&sink, pointer, value, false, 16, true, 'X');
            break;
        }
        case 'c': {
            char c = (char)va_arg(args, int);
            PutField(&sink, spec, "", &c, 1);
            break;
        }
        case 's': {
            const char *text = va_arg(args, const char *);
            if (!text)
                text = "(null)";
            int count = 0;
            // The precision bounds the read: a counted text need not be terminated.
            while ((spec.precision < 0 || count < spec.precision) && text[count])
                count++;
            Spec field = spec;
            field.precision = -1;
            field.zero = false;
            PutField(&sink, field, "", text, count);
            break;
        }
        case '%':
            Put(&sink, '%');
            break;
        default:
            // Unknown conversion or a format that ends inside a field.
            return Refuse(out, room);
        }
    }

    if (out && room > 0)
        out[sink.length < room ? sink.length : room - 1] = '\0';
    if (sink.length > 0x7FFFFFFF)
        return -1;
    return (int)sink.length;
}

int FormatText(char *out, size_t room, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = FormatTextV(out, room, format, args);
    va_end(args);
    return length;
}

size_t CopyText(char *out, size_t room, const char *text)
{
    if (!out || room == 0)
        return 0;
    size_t i = 0;
    if (text) {
        for (; i + 1 < room && text[i]; i++)
            out[i] = text[i];
    }
    out[i] = '\0';
    return i;
}
