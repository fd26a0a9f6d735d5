# The platform-free formatting code built for this machine, with
# AddressSanitizer and UndefinedBehaviorSanitizer, for its tests and fuzzers.
enable_testing()

set(TRACELOG_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)

add_library(tracelog_pure STATIC ${TRACELOG_PURE_SOURCES})
target_include_directories(tracelog_pure PUBLIC core sockets)
target_compile_options(tracelog_pure PUBLIC ${TRACELOG_SANITIZERS} PRIVATE -Wall -Wextra)
target_link_options(tracelog_pure PUBLIC ${TRACELOG_SANITIZERS})

if(TRACELOG_FUZZ)
    # Coverage feedback for libFuzzer inside the code under test; the fuzz
    # build carries only the fuzzers.
    target_compile_options(tracelog_pure PRIVATE -fsanitize=fuzzer-no-link)
    add_subdirectory(tests/fuzz)
elseif(EXISTS ${CMAKE_SOURCE_DIR}/tests/native/CMakeLists.txt)
    add_subdirectory(tests/native)
endif()
