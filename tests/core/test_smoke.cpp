#include <gtest/gtest.h>

#include "log_reader.h"
#include "trace_dll.h"

TEST(Smoke, StartWriteStop)
{
    ASSERT_NE(Dll().module, nullptr);
    std::string dir = MakeScratchDirectory("smoke");
    std::string path = dir + "\\smoke.log";
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    EXPECT_EQ(Dll().Write(0, "hello\nworld", 0), 1);
    EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, "USER anonymous\r\n", 16), 1);
    Dll().Connect(-1, 316, nullptr, 16);
    EXPECT_EQ(Dll().Stop(), 1);
    std::string bytes = ReadFileBytes(path);
    printf("%s", bytes.c_str());
}
