# `cmake --install build [--prefix DIR]` puts Quillet where a desktop finds it:
#   bin/Revisor                              the program
#   lib/libScholia.so, lib/libutility.so     its libraries (found through RPATH)
#   libexec/quillet/quillet-service          the checking service, with its lexicon beside it
#   share/applications/quillet.desktop       the menu entry
#   share/icons/hicolor/128x128/apps/quillet.png
# Starting Quillet with the session is left to the user (README).
# On Windows everything goes into one folder instead (QuilletInstallWindows).
if(WIN32)
    include(QuilletInstallWindows)
    return()
endif()
include(GNUInstallDirs)

set_target_properties(Revisor PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
set_target_properties(Scholia utility PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS Revisor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS Scholia utility LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

set(QUILLET_SERVICE_INSTALL_DIR "${CMAKE_INSTALL_LIBEXECDIR}/quillet")
install(TARGETS quillet-service RUNTIME DESTINATION ${QUILLET_SERVICE_INSTALL_DIR})
install(FILES "${QUILLET_LEXICON}" DESTINATION ${QUILLET_SERVICE_INSTALL_DIR})

install(FILES resources/desktop/quillet.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${PROJECT_BINARY_DIR}/resources/drawn/images/icon128.png"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME quillet.png)
