// Every test program gets this: an access violation or other fault ends the
// program with exit code 3 and a line naming the test. Under Wine an
// unhandled fault can otherwise end a program with exit code 0, and ctest
// would count a crash as a pass.
#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

LONG WINAPI ReportFault(EXCEPTION_POINTERS *info)
{
    const EXCEPTION_RECORD *record = info->ExceptionRecord;
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "FAULT in %s.%s: exception 0x%08lx at %p, data address 0x%lx\n",
                 test ? test->test_suite_name() : "?", test ? test->name() : "?",
                 (unsigned long)record->ExceptionCode, record->ExceptionAddress,
                 record->NumberParameters > 1 ? (unsigned long)record->ExceptionInformation[1]
                                              : 0ul);
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = SetUnhandledExceptionFilter(ReportFault);

} // namespace
