# `cmake --install build-windows --prefix DIR` puts Quillet for Windows into
# one folder: Revisor.exe, Scholia.dll, utility.dll, the Qt DLLs and plugins it
# loads, OpenSSL for Qt's TLS, and the mingw runtime. The `windows-package`
# target makes the installer (NSIS) and a zip of that folder.
install(TARGETS Revisor RUNTIME DESTINATION .)
install(TARGETS Scholia utility RUNTIME DESTINATION . LIBRARY DESTINATION .)

get_target_property(qt_core_dll Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(qt_bin "${qt_core_dll}" DIRECTORY)
get_filename_component(qt_prefix "${qt_bin}" DIRECTORY)
foreach(m Core Gui Widgets Network)
    install(FILES "${qt_bin}/Qt5${m}.dll" DESTINATION .)
endforeach()
install(FILES "${qt_prefix}/plugins/platforms/qwindows.dll" DESTINATION platforms)
# The offscreen platform lets the program run without a desktop (tests, CI).
foreach(plugin platforms/qoffscreen.dll styles/qwindowsvistastyle.dll imageformats/qico.dll)
    if(EXISTS "${qt_prefix}/plugins/${plugin}")
        get_filename_component(dir "${plugin}" DIRECTORY)
        install(FILES "${qt_prefix}/plugins/${plugin}" DESTINATION "${dir}")
    endif()
endforeach()

# OpenSSL, prepared beside Qt in the same cache.
file(GLOB openssl_dlls "${qt_prefix}/../mingw-openssl-*/bin/lib*-3-x64.dll")
install(FILES ${openssl_dlls} DESTINATION .)

foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    find_file(runtime_${dll} ${dll} PATHS ${QUILLET_MINGW_RUNTIME_DIRS} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(runtime_${dll})
        install(FILES "${runtime_${dll}}" DESTINATION .)
    endif()
endforeach()

find_program(MAKENSIS_PROGRAM makensis)
set(package_dir "${PROJECT_BINARY_DIR}/package")
set(stage "${package_dir}/Quillet")
set(package_commands
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${stage}"
    COMMAND ${CMAKE_COMMAND} --install "${PROJECT_BINARY_DIR}" --prefix "${stage}"
    COMMAND ${CMAKE_COMMAND} -E chdir "${package_dir}" ${CMAKE_COMMAND} -E tar cf "Quillet-${PROJECT_VERSION}-win64.zip" --format=zip Quillet)
if(MAKENSIS_PROGRAM)
    list(APPEND package_commands
        COMMAND ${MAKENSIS_PROGRAM} -V2 -DVERSION=${PROJECT_VERSION} "-DSTAGE=${stage}"
                "-DOUTFILE=${package_dir}/Quillet-${PROJECT_VERSION}-setup.exe"
                "${PROJECT_SOURCE_DIR}/resources/windows/installer.nsi")
endif()
add_custom_target(windows-package ${package_commands} DEPENDS Revisor VERBATIM
    COMMENT "Making the Windows installer and zip in ${package_dir}")
