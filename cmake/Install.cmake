# What `cmake --install` lays out and `cpack -G ZIP` packs:
#   bin/Kestrelnode9.TraceLog.dll
#   include/kestrelnode9_tracelog.h
#   lib/libKestrelnode9.TraceLog.dll.a   import library for MinGW
#   lib/Kestrelnode9.TraceLog.lib        import library for MSVC
#   README.md
#
# Both import libraries are made by dlltool from the export definition, so
# they bind by ordinal exactly as module/tracelog.def numbers the exports.
# The definition names each export "Name = Name@N" for the DLL's own link;
# a caller's compiler asks for the decorated __stdcall symbol (_Name@N), so
# the import libraries are made from the decorated names alone, with -k
# taking the "@N" off the imported name.

set(TRACELOG_DEF ${CMAKE_SOURCE_DIR}/module/tracelog.def)
set(TRACELOG_IMPORT_DIR ${CMAKE_BINARY_DIR}/import)
set(TRACELOG_IMPORT_DEF ${TRACELOG_IMPORT_DIR}/tracelog-import.def)
set(TRACELOG_MINGW_IMPLIB ${TRACELOG_IMPORT_DIR}/libKestrelnode9.TraceLog.dll.a)
set(TRACELOG_MSVC_IMPLIB ${TRACELOG_IMPORT_DIR}/Kestrelnode9.TraceLog.lib)

if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL NAMES i686-w64-mingw32-dlltool dlltool REQUIRED)
endif()

# The decorated definition, rewritten only when it changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TRACELOG_DEF})
file(READ ${TRACELOG_DEF} tracelog_def_text)
string(REGEX REPLACE "\n([ \t]*)[A-Za-z_][A-Za-z0-9_]*[ \t]*=[ \t]*" "\n\\1"
       tracelog_def_text "${tracelog_def_text}")
set(tracelog_old_def_text "")
if(EXISTS ${TRACELOG_IMPORT_DEF})
    file(READ ${TRACELOG_IMPORT_DEF} tracelog_old_def_text)
endif()
if(NOT tracelog_old_def_text STREQUAL tracelog_def_text)
    file(WRITE ${TRACELOG_IMPORT_DEF} "${tracelog_def_text}")
endif()

add_custom_command(
    OUTPUT ${TRACELOG_MSVC_IMPLIB} ${TRACELOG_MINGW_IMPLIB}
    COMMAND ${CMAKE_DLLTOOL} -k -d ${TRACELOG_IMPORT_DEF} -D Kestrelnode9.TraceLog.dll
            -l ${TRACELOG_MSVC_IMPLIB}
    COMMAND ${CMAKE_COMMAND} -E copy ${TRACELOG_MSVC_IMPLIB} ${TRACELOG_MINGW_IMPLIB}
    DEPENDS ${TRACELOG_IMPORT_DEF}
    WORKING_DIRECTORY ${TRACELOG_IMPORT_DIR}
    COMMENT "Import libraries from the export definition"
    VERBATIM)
add_custom_target(tracelog_import_libraries ALL
    DEPENDS ${TRACELOG_MSVC_IMPLIB} ${TRACELOG_MINGW_IMPLIB})

# The DLL alone: the import library of its own link is not the one shipped.
install(FILES $<TARGET_FILE:tracelog> DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/include/kestrelnode9_tracelog.h DESTINATION include)
install(FILES ${TRACELOG_MINGW_IMPLIB} ${TRACELOG_MSVC_IMPLIB} DESTINATION lib)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "Kestrelnode9.TraceLog")
set(CPACK_PACKAGE_VENDOR "Kestrelnode9")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Plain-text trace of Windows Sockets calls")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "Kestrelnode9.TraceLog-${PROJECT_VERSION}-win32")
include(CPack)
