// Socket addresses as text, from raw bytes in network byte order, without
// the platform's address-to-text services. Free of platform headers.
#ifndef KESTRELNODE9_ADDRESS_TEXT_H
#define KESTRELNODE9_ADDRESS_TEXT_H

#include <stddef.h>

const int ADDRESS_TEXT_ROOM = 64;       // an IPv6 address as text
const int SOCK_ADDRESS_TEXT_ROOM = 128; // "[address]:port"

const int TRACE_AF_INET = 2;
const int TRACE_AF_INET6 = 23;
const int SOCK_ADDRESS_IN_SIZE = 8;   // family, port, IPv4 address
const int SOCK_ADDRESS_IN6_SIZE = 24; // family, port, flow information, IPv6 address

// "a.b.c.d", cut to maxLength-1 characters; "NULL" for a null addr. Returns
// out, or null when out is null or maxLength is less than 1.
char *FormatInetAddress(char *out, int maxLength, const unsigned char *addr);

// The usual IPv6 text form into out (64 characters). Returns out, or null
// when out is null or the text would not fit.
char *FormatInet6Address(const unsigned char *addr, char *out);

// "[address]:port" for AF_INET and AF_INET6, "[NULL]" for a null sa, and the
// empty text for any other family. Reads only the family's own layout.
char *FormatSockAddress(const void *sa, char *out);

// The same, reading no more than length bytes of sa: a name shorter than its
// family's layout gives the empty text.
char *FormatSockAddressBounded(const void *sa, int length, char *out);

#endif
