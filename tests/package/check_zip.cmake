# Makes the ZIP package with CPack and checks what it holds.
#
# cmake -DBUILD_DIR= -DOUT_DIR= -DCPACK= -P check_zip.cmake

file(REMOVE_RECURSE ${OUT_DIR})
execute_process(COMMAND ${CPACK} -G ZIP --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUT_DIR}
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
file(GLOB zips ${OUT_DIR}/*.zip)
list(LENGTH zips count)
if(result OR NOT count EQUAL 1)
    message(FATAL_ERROR "cpack failed (${result}):\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips} OUTPUT_VARIABLE listing
                RESULT_VARIABLE result)
foreach(file README.md bin/Kestrelnode9.TraceLog.dll include/kestrelnode9_tracelog.h
             lib/libKestrelnode9.TraceLog.dll.a lib/Kestrelnode9.TraceLog.lib)
    if(result OR NOT listing MATCHES "/${file}\n")
        message(FATAL_ERROR "${zips} lacks ${file}:\n${listing}")
    endif()
endforeach()
message(STATUS "${zips}:\n${listing}")
