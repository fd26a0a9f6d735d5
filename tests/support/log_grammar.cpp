#include "log_grammar.h"

#include <windows.h>

#include "log_reader.h"

namespace {

const char *const LEVEL_TEXT[LOG_LEVELS] = {"INF: ", "WRN: ", "ERR: "};

bool IsUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Reads 4 to 8 upper-case hex digits at line[*at] followed by a space.
bool ReadHexField(const std::string &line, size_t *at, unsigned long *value)
{
    size_t start = *at;
    size_t end = start;
    unsigned long result = 0;
    while (end < line.size() && IsUpperHex(line[end])) {
        result = result * 16 + (unsigned long)HexValue(line[end]);
        end++;
    }
    if (end - start < 4 || end - start > 8)
        return false;
    *value = result;
    *at = end;
    return true;
}

// Reads the elapsed column: at least 4 characters, "-" and digits or digits.
bool ReadElapsedField(const std::string &line, size_t *at, long *value)
{
    size_t start = *at;
    size_t end = start;
    bool negative = end < line.size() && line[end] == '-';
    if (negative)
        end++;
    size_t digits = end;
    long long result = 0;
    while (end < line.size() && IsDigit(line[end])) {
        result = result * 10 + (line[end] - '0');
        if (result > 2147483648LL)
            return false;
        end++;
    }
    if (end == digits || end - start < 4)
        return false;
    *value = (long)(negative ? -result : result);
    *at = end;
    return true;
}

// A trailing " [code]" on WRN and ERR lines: -?digits.
bool SplitCode(const std::string &rest, std::string *message, long *code)
{
    if (rest.size() < 4 || rest.back() != ']')
        return false;
    size_t open = rest.rfind(" [");
    if (open == std::string::npos)
        return false;
    size_t at = open + 2;
    size_t close = rest.size() - 1;
    bool negative = at < close && rest[at] == '-';
    if (negative)
        at++;
    if (at == close)
        return false;
    long long value = 0;
    for (size_t i = at; i < close; i++) {
        if (!IsDigit(rest[i]))
            return false;
        value = value * 10 + (rest[i] - '0');
        if (value > 2147483648LL)
            return false;
    }
    *message = rest.substr(0, open);
    *code = (long)(negative ? -value : value);
    return true;
}

bool ParseTextLine(const std::string &line, const std::string &program, LogTextLine *out,
                   std::string *reason)
{
    if (line.compare(0, program.size(), program) != 0 || line.size() <= program.size() ||
        line[program.size()] != ' ') {
        *reason = "no program name";
        return false;
    }
    size_t at = program.size() + 1;
    if (!ReadHexField(line, &at, &out->key) || at >= line.size() || line[at] != ' ') {
        *reason = "bad key column";
        return false;
    }
    at++;
    if (!ReadElapsedField(line, &at, &out->elapsed) || at >= line.size() || line[at] != ' ') {
        *reason = "bad elapsed column";
        return false;
    }
    at++;
    int level = -1;
    for (int i = 0; i < LOG_LEVELS; i++) {
        if (line.compare(at, 5, LEVEL_TEXT[i]) == 0)
            level = i;
    }
    if (level < 0) {
        *reason = "bad level";
        return false;
    }
    out->level = (LogLevel)level;
    at += 5;
    std::string rest = line.substr(at);
    out->code = 0;
    if (level == LOG_INF) {
        out->message = rest;
    } else if (!SplitCode(rest, &out->message, &out->code)) {
        *reason = "WRN/ERR line without [code]";
        return false;
    }
    return true;
}

bool ParseDumpLine(const std::string &line, size_t indent, LogDumpLine *out, std::string *reason)
{
    for (size_t i = 0; i < indent; i++) {
        if (i >= line.size() || line[i] != ' ') {
            *reason = "bad dump indent";
            return false;
        }
    }
    size_t at = indent;
    if (!ReadHexField(line, &at, &out->offset) || line.compare(at, 2, "  ") != 0 ||
        out->offset % 16 != 0) {
        *reason = "bad dump offset";
        return false;
    }
    at += 2;
    if (line.size() < at + 48 + 1) {
        *reason = "short dump line";
        return false;
    }
    out->bytes.clear();
    bool filler = false;
    for (size_t slot = 0; slot < 16; slot++) {
        const char *cell = line.c_str() + at + slot * 3;
        if (cell[0] == ' ' && cell[1] == ' ' && cell[2] == ' ') {
            filler = true;
            continue;
        }
        char separator = slot == 7 ? ':' : ' ';
        if (filler || !IsUpperHex(cell[0]) || !IsUpperHex(cell[1]) || cell[2] != separator) {
            *reason = "bad dump hex column";
            return false;
        }
        out->bytes += (char)(HexValue(cell[0]) * 16 + HexValue(cell[1]));
    }
    at += 48;
    if (out->bytes.empty() || line[at] != ' ') {
        *reason = "bad dump hex column";
        return false;
    }
    at++;
    std::string chars = line.substr(at);
    if (chars.size() != out->bytes.size()) {
        *reason = "dump character column of the wrong length";
        return false;
    }
    for (size_t i = 0; i < chars.size(); i++) {
        unsigned char byte = (unsigned char)out->bytes[i];
        char expected = (byte >= 0x20 && byte <= 0x7E) ? (char)byte : '.';
        if (chars[i] != expected) {
            *reason = "dump character column differs from the hex column";
            return false;
        }
    }
    return true;
}

}  // namespace

size_t LogCheck::TextCount(LogLevel level) const
{
    size_t total = 0;
    for (const auto &entry : keys)
        total += entry.second.level[level];
    return total;
}

LogCheck CheckLogBytes(const std::string &bytes, const std::string &programName)
{
    LogCheck check;
    size_t indent = programName.size() + 1;
    // Offset the next dump line of the current block must have, or 0 when
    // the previous line did not leave a block open.
    unsigned long continuation = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        bool terminated = end != std::string::npos;
        if (!terminated)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = terminated ? end + 2 : bytes.size();
        size_t number = ++check.lineCount;

        std::string reason;
        if (!terminated) {
            reason = "no CR LF at the end of the file";
        } else if (line.find_first_of("\r\n") != std::string::npos) {
            reason = "stray CR or LF";
        }
        if (!reason.empty()) {
            check.badLines.push_back({number, line, reason});
            continuation = 0;
            continue;
        }

        if (!line.empty() && line[0] == ' ') {
            LogDumpLine dump;
            dump.number = number;
            if (!ParseDumpLine(line, indent, &dump, &reason)) {
                check.badLines.push_back({number, line, reason});
                continuation = 0;
                continue;
            }
            if (dump.offset != 0 && dump.offset != continuation) {
                check.badLines.push_back({number, line, "dump line out of its block"});
                continuation = 0;
                continue;
            }
            continuation = dump.bytes.size() == 16 ? dump.offset + 16 : 0;
            check.dumpLines.push_back(dump);
            continue;
        }

        continuation = 0;
        LogTextLine text;
        text.number = number;
        if (!ParseTextLine(line, programName, &text, &reason)) {
            check.badLines.push_back({number, line, reason});
            continue;
        }
        check.keys[text.key].level[text.level]++;
        check.textLines.push_back(text);
    }
    return check;
}

LogCheck CheckLog(const std::string &path, const std::string &programName)
{
    return CheckLogBytes(ReadFileBytes(path), programName);
}

std::string DescribeBadLines(const LogCheck &check, size_t limit)
{
    std::string text;
    for (size_t i = 0; i < check.badLines.size() && i < limit; i++) {
        const LogBadLine &bad = check.badLines[i];
        text += "line " + std::to_string(bad.number) + " (" + bad.reason + "): " +
                bad.text.substr(0, 200) + "\n";
    }
    if (check.badLines.size() > limit)
        text += "... " + std::to_string(check.badLines.size() - limit) + " more\n";
    return text;
}

