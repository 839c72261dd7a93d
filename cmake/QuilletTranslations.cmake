# quillet_add_translations(TARGET ts...)
#
# Compiles the .ts catalogues with lrelease at build time and embeds the .qm
# files in TARGET's resources under ":/translations/".
function(quillet_add_translations TARGET)
    set(qm_files)
    set(content "<RCC>\n  <qresource prefix=\"/translations\">\n")
    foreach(ts ${ARGN})
        get_filename_component(ts_abs "${ts}" ABSOLUTE)
        get_filename_component(base "${ts}" NAME_WE)
        set(qm "${CMAKE_CURRENT_BINARY_DIR}/translations/${base}.qm")
        add_custom_command(OUTPUT "${qm}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/translations"
            COMMAND Qt5::lrelease -silent "${ts_abs}" -qm "${qm}"
            DEPENDS "${ts_abs}" VERBATIM)
        list(APPEND qm_files "${qm}")
        string(APPEND content "    <file alias=\"${base}.qm\">${qm}</file>\n")
    endforeach()
    string(APPEND content "  </qresource>\n</RCC>\n")
    quillet_add_generated_resource(${TARGET} ${TARGET}_translations "${content}" ${qm_files})
endfunction()

# quillet_add_generated_resource(TARGET NAME CONTENT deps...)
#
# Writes a .qrc with CONTENT and compiles it with rcc at build time, so that it
# may list files that are themselves produced during the build.
function(quillet_add_generated_resource TARGET NAME CONTENT)
    set(qrc "${CMAKE_CURRENT_BINARY_DIR}/${NAME}.qrc")
    set(cpp "${CMAKE_CURRENT_BINARY_DIR}/qrc_${NAME}.cpp")
    file(WRITE "${qrc}.in" "${CONTENT}")
    configure_file("${qrc}.in" "${qrc}" COPYONLY)
    add_custom_command(OUTPUT "${cpp}"
        COMMAND Qt5::rcc --name ${NAME} --output "${cpp}" "${qrc}"
        DEPENDS "${qrc}" ${ARGN} VERBATIM)
    set_source_files_properties("${cpp}" PROPERTIES SKIP_AUTOGEN ON GENERATED ON)
    target_sources(${TARGET} PRIVATE "${cpp}")
endfunction()
