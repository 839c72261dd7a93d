# quillet_track_sources(TARGET files...)
#
# The libraries glob their folders (CONFIGURE_DEPENDS), so CMake re-runs when a
# file appears or disappears. Qt's moc/uic step of the target does not notice a
# new header or form by itself in an existing build tree (its stamp file only
# follows the files it already knows), so whenever the list of files changes the
# stamp is removed and the step runs again.
function(quillet_track_sources TARGET)
    set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${TARGET}_sources.txt")
    string(REPLACE ";" "\n" content "${ARGN}")
    set(old_content "")
    if(EXISTS "${list_file}")
        file(READ "${list_file}" old_content)
    endif()
    if(NOT old_content STREQUAL content)
        file(WRITE "${list_file}" "${content}")
        file(REMOVE "${CMAKE_CURRENT_BINARY_DIR}/${TARGET}_autogen/timestamp")
    endif()
endfunction()
