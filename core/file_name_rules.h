// Text rules about log file names, free of platform headers.
#ifndef KESTRELNODE9_FILE_NAME_RULES_H
#define KESTRELNODE9_FILE_NAME_RULES_H

#include <stddef.h>

// True when the last extension of the file part names a program or library
// (bat, cmd, com, dll, exe, lib, obj, ocx, in any case). Trailing dots and
// spaces are ignored, as Windows drops them from file names.
bool HasRefusedExtension(const char *filePart);

// True for a path in the Win32 device namespace (\\.\ or \\?\), and for one
// whose last component is a reserved device name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$), with or without an extension.
bool NamesDevice(const char *path);

#endif
