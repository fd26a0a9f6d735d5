// A checker for the shape of every line in a log file: each line must be a
// whole text line or a whole dump line, ending in CR LF. A torn or
// interleaved write shows up as a line that fits neither.
//
// Text line: PROGRAM SP KEY SP ELAPSED SP LEVEL MESSAGE [" [code]"] CR LF
//   KEY      4 or more upper-case hex digits
//   ELAPSED  4 or more characters: digits, or "-" and digits
//   LEVEL    "INF: ", "WRN: " or "ERR: "; WRN and ERR lines end in " [code]"
// Dump line: (len(PROGRAM)+1 spaces) OFFSET "  " HEX SP CHARS CR LF
//   OFFSET   4 or more upper-case hex digits, a multiple of 16
//   HEX      16 slots of "XX " ("XX:" for the 8th byte), "   " for missing
//            bytes after the last one
//   CHARS    one per byte: the byte itself in 0x20..0x7E, else "."
// Every dump line after offset 0 must follow the full line before it in the
// same block, since a dump goes out whole.
//
// Messages are assumed to hold no CR or LF of their own.
#ifndef TRACELOG_TEST_LOG_GRAMMAR_H
#define TRACELOG_TEST_LOG_GRAMMAR_H

#include <map>
#include <string>
#include <vector>

#include "log_reader.h"

enum LogLevel { LOG_INF, LOG_WRN, LOG_ERR, LOG_LEVELS };

struct LogTextLine {
    size_t number;        // 1-based line number in the file
    unsigned long key;
    long elapsed;
    LogLevel level;
    std::string message;  // without the " [code]" of WRN and ERR lines
    long code;            // WRN and ERR lines only, else 0
};

struct LogDumpLine {
    size_t number;
    unsigned long offset;
    std::string bytes;    // the bytes of the hex column (1 to 16)
};

struct LogBadLine {
    size_t number;
    std::string text;
    std::string reason;
};

struct LogKeyCounts {
    size_t level[LOG_LEVELS] = {0, 0, 0};
    size_t Total() const { return level[LOG_INF] + level[LOG_WRN] + level[LOG_ERR]; }
};

struct LogCheck {
    size_t lineCount = 0;                       // every line, good or bad
    std::map<unsigned long, LogKeyCounts> keys; // text lines per key and level
    std::vector<LogTextLine> textLines;
    std::vector<LogDumpLine> dumpLines;
    std::vector<LogBadLine> badLines;

    bool Clean() const { return badLines.empty(); }
    size_t TextCount(LogLevel level) const;
};

// Checks the log at path for the given program name (as the lines show it,
// e.g. "STRESS_TESTS"). A missing file is an empty, clean log.
LogCheck CheckLog(const std::string &path, const std::string &programName);
LogCheck CheckLogBytes(const std::string &bytes, const std::string &programName);

// The first few bad lines, for a failure message.
std::string DescribeBadLines(const LogCheck &check, size_t limit = 10);

#endif
