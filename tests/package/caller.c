/*
 * A C program that uses Kestrelnode9.TraceLog.dll the ordinary way: the
 * installed header and an import library, no LoadLibrary. It writes a short
 * trace into a log beside itself and reads back what the DLL wrote.
 * Exit code 0 when everything is as it should be.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <shlwapi.h>

#include "kestrelnode9_tracelog.h"

static int failures = 0;

static void Check(int ok, const char *what)
{
    if (!ok) {
        printf("FAILED: %s\n", what);
        failures++;
    }
}

/* This program's path with ".log" in place of ".exe". */
static int LogNameBesideProgram(char *name, DWORD size)
{
    DWORD length = GetModuleFileNameA(NULL, name, size);
    if (length < 4 || length >= size)
        return 0;
    strcpy(name + length - 4, ".log");
    return 1;
}

static size_t ReadWholeFile(const char *path, char *text, size_t size)
{
    size_t length = 0;
    FILE *file = fopen(path, "rb");
    if (file) {
        length = fread(text, 1, size - 1, file);
        fclose(file);
    }
    text[length] = '\0';
    return length;
}

int main(void)
{
    char logName[MAX_PATH], path[MAX_PATH], text[8192];
    DLLVERSIONINFO version;

    memset(&version, 0, sizeof(version));
    version.cbSize = sizeof(version);
    Check(DllGetVersion(&version) == 0 && version.dwMajorVersion == 9 &&
              version.dwMinorVersion == 5 && version.dwBuildNumber == 9530,
          "DllGetVersion gives 9.5.9530");

    if (!LogNameBesideProgram(logName, sizeof(logName)))
        return 2;
    DeleteFileA(logName);
    Check(TraceStart(logName, TRACE_HEXDUMP) == 1, "TraceStart");
    Check(TraceActiveCount() == 1, "TraceActiveCount during the trace");
    Check(TraceWrite(TRACE_KIND_TEXT, "written by a C caller", 0) == 1, "TraceWrite of text");
    Check(TraceWrite(TRACE_KIND_DUMP, "abc", 3) == 1, "TraceWrite of a dump");
    TraceSocket(316, AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Check(TraceGetFileName(path, sizeof(path)) == (int)strlen(logName) &&
              strcmp(path, logName) == 0,
          "TraceGetFileName gives the log's name");
    Check(TraceStop() == 1, "TraceStop");
    Check(TraceActiveCount() == 0, "TraceActiveCount after the trace");

    ReadWholeFile(logName, text, sizeof(text));
    Check(strstr(text, " INF: started thread 0x") != NULL, "start line");
    Check(strstr(text, " INF: written by a C caller\r\n") != NULL, "text line");
    Check(strstr(text, "  0000  61 62 63 ") != NULL, "dump line");
    Check(strstr(text, " INF: socket(2, 1, 6) returned 316\r\n") != NULL, "tracer line");
    Check(strstr(text, " INF: stopped thread 0x") != NULL, "stop line");
    if (failures)
        printf("The log %s holds:\n%s", logName, text);
    else
        printf("%s: all well\n", logName);
    return failures ? 1 : 0;
}
