// Where a trace's log goes: directories, relative names, environment
// references, refused extensions and devices, file attributes, length limits
// and reading the name back.
#include <cstring>

#include "core_support.h"

namespace {

class FileLocation : public TraceFixture {
protected:
    void SetUp() override
    {
        TraceFixture::SetUp();
        documents = DocumentsFolder();
        ASSERT_FALSE(documents.empty());
    }

    // Replaces {S} by the scratch folder and {D} by the documents folder.
    std::string Fill(std::string text) const
    {
        for (size_t at; (at = text.find("{S}")) != std::string::npos;)
            text.replace(at, 3, dir);
        for (size_t at; (at = text.find("{D}")) != std::string::npos;)
            text.replace(at, 3, documents);
        return text;
    }

    // Starts a silent trace with name and gives back what TraceStart
    // returned and the file the trace then has ("" when refused).
    std::string Resolve(const char *name, int *started = nullptr)
    {
        int result = Dll().Start(name, TRACE_SUSPEND);
        char buffer[512];
        std::memset(buffer, '#', sizeof(buffer));
        int length = Dll().GetFileName(buffer, sizeof(buffer));
        EXPECT_EQ(Dll().Stop(), 1);
        buffer[sizeof(buffer) - 1] = '\0';
        EXPECT_EQ((size_t)length, std::strlen(buffer));
        EXPECT_EQ(result, length > 0 ? 1 : 0) << name;
        if (started)
            *started = result;
        return buffer;
    }

    std::string documents;
};

struct NameCase {
    const char *name;
    const char *expected;  // nullptr: refused
};

TEST_F(FileLocation, NamesResolveOrAreRefused)
{
    ASSERT_TRUE(SetEnvironmentVariableA("CORE_TESTS_DIR", dir.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableA("CORE_TESTS_EXT", "exe"));
    const NameCase cases[] = {
        // Existing directories get the default file.
        {"{S}", "{S}\\Kestrelnode9.log"},
        {"{S}\\", "{S}\\Kestrelnode9.log"},
        {"{S}/", "{S}/Kestrelnode9.log"},
        // Paths and bare names.
        {"{S}\\trace.txt", "{S}\\trace.txt"},
        {"{S}/sub/../trace.txt", "{S}\\trace.txt"},
        {"trace.txt", "{D}\\trace.txt"},
        {"{S}\\noextension", "{S}\\noextension"},
        {"{S}\\notes.exe.txt", "{S}\\notes.exe.txt"},
        {"notes.exe.txt", "{D}\\notes.exe.txt"},
        // Environment references; a "%" of no variable stays as written.
        {"%CORE_TESTS_DIR%\\app.log", "{S}\\app.log"},
        {"%CORE_TESTS_DIR%", "{S}\\Kestrelnode9.log"},
        {"{S}\\100%.log", "{S}\\100%.log"},
        {"{S}\\%CORE_TESTS_UNSET%.log", "{S}\\%CORE_TESTS_UNSET%.log"},
        {"{S}\\run.%CORE_TESTS_EXT%", nullptr},
        // Program and library extensions, in any case, also with the
        // trailing dots and spaces that Windows drops from a name.
        {"run.exe", nullptr},
        {"{S}\\run.exe", nullptr},
        {"X.DLL", nullptr},
        {"{S}\\a.b.Cmd", nullptr},
        {"{S}\\go.bat", nullptr},
        {"{S}\\go.com", nullptr},
        {"{S}\\go.lib", nullptr},
        {"{S}\\go.obj", nullptr},
        {"{S}\\go.OCX", nullptr},
        {"{S}\\run.exe.", nullptr},
        {"{S}\\run.exe ", nullptr},
        {"{S}\\run.exe. .", nullptr},
        {"{S}\\run.exe.log", "{S}\\run.exe.log"},
        // Devices, by namespace or by reserved name.
        {"\\\\.\\NUL", nullptr},
        {"\\\\.\\C:\\trace.log", nullptr},
        {"\\\\.\\pipe\\trace", nullptr},
        {"\\\\?\\{S}\\trace.log", nullptr},
        {"CON", nullptr},
        {"NUL", nullptr},
        {"prn", nullptr},
        {"aux", nullptr},
        {"COM1", nullptr},
        {"LPT9", nullptr},
        {"CONIN$", nullptr},
        {"CONOUT$", nullptr},
        {"nul.txt", nullptr},
        {"C:\\dir\\CON.log", nullptr},
        {"{S}\\com9.log", nullptr},
        // Names that only look like devices.
        {"{S}\\console.log", "{S}\\console.log"},
        {"{S}\\COM10.log", "{S}\\COM10.log"},
        {"{S}\\nul1.txt", "{S}\\nul1.txt"},
    };
    for (const NameCase &c : cases) {
        std::string name = Fill(c.name);
        SCOPED_TRACE("name: " + name);
        EXPECT_EQ(Resolve(name.c_str()), c.expected ? Fill(c.expected) : "");
    }
    SetEnvironmentVariableA("CORE_TESTS_DIR", nullptr);
    SetEnvironmentVariableA("CORE_TESTS_EXT", nullptr);
}

TEST_F(FileLocation, NoNameGivesTheDefaultFileInTheDocumentsFolder)
{
    std::string expected = documents + "\\Kestrelnode9.log";
    EXPECT_EQ(Resolve(nullptr), expected);
    EXPECT_EQ(Resolve(""), expected);

    // TraceSetFileName: nothing without a trace, and null means the default.
    EXPECT_EQ(Dll().SetFileName(path.c_str()), 0);
    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_SUSPEND), 1);
    EXPECT_EQ(Dll().SetFileName(nullptr), 1);
    char buffer[300] = {0};
    Dll().GetFileName(buffer, sizeof(buffer));
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(Dll().Stop(), 1);
}

TEST_F(FileLocation, RelativeDirectoryStaysRelative)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(CreateDirectoryA((dir + "\\logs").c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));

    EXPECT_EQ(Resolve("logs"), "logs\\Kestrelnode9.log");
    EXPECT_EQ(Resolve("logs\\"), "logs\\Kestrelnode9.log");
    EXPECT_EQ(Resolve("."), ".\\Kestrelnode9.log");
    // A relative file name with a separator is made absolute.
    EXPECT_EQ(Resolve("logs\\run.txt"), dir + "\\logs\\run.txt");

    // The relative name is used as it stands when the lines are written.
    EXPECT_EQ(Dll().Start("logs", 0), 1);
    EXPECT_EQ(Dll().Stop(), 1);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(ReadLogLines(dir + "\\logs\\Kestrelnode9.log").size(), 2u);
}

TEST_F(FileLocation, LongDirectoryNameIsCutTo223Characters)
{
    for (size_t length : {223u, 240u}) {
        SCOPED_TRACE(length);
        std::string directory = dir + "\\" + std::string(length - dir.size() - 1, 'd');
        ASSERT_EQ(directory.size(), length);
        ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
        EXPECT_EQ(Resolve(directory.c_str()), directory.substr(0, 223) + "\\Kestrelnode9.log");
    }
}

TEST_F(FileLocation, PathsUpTo255CharactersAreAccepted)
{
    // A full path, and a bare name that lands beside the documents folder.
    const std::string folders[] = {dir, documents};
    for (const std::string &folder : folders) {
        for (size_t length : {255u, 256u}) {
            std::string full = folder + "\\" + std::string(length - folder.size() - 1, 'n');
            std::string name = folder == dir ? full : full.substr(folder.size() + 1);
            SCOPED_TRACE(name);
            EXPECT_EQ(Resolve(name.c_str()), length == 255 ? full : "");
        }
    }
}

TEST_F(FileLocation, ExpansionBeyondTheRoomIsRefused)
{
    std::string value(300, 'v');
    ASSERT_TRUE(SetEnvironmentVariableA("CORE_TESTS_LONG", value.c_str()));
    EXPECT_EQ(Resolve("%CORE_TESTS_LONG%"), "");
    EXPECT_EQ(Resolve((dir + "\\%CORE_TESTS_LONG%.log").c_str()), "");
    SetEnvironmentVariableA("CORE_TESTS_LONG", nullptr);
}

TEST_F(FileLocation, ExistingTargetsAreCheckedByTheirAttributes)
{
    struct AttributeCase {
        DWORD attributes;
        bool accepted;
    };
    const AttributeCase cases[] = {
        {FILE_ATTRIBUTE_NORMAL, true},
        {FILE_ATTRIBUTE_HIDDEN, true},
        {FILE_ATTRIBUTE_READONLY, false},
        {FILE_ATTRIBUTE_SYSTEM, false},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, false},
    };
    int index = 0;
    for (const AttributeCase &c : cases) {
        SCOPED_TRACE(c.attributes);
        std::string target = dir + "\\target" + std::to_string(index++) + ".log";
        HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        ASSERT_TRUE(SetFileAttributesA(target.c_str(), c.attributes));
        EXPECT_EQ(Resolve(target.c_str()), c.accepted ? target : "");
        DWORD after = GetFileAttributesA(target.c_str());
        if (c.accepted) {
            // An accepted file is made visible and marked for archiving.
            EXPECT_EQ(after & FILE_ATTRIBUTE_HIDDEN, 0u);
            EXPECT_NE(after & FILE_ATTRIBUTE_ARCHIVE, 0u);
        } else {
            EXPECT_EQ(after & ~FILE_ATTRIBUTE_ARCHIVE, c.attributes);
        }
    }

    // A directory where the default file would go.
    std::string holder = dir + "\\holder";
    ASSERT_TRUE(CreateDirectoryA(holder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((holder + "\\Kestrelnode9.log").c_str(), nullptr));
    EXPECT_EQ(Resolve(holder.c_str()), "");
}

TEST_F(FileLocation, GetFileNameCopiesWhatFits)
{
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(Dll().GetFileName(buffer, sizeof(buffer)), 0);  // no trace
    EXPECT_EQ(buffer[0], '#');

    ASSERT_EQ(Dll().Start(path.c_str(), TRACE_SUSPEND), 1);
    EXPECT_EQ(Dll().GetFileName(buffer, 10), 9);
    EXPECT_EQ(std::string(buffer, 9), path.substr(0, 9));
    EXPECT_EQ(buffer[9], '\0');
    EXPECT_EQ(buffer[10], '#');

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(Dll().GetFileName(buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(Dll().GetFileName(nullptr, 64), 0);
    EXPECT_EQ(Dll().GetFileName(buffer, 0), 0);
    EXPECT_EQ(Dll().GetFileName(buffer, -5), 0);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(Dll().Stop(), 1);
}

TEST_F(FileLocation, RefusedNameLeavesTheTraceWithoutAFile)
{
    ASSERT_EQ(Dll().Start(path.c_str(), 0), 1);
    EXPECT_EQ(Dll().SetFileName("run.exe"), 0);
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(Dll().GetFileName(buffer, sizeof(buffer)), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(Dll().Write(0, "lost", 0), 0);
    EXPECT_EQ(Dll().Write(TRACE_HEXDUMP, "lost", 4), 0);

    // A later good name gives the trace a file again.
    std::string next = dir + "\\next.log";
    EXPECT_EQ(Dll().SetFileName(next.c_str()), 1);
    EXPECT_EQ(Dll().Write(0, "found", 0), 1);
    EXPECT_EQ(Dll().Stop(), 1);
    EXPECT_EQ(ReadLogLines(path).size(), 1u);  // the start line only
    EXPECT_EQ(ReadLogLines(next).size(), 2u);
}

}  // namespace
