#include "core_support.h"

#include <cctype>
#include <cstdio>

std::string KeyText(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%04lX", (unsigned long)value);
    return text;
}

namespace {

bool IsUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

}  // namespace

bool ParseTextLine(const std::string &line, TextLine *parsed)
{
    size_t first = line.find(' ');
    if (first == std::string::npos || first == 0)
        return false;
    size_t second = line.find(' ', first + 1);
    if (second == std::string::npos)
        return false;
    size_t third = line.find(' ', second + 1);
    if (third == std::string::npos)
        return false;
    TextLine result;
    result.name = line.substr(0, first);
    result.key = line.substr(first + 1, second - first - 1);
    result.elapsedText = line.substr(second + 1, third - second - 1);
    if (result.key.size() < 4)
        return false;
    for (char c : result.key) {
        if (!IsUpperHex(c))
            return false;
    }
    std::string digits = result.elapsedText;
    if (!digits.empty() && digits[0] == '-')
        digits = digits.substr(1);
    if (digits.size() < 4 || result.elapsedText.size() < 4)
        return false;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    result.elapsed = std::strtol(result.elapsedText.c_str(), nullptr, 10);
    std::string rest = line.substr(third + 1);
    if (rest.size() < 5 || rest.compare(3, 2, ": ") != 0)
        return false;
    result.level = rest.substr(0, 3);
    if (result.level != "INF" && result.level != "WRN" && result.level != "ERR")
        return false;
    result.message = rest.substr(5);
    if (parsed)
        *parsed = result;
    return true;
}

bool ParseDumpLine(const std::string &line, size_t indent, unsigned long *offset,
                   std::string *bytes)
{
    if (line.size() < indent || line.find_first_not_of(' ') != indent)
        return false;
    size_t at = indent;
    unsigned long value = 0;
    size_t digits = 0;
    while (at < line.size() && IsUpperHex(line[at])) {
        value = value * 16 + (unsigned long)HexValue(line[at]);
        at++;
        digits++;
    }
    if (digits < 4 || line.compare(at, 2, "  ") != 0)
        return false;
    at += 2;
    if (line.size() < at + 48 + 1)
        return false;
    std::string found;
    bool ended = false;
    for (size_t i = 0; i < 16; i++) {
        const char *cell = line.c_str() + at + 3 * i;
        if (cell[0] == ' ' && cell[1] == ' ' && cell[2] == ' ') {
            if (i == 0)
                return false;
            ended = true;
            continue;
        }
        if (ended || !IsUpperHex(cell[0]) || !IsUpperHex(cell[1]) || cell[2] != (i == 7 ? ':' : ' '))
            return false;
        found += (char)(HexValue(cell[0]) * 16 + HexValue(cell[1]));
    }
    at += 48;
    if (line[at] != ' ')
        return false;
    std::string characters = line.substr(at + 1);
    if (characters.size() != found.size())
        return false;
    for (size_t i = 0; i < found.size(); i++) {
        unsigned char byte = (unsigned char)found[i];
        char shown = (byte >= 0x20 && byte <= 0x7E) ? (char)byte : '.';
        if (characters[i] != shown)
            return false;
    }
    if (offset)
        *offset = value;
    if (bytes)
        *bytes = found;
    return true;
}

namespace {

DWORD WINAPI RunBody(void *body)
{
    (*static_cast<const std::function<void()> *>(body))();
    return 0;
}

}  // namespace

void RunOnThread(const std::function<void()> &body)
{
    HANDLE thread = CreateThread(nullptr, 0, RunBody, const_cast<std::function<void()> *>(&body), 0,
                                 nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TraceFixture::SetUp()
{
    ASSERT_NE(Dll().module, nullptr) << "Kestrelnode9.TraceLog.dll not loaded";
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char &c : name) {
        if (!std::isalnum((unsigned char)c))
            c = '_';
    }
    dir = MakeScratchDirectory(name);
    path = dir + "\\trace.log";
}

void TraceFixture::TearDown()
{
    EXPECT_EQ(Dll().ActiveCount(), 0) << "a trace outlived the test";
    // Clean up after a failed test so that the next one starts from nothing.
    while (Dll().Stop()) {
    }
}
