# The one place where platform code enters the build. Each platform adds its
# sources and libraries to the targets that hold its interfaces:
# - Scholia: the focus watcher behind ClientHelper (FocusWatcher);
# - revisor_core: the word-processor backends behind the automation interface,
#   and the crash reporter behind host/crash/CrashReporter.h.
# - revisor_platform: what the program links for its editor bridge
#   (createEditorBridge).
# Included after the targets exist.
add_library(revisor_platform INTERFACE)
if(WIN32)
    set(QUILLET_PLATFORM win32)
    message(FATAL_ERROR "The Windows platform layer (WinEvent hook, Word/WPS over COM) is not part of this build yet.")
else()
    set(QUILLET_PLATFORM x11)
endif()

if(QUILLET_PLATFORM STREQUAL "x11")
    find_package(PkgConfig REQUIRED)

    # Focus watcher: its own xcb connection to the X server.
    pkg_check_modules(XCB REQUIRED IMPORTED_TARGET GLOBAL xcb)
    target_sources(Scholia PRIVATE "${PROJECT_SOURCE_DIR}/ui/bridge/FocusWatcherX11.cpp")
    target_link_libraries(Scholia PRIVATE PkgConfig::XCB)

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
