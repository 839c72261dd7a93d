# Installs the Windows build into a fresh folder and checks that it is
# complete: the program, its libraries, the Qt DLLs and plugins, OpenSSL and
# the mingw runtime, and that Revisor.exe starts from that folder alone (under
# Wine, with no build folder on its DLL path) and keeps running.
#   cmake -DBUILD=dir -DPREFIX=dir -DWINE=/usr/lib/wine/wine64 -DWINEPREFIX=dir -P CheckInstallWindows.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "install failed: ${result}")
endif()
foreach(f Revisor.exe Scholia.dll utility.dll Qt5Core.dll Qt5Gui.dll Qt5Widgets.dll Qt5Network.dll
          platforms/qwindows.dll libssl-3-x64.dll libcrypto-3-x64.dll
          libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    if(NOT EXISTS "${PREFIX}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
# A missing DLL stops the program before its window appears; one that runs
# for a few seconds found everything it links.
set(ENV{WINEPREFIX} "${WINEPREFIX}")
execute_process(COMMAND timeout 8 env -u WINEPATH -u QT_PLUGIN_PATH QT_QPA_PLATFORM=offscreen
                        WINEDEBUG=-all "${WINE}" "${PREFIX}/Revisor.exe"
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 124)
    message(FATAL_ERROR "Revisor.exe did not keep running from the installed folder (${result}):\n${out}\n${err}")
endif()
message(STATUS "installed and complete: ${PREFIX}")
