// Which log file names are refused: program and library extensions, and
// names that reach a device instead of a file.
#include <gtest/gtest.h>

#include "file_name_rules.h"

namespace {

struct NameCase {
    const char *name;
    bool expected;
};

TEST(FileNameRules, RefusedExtensions)
{
    const NameCase cases[] = {
        {"run.exe", true},
        {"X.DLL", true},
        {"a.b.Cmd", true},
        {".exe", true},
        {"run.exe.", true},     // Windows drops trailing dots and spaces
        {"run.exe  ", true},
        {"run.exe. .", true},
        {"a.ocx", true},
        {"x.com", true},
        {"y.obj", true},
        {"z.lib", true},
        {"q.bat", true},
        {"q.cmd", true},
        {"notes.exe.txt", false},
        {"noext", false},
        {"report.", false},
        {"run.exe1", false},
        {"run.ex", false},
        {"run.exex", false},
        {"trace.log", false},
        {"", false},
        {"...", false},
        {nullptr, false},
    };
    for (const NameCase &c : cases)
        EXPECT_EQ(HasRefusedExtension(c.name), c.expected) << (c.name ? c.name : "(null)");
}

TEST(FileNameRules, DeviceNames)
{
    const NameCase cases[] = {
        {"\\\\.\\COM1", true},
        {"\\\\?\\C:\\x.log", true},
        {"//./pipe/x", true},
        {"\\/.\\x", true},
        {"CON", true},
        {"con.txt", true},
        {"NUL .log", true},
        {"C:\\dir\\CON.log", true},
        {"C:/dir/prn", true},
        {"C:aux.log", true},
        {"aux", true},
        {"CONIN$", true},
        {"conout$.log", true},
        {"COM1", true}, {"COM2", true}, {"COM3", true}, {"COM4", true}, {"COM5", true},
        {"COM6", true}, {"COM7", true}, {"COM8", true}, {"COM9", true},
        {"LPT1", true}, {"LPT2", true}, {"LPT3", true}, {"LPT4", true}, {"LPT5", true},
        {"LPT6", true}, {"LPT7", true}, {"LPT8", true}, {"LPT9.log", true},
        {"com1.txt", true},
        {"COM0", false},
        {"LPT0", false},
        {"COM10", false},
        {"console.log", false},
        {"auxiliary.log", false},
        {"CONIN", false},
        {"C:\\CON\\trace.log", false},  // only the last component counts
        {"\\\\server\\share\\x.log", false},
        {"\\\\.", false},
        {"trace.log", false},
        {"C:\\dir\\", false},
        {"", false},
        {nullptr, false},
    };
    for (const NameCase &c : cases)
        EXPECT_EQ(NamesDevice(c.name), c.expected) << (c.name ? c.name : "(null)");
}

}  // namespace
