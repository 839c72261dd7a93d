# LibreOffice's UNO API for C++: the office ships the type libraries, not the
# headers; cppumaker generates the headers of the types we name at build time.
#
# quillet_uno_target(NAME TYPES type...)
#   Creates the INTERFACE library NAME that carries the generated headers, the
#   SDK's include folder, the compile definitions of the C++ UNO environment and
#   the UNO runtime libraries (found at run time in the office's program folder).
#   Dependent types are generated with the types named.
#
# QUILLET_UNO_FOUND tells whether the SDK (package libreoffice-dev) is there.

set(QUILLET_LIBREOFFICE_DIR "/usr/lib/libreoffice" CACHE PATH "LibreOffice installation (program/ and sdk/)")
set(_uno_program "${QUILLET_LIBREOFFICE_DIR}/program")
set(_uno_sdk "${QUILLET_LIBREOFFICE_DIR}/sdk")
find_program(QUILLET_CPPUMAKER cppumaker.bin PATHS "${_uno_sdk}/bin" NO_DEFAULT_PATH)
find_path(QUILLET_UNO_INCLUDE_DIR cppuhelper/bootstrap.hxx PATHS /usr/include/libreoffice "${_uno_sdk}/include" NO_DEFAULT_PATH)

set(QUILLET_UNO_FOUND OFF)
if(QUILLET_CPPUMAKER AND QUILLET_UNO_INCLUDE_DIR AND EXISTS "${_uno_program}/types.rdb"
   AND EXISTS "${_uno_program}/types/offapi.rdb" AND EXISTS "${_uno_sdk}/lib/libuno_cppu.so")
    set(QUILLET_UNO_FOUND ON)
endif()

function(quillet_uno_target NAME)
    cmake_parse_arguments(ARG "" "" "TYPES" ${ARGN})
    # -O must be an absolute path: with a relative one cppumaker writes nothing.
    set(out "${CMAKE_BINARY_DIR}/uno/${NAME}")
    set(stamp "${out}/generated.stamp")
    set(type_options)
    foreach(type IN LISTS ARG_TYPES)
        list(APPEND type_options "-T${type}")
    endforeach()

    # The stamp depends on the list of types, so adding one regenerates.
    set(list_file "${out}/types.txt")
    string(REPLACE ";" "\n" content "${ARG_TYPES}")
    set(old "")
    if(EXISTS "${list_file}")
        file(READ "${list_file}" old)
    endif()
    if(NOT old STREQUAL content)
        file(WRITE "${list_file}" "${content}")
    endif()

    set(rdbs "${_uno_program}/types.rdb" "${_uno_program}/types/offapi.rdb")
    add_custom_command(OUTPUT "${stamp}"
        COMMAND ${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${_uno_program}"
                "${QUILLET_CPPUMAKER}" -Gc "-O${out}" ${type_options} ${rdbs}
        COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
        DEPENDS ${rdbs} "${list_file}"
        COMMENT "Generating UNO headers for ${NAME}"
        VERBATIM)
    add_custom_target(${NAME}_headers DEPENDS "${stamp}")

    add_library(${NAME} INTERFACE)
    add_dependencies(${NAME} ${NAME}_headers)
    # SYSTEM: the SDK's and the generated headers are not ours to keep warning-free.
    target_include_directories(${NAME} SYSTEM INTERFACE "${QUILLET_UNO_INCLUDE_DIR}" "${out}")
    target_compile_definitions(${NAME} INTERFACE UNX GCC LINUX CPPU_ENV=gcc3)
    target_link_directories(${NAME} INTERFACE "${_uno_sdk}/lib")
    target_link_libraries(${NAME} INTERFACE uno_cppuhelpergcc3 uno_cppu uno_sal)
    target_link_options(${NAME} INTERFACE "LINKER:-rpath,${_uno_program}")
endfunction()
