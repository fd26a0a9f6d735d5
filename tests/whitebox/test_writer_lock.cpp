// The shared writer lock: it excludes, it is found by the file and not by
// the spelling of its path, and a holder that is gone or stuck costs a
// bounded wait instead of every later line.
#include <gtest/gtest.h>

#include <string>

#include "log_file.h"
#include "log_output.h"
#include "writer_lock.h"

namespace {

std::string ScratchFile(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::string path = std::string(folder) + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(file);
    return path;
}

volatile LONG *WordOf(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    volatile LONG *word = FindWriterLock(file, path.c_str());
    CloseHandle(file);
    return word;
}

struct Holder {
    volatile LONG *word;
    HANDLE taken;   // set once the holder has the word
    HANDLE release; // the holder gives the word back when this is set (null: never)
    volatile LONG done;
};

DWORD WINAPI HolderMain(LPVOID parameter)
{
    Holder *holder = (Holder *)parameter;
    TakeWriterLock(holder->word);
    InterlockedExchange(&holder->done, 1);
    SetEvent(holder->taken);
    if (holder->release) {
        WaitForSingleObject(holder->release, INFINITE);
        GiveWriterLock(holder->word);
    }
    return 0;
}

HANDLE StartHolder(Holder *holder, volatile LONG *word, bool releases)
{
    holder->word = word;
    holder->taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    holder->release = releases ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
    holder->done = 0;
    return CreateThread(nullptr, 0, HolderMain, holder, 0, nullptr);
}

void EndHolder(Holder *holder, HANDLE thread)
{
    if (holder->release)
        SetEvent(holder->release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(holder->taken);
    if (holder->release)
        CloseHandle(holder->release);
}

class WriterLock : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(AttachWriterLocks()); }
};

TEST_F(WriterLock, SameFileSameWordWhateverThePathSpelling)
{
    std::string path = ScratchFile("kn9_writer_lock.log");
    std::string upper = path;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    EXPECT_EQ(WordOf(path), WordOf(upper));
    DeleteFileA(path.c_str());
}

TEST_F(WriterLock, SecondWriterWaitsForTheFirst)
{
    std::string path = ScratchFile("kn9_writer_lock_wait.log");
    volatile LONG *word = WordOf(path);
    Holder first, second;
    HANDLE firstThread = StartHolder(&first, word, true);
    WaitForSingleObject(first.taken, INFINITE);
    HANDLE secondThread = StartHolder(&second, word, true);
    // The second writer must still be waiting while the first holds on.
    Sleep(200);
    EXPECT_EQ(second.done, 0);
    SetEvent(first.release);
    WaitForSingleObject(second.taken, INFINITE);
    EXPECT_EQ(second.done, 1);
    EndHolder(&first, firstThread);
    EndHolder(&second, secondThread);
    EXPECT_EQ(*word, 0) << "given back";
    DeleteFileA(path.c_str());
}

TEST_F(WriterLock, HolderThatEndedIsReplacedAtOnce)
{
    std::string path = ScratchFile("kn9_writer_lock_dead.log");
    volatile LONG *word = WordOf(path);
    Holder gone;
    HANDLE thread = StartHolder(&gone, word, false); // ends still holding the word
    WaitForSingleObject(thread, INFINITE);
    ASSERT_NE(*word, 0);
    DWORD start = GetTickCount();
    TakeWriterLock(word);
    // Well inside the limit that a live but stuck holder gets.
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(*word, (LONG)GetCurrentThreadId());
    GiveWriterLock(word);
    EndHolder(&gone, thread);
    DeleteFileA(path.c_str());
}

TEST_F(WriterLock, StuckHolderIsReplacedAfterTheLimit)
{
    std::string path = ScratchFile("kn9_writer_lock_stuck.log");
    volatile LONG *word = WordOf(path);
    Holder stuck;
    HANDLE thread = StartHolder(&stuck, word, true);
    WaitForSingleObject(stuck.taken, INFINITE);
    TakeWriterLock(word); // returns after the wait limit
    EXPECT_EQ(*word, (LONG)GetCurrentThreadId());
    EndHolder(&stuck, thread); // the stuck holder's late give-back leaves ours alone
    EXPECT_EQ(*word, (LONG)GetCurrentThreadId());
    GiveWriterLock(word);
    EXPECT_EQ(*word, 0);
    DeleteFileA(path.c_str());
}

// Without the shared section (another session's, or none to be had) the
// log file is locked by a byte-range lock instead, which other handles see.
TEST_F(WriterLock, WithoutTheSectionAByteRangeLockIsHeld)
{
    std::string path = ScratchFile("kn9_byte_lock.log");
    DetachWriterLocks();
    LOG_FILE file;
    ASSERT_TRUE(OpenLogFile(path.c_str(), &file));
    EXPECT_EQ(file.lockWord, nullptr);
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    OVERLAPPED lockByte = {};
    lockByte.OffsetHigh = 0x7FFFFFFF;
    const DWORD TRY = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
    EXPECT_FALSE(LockFileEx(other, TRY, 0, 1, 0, &lockByte)) << "held while the file is open";
    CloseLogFile(&file);
    EXPECT_TRUE(LockFileEx(other, TRY, 0, 1, 0, &lockByte)) << "given up when it is closed";
    CloseHandle(other);
    DeleteFileA(path.c_str());
    EXPECT_TRUE(AttachWriterLocks());
}

// A write the file refuses makes the output report failure, so that the
// caller is told the record was not written.
TEST(LogOutput, RefusedWriteIsReported)
{
    std::string path = ScratchFile("kn9_refused.log");
    LOG_FILE file;
    file.handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    file.lockWord = nullptr;
    ASSERT_NE(file.handle, INVALID_HANDLE_VALUE);
    char buffer[16];
    LOG_OUTPUT out;
    BeginLogOutput(&out, &file, buffer, sizeof(buffer));
    PutLogOutput(&out, "more than sixteen bytes\r\n", 25);
    EndLogOutput(&out);
    EXPECT_TRUE(out.failed);
    CloseLogFile(&file);
    DeleteFileA(path.c_str());
}

} // namespace
