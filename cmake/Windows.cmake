# The DLL, its tests, the demo and the benchmark, cross-built for 32-bit
# Windows and run under Wine.
enable_language(RC)
enable_testing()

set(TRACELOG_WARNINGS -Wall -Wextra)
add_compile_definitions(_WIN32_WINNT=0x0501 WINVER=0x0501)

add_library(tracelog_pure STATIC ${TRACELOG_PURE_SOURCES})
target_include_directories(tracelog_pure PUBLIC core sockets)
target_compile_options(tracelog_pure PRIVATE ${TRACELOG_WARNINGS} -fno-exceptions -fno-rtti)

add_library(tracelog SHARED
    core/trace_state.cpp
    core/trace_control.cpp
    core/trace_file.cpp
    core/trace_writer.cpp
    core/log_file.cpp
    core/log_output.cpp
    core/writer_lock.cpp
    sockets/call_bracket.cpp
    sockets/call_tracers.cpp
    module/dll_main.cpp
    module/tracelog.def
    module/tracelog.rc)
target_include_directories(tracelog PRIVATE include core sockets)
target_compile_definitions(tracelog PRIVATE KESTRELNODE9_TRACELOG_BUILD)
target_compile_options(tracelog PRIVATE ${TRACELOG_WARNINGS} -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables)
target_link_libraries(tracelog PRIVATE tracelog_pure shell32 version)
# Only system DLLs at run time: the GCC runtime goes in statically.
target_link_options(tracelog PRIVATE -static-libgcc -static-libstdc++ -static
    -Wl,--enable-stdcall-fixup -Wl,--kill-at)
set_target_properties(tracelog PROPERTIES
    OUTPUT_NAME "Kestrelnode9.TraceLog"
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# Test and tool programs sit beside the DLL so LoadLibraryA finds it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/CMakeLists.txt)
    add_subdirectory(tests)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/demo/CMakeLists.txt)
    add_subdirectory(demo)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
    add_subdirectory(bench)
endif()
include(cmake/Install.cmake)
