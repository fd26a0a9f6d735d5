#include "file_name_rules.h"

namespace
{

const char *const REFUSED_EXTENSIONS[] = {"bat", "cmd", "com", "dll", "exe", "lib", "obj", "ocx"};

const char *const DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// Case-insensitive comparison of text[0..length) with an ASCII word.
bool SameWord(const char *text, size_t length, const char *word)
{
    size_t i = 0;
    for (; i < length && word[i]; i++) {
        if (Upper(text[i]) != Upper(word[i]))
            return false;
    }
    return i == length && word[i] == '\0';
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Length of text without its trailing dots and spaces.
size_t TrimmedLength(const char *text, size_t length)
{
    while (length > 0 && (text[length - 1] == '.' || text[length - 1] == ' '))
        length--;
    return length;
}

} // namespace

bool HasRefusedExtension(const char *filePart)
{
    if (!filePart)
        return false;
    size_t length = 0;
    while (filePart[length])
        length++;
    length = TrimmedLength(filePart, length);
    size_t dot = length;
    while (dot > 0 && filePart[dot - 1] != '.')
        dot--;
    if (dot == 0)
        return false; // no dot at all
    for (const char *extension : REFUSED_EXTENSIONS) {
        if (SameWord(filePart + dot, length - dot, extension))
            return true;
    }
    return false;
}

bool NamesDevice(const char *path)
{
    if (!path)
        return false;
    if (IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '.' || path[2] == '?') &&
        IsSeparator(path[3]))
        return true;
    const char *last = path;
    for (const char *p = path; *p; p++) {
        if (IsSeparator(*p) || *p == ':')
            last = p + 1;
    }
    // The device name is the part before the first dot, spaces trimmed.
    size_t stem = 0;
    while (last[stem] && last[stem] != '.')
        stem++;
    while (stem > 0 && last[stem - 1] == ' ')
        stem--;
    for (const char *device : DEVICE_NAMES) {
        if (SameWord(last, stem, device))
            return true;
    }
    if (stem == 4 && (SameWord(last, 3, "COM") || SameWord(last, 3, "LPT")) && last[3] >= '1' &&
        last[3] <= '9')
        return true;
    return false;
}
