# The one place where platform code enters the build. Each platform adds its
# sources and libraries to the targets that hold its interfaces:
# - Scholia: the focus watcher behind ClientHelper (FocusWatcher) and where
#   the access token is kept (TokenStore);
# - revisor_core: the word-processor backends behind the automation interface,
#   and the crash reporter behind host/crash/CrashReporter.h.
# - revisor_platform: what the program links for its editor bridge
#   (createEditorBridge).
# - utility: where a module lives (GetAppPath).
# Included after the targets exist.
add_library(revisor_platform INTERFACE)
if(WIN32)
    set(QUILLET_PLATFORM win32)
else()
    set(QUILLET_PLATFORM x11)
endif()

if(QUILLET_PLATFORM STREQUAL "win32")
    target_sources(utility PRIVATE "${PROJECT_SOURCE_DIR}/utility/ModulePathWin.cpp")

    # Focus watcher: a WinEvent hook for EVENT_OBJECT_FOCUS, COM single-threaded.
    target_sources(Scholia PRIVATE "${PROJECT_SOURCE_DIR}/ui/bridge/FocusWatcherWin.cpp")
    target_link_libraries(Scholia PRIVATE ole32)
    # The access token: a file of the user's profile.
    target_sources(Scholia PRIVATE "${PROJECT_SOURCE_DIR}/ui/client/TokenStoreWin.cpp")

    # Crash reporter: an unhandled-exception filter with a minidump.
    target_sources(revisor_core PRIVATE "${PROJECT_SOURCE_DIR}/host/crash/CrashReporterWin.cpp")
    target_link_libraries(revisor_core PRIVATE dbghelp)

    # Word and WPS over COM: late-bound IDispatch calls, the application's
    # events through its connection point, windows found by class "_WwG".
    add_subdirectory("${PROJECT_SOURCE_DIR}/host/windows" "${PROJECT_BINARY_DIR}/host/windows")
    target_link_libraries(revisor_platform INTERFACE revisor_windows)

    # A Windows GUI program: Qt's WinMain hands main() the command line in
    # the ANSI code page.
    set_target_properties(Revisor PROPERTIES WIN32_EXECUTABLE ON)
    target_link_libraries(Revisor PRIVATE Qt5::WinMain)
endif()

if(QUILLET_PLATFORM STREQUAL "x11")
    target_sources(utility PRIVATE "${PROJECT_SOURCE_DIR}/utility/ModulePathPosix.cpp")
    target_link_libraries(utility PRIVATE ${CMAKE_DL_LIBS})

    find_package(PkgConfig REQUIRED)

    # Focus watcher: its own xcb connection to the X server.
    pkg_check_modules(XCB REQUIRED IMPORTED_TARGET GLOBAL xcb)
    target_sources(Scholia PRIVATE "${PROJECT_SOURCE_DIR}/ui/bridge/FocusWatcherX11.cpp")
    target_link_libraries(Scholia PRIVATE PkgConfig::XCB)

    # The access token: the desktop's secret service (QtKeychain over D-Bus,
    # linked in ui/CMakeLists.txt), else a private file.
    target_sources(Scholia PRIVATE "${PROJECT_SOURCE_DIR}/ui/client/TokenStore.cpp")

    # Crash reporter: POSIX signal handlers.
    target_sources(revisor_core PRIVATE "${PROJECT_SOURCE_DIR}/host/crash/CrashReporterPosix.cpp")

    # Word processor: LibreOffice Writer over UNO (needs libreoffice-dev).
    include(QuilletUno)
    if(QUILLET_UNO_FOUND)
        add_subdirectory("${PROJECT_SOURCE_DIR}/host/libreoffice" "${PROJECT_BINARY_DIR}/host/libreoffice")
        target_sources(revisor_libreoffice PRIVATE "${PROJECT_SOURCE_DIR}/host/libreoffice/EditorBridgeX11.cpp")
        target_link_libraries(revisor_platform INTERFACE revisor_libreoffice)
    else()
        message(WARNING "LibreOffice SDK not found (install libreoffice-dev): building without the Writer backend")
        target_sources(revisor_core PRIVATE "${PROJECT_SOURCE_DIR}/host/bridge/EditorBridgeNone.cpp")
    endif()
endif()
