#include "address_text.h"

#include "text_format.h"

namespace
{

const int IPV6_GROUPS = 8;

} // namespace

char *FormatInetAddress(char *out, int maxLength, const unsigned char *addr)
{
    if (!out || maxLength < 1)
        return NULL;
    if (!addr)
        CopyText(out, (size_t)maxLength, "NULL");
    else
        FormatText(out, (size_t)maxLength, "%u.%u.%u.%u", addr[0], addr[1], addr[2], addr[3]);
    return out;
}

char *FormatInet6Address(const unsigned char *addr, char *out)
{
    if (!out)
        return NULL;
    if (!addr) {
        CopyText(out, ADDRESS_TEXT_ROOM, "NULL");
        return out;
    }
    out[0] = '\0';

    unsigned int groups[IPV6_GROUPS];
    for (int i = 0; i < IPV6_GROUPS; i++)
        groups[i] = addr[2 * i] * 256u + addr[2 * i + 1];

    // The longest run of zero groups; the first of equally long runs wins.
    int bestStart = -1;
    int bestLength = 0;
    for (int i = 0; i < IPV6_GROUPS;) {
        if (groups[i] != 0) {
            i++;
            continue;
        }
        int start = i;
        while (i < IPV6_GROUPS && groups[i] == 0)
            i++;
        if (i - start > bestLength) {
            bestStart = start;
            bestLength = i - start;
        }
    }
    if (bestLength < 2) {
        bestStart = -1;
        bestLength = 0;
    }

    char text[ADDRESS_TEXT_ROOM];
    int used = 0;
    bool fits = true;
    for (int i = 0; i < IPV6_GROUPS && fits; i++) {
        int room = ADDRESS_TEXT_ROOM - used;
        if (bestStart >= 0 && i >= bestStart && i < bestStart + bestLength) {
            if (i == bestStart) {
                fits = room > 1;
                if (fits)
                    text[used++] = ':';
            }
            continue;
        }
        if (i != 0) {
            fits = room > 1;
            if (!fits)
                break;
            text[used++] = ':';
            room--;
        }
        bool embeddedIpv4 = i == 6 && bestStart == 0 &&
                            (bestLength == 6 || (bestLength == 5 && groups[5] == 0xffff));
        if (embeddedIpv4) {
            char ipv4[16];
            FormatInetAddress(ipv4, sizeof(ipv4), addr + 12);
            int length = FormatText(text + used, (size_t)room, "%s", ipv4);
            fits = length >= 0 && length < room;
            used += length;
            break;
        }
        int length = FormatText(text + used, (size_t)room, "%x", groups[i]);
        fits = length >= 0 && length < room;
        used += length;
    }
    if (fits && bestStart >= 0 && bestStart + bestLength == IPV6_GROUPS) {
        fits = ADDRESS_TEXT_ROOM - used > 1;
        if (fits)
            text[used++] = ':';
    }
    if (!fits)
        return NULL;
    text[used] = '\0';
    CopyText(out, ADDRESS_TEXT_ROOM, text);
    return out;
}

char *FormatSockAddressBounded(const void *sa, int length, char *out)
{
    if (!out)
        return NULL;
    if (!sa) {
        CopyText(out, SOCK_ADDRESS_TEXT_ROOM, "[NULL]");
        return out;
    }
    out[0] = '\0';
    const unsigned char *bytes = (const unsigned char *)sa;
    if (length < 2)
        return out;
    int family = bytes[0] | (bytes[1] << 8);
    char address[ADDRESS_TEXT_ROOM];
    if (family == TRACE_AF_INET && length >= SOCK_ADDRESS_IN_SIZE) {
        FormatInetAddress(address, ADDRESS_TEXT_ROOM, bytes + 4);
    } else if (family == TRACE_AF_INET6 && length >= SOCK_ADDRESS_IN6_SIZE) {
        if (!FormatInet6Address(bytes + 8, address))
            return out;
    } else {
        return out;
    }
    unsigned int port = bytes[2] * 256u + bytes[3];
    FormatText(out, SOCK_ADDRESS_TEXT_ROOM, "[%s]:%u", address, port);
    return out;
}

char *FormatSockAddress(const void *sa, char *out)
{
    return FormatSockAddressBounded(sa, SOCK_ADDRESS_IN6_SIZE, out);
}
