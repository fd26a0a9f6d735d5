# Installs the build into a staging folder and compiles the C caller against
# the staged header and each import library; the DLL goes beside them.
# Checks that the installed layout is complete and that the callers import
# the Trace functions by ordinal (they have no exported names).
#
# cmake -DBUILD_DIR= -DSTAGE_DIR= -DRUN_DIR= -DCALLER_SOURCE= -DC_COMPILER=
#       -DOBJDUMP= -P build_callers.cmake

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(result)
        message(FATAL_ERROR "${ARGN}\nfailed (${result}):\n${output}")
    endif()
endfunction()

file(REMOVE_RECURSE ${STAGE_DIR} ${RUN_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE_DIR})
foreach(file bin/Kestrelnode9.TraceLog.dll include/kestrelnode9_tracelog.h
             lib/libKestrelnode9.TraceLog.dll.a lib/Kestrelnode9.TraceLog.lib)
    if(NOT EXISTS ${STAGE_DIR}/${file})
        message(FATAL_ERROR "the install lacks ${file}")
    endif()
endforeach()

file(MAKE_DIRECTORY ${RUN_DIR})
file(COPY ${STAGE_DIR}/bin/Kestrelnode9.TraceLog.dll DESTINATION ${RUN_DIR})
set(compile ${C_COMPILER} -Wall -Wextra -Werror -I${STAGE_DIR}/include ${CALLER_SOURCE})
# MinGW's way: -l finds lib/libKestrelnode9.TraceLog.dll.a.
run(${compile} -L${STAGE_DIR}/lib -lKestrelnode9.TraceLog -o ${RUN_DIR}/caller_dll_a.exe)
# MSVC's way: the .lib named on the link line.
run(${compile} ${STAGE_DIR}/lib/Kestrelnode9.TraceLog.lib -o ${RUN_DIR}/caller_lib.exe)

# The callers use ordinals 1 (by name), 2, 3, 4, 6, 10 and 30.
foreach(caller caller_dll_a caller_lib)
    execute_process(COMMAND ${OBJDUMP} -p ${RUN_DIR}/${caller}.exe OUTPUT_VARIABLE dump)
    string(REGEX MATCH "DLL Name: Kestrelnode9\\.TraceLog\\.dll\n[^\n]*\n([^\n]+\n)+"
           imports "${dump}")
    if(NOT imports)
        message(FATAL_ERROR "${caller}.exe does not import Kestrelnode9.TraceLog.dll:\n${dump}")
    endif()
    string(REGEX REPLACE "^DLL Name: [^\n]*\n" "" members "${imports}")
    if(members MATCHES "Trace")
        message(FATAL_ERROR "${caller}.exe imports Trace functions by name:\n${imports}")
    endif()
    if(NOT imports MATCHES "DllGetVersion")
        message(FATAL_ERROR "${caller}.exe does not import DllGetVersion by name:\n${imports}")
    endif()
    foreach(ordinal 2 3 4 6 10 30)
        if(NOT imports MATCHES "\t *${ordinal} +<none>")
            message(FATAL_ERROR "${caller}.exe does not import ordinal ${ordinal}:\n${imports}")
        endif()
    endforeach()
endforeach()
