// printf-style formatting with the Windows meaning of the size prefixes:
// "I" is pointer-sized, "l" is 32 bits (a Windows LONG), "h" is 16 bits.
// Free of platform headers so that it also builds natively for tests and
// fuzzing.
#ifndef KESTRELNODE9_TEXT_FORMAT_H
#define KESTRELNODE9_TEXT_FORMAT_H

#include <stdarg.h>
#include <stddef.h>

// Formats into out (room characters including the terminator), always
// terminating when room > 0. Returns the length the whole text needs
// (excluding the terminator), even when it was cut, or -1 for a format the
// formatter does not know. Supported: flags "-0+ #", a width (digits or *),
// a precision (".digits" or ".*"), the prefixes h, l, I, I32, I64, ll, and
// the conversions d i u x X o c s p %.
int FormatTextV(char *out, size_t room, const char *format, va_list args);
int FormatText(char *out, size_t room, const char *format, ...);

// Bounded, always-terminating copy of at most room-1 characters; returns the
// number of characters copied.
size_t CopyText(char *out, size_t room, const char *text);

#endif
