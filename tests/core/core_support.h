// Helpers shared by the trace core test programs: the program name as the
// log prints it, parsing of text and dump lines, and a fixture that gives
// every test its own scratch folder and checks that no trace outlives it.
#ifndef TRACELOG_TEST_CORE_SUPPORT_H
#define TRACELOG_TEST_CORE_SUPPORT_H

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "log_reader.h"
#include "trace_dll.h"

// A key or any 32-bit value as the log prints it: "%04lX".
std::string KeyText(DWORD value);

// The parts of a text line "NAME KEY ELAPSED LEVEL: MESSAGE".
struct TextLine {
    std::string name;
    std::string key;
    std::string elapsedText;
    long elapsed = 0;
    std::string level;  // "INF", "WRN" or "ERR"
    std::string message;
};

// True when line has the head of a text line (name, a key of at least four
// upper-case hex digits, an elapsed time of at least four digits, a level).
bool ParseTextLine(const std::string &line, TextLine *parsed);

// One dump line, checked against the layout: indent, offset, 16 hex columns
// (":" after the 8th byte, fillers only after the last byte), the character
// column matching the bytes. Gives the offset and the bytes.
bool ParseDumpLine(const std::string &line, size_t indent, unsigned long *offset,
                   std::string *bytes);

// Runs body on a new thread and waits for it.
void RunOnThread(const std::function<void()> &body);

bool FileExists(const std::string &path);

// Every test gets a fresh scratch folder and a log path in it; afterwards no
// trace may be left alive, whatever the test did.
class TraceFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string dir;
    std::string path;  // dir + "\trace.log"
};

#endif
