# The one place where platform code enters the build. Each platform adds its
# sources and libraries to the targets that hold its interfaces:
# - Scholia: the focus watcher behind ClientHelper (FocusWatcher);
# - revisor_core: the word-processor backends behind the automation interface.
# Included after the targets exist.
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
endif()
