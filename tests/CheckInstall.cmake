# Installs the build into a fresh prefix and checks that a desktop finds
# everything: the program with its libraries, the service with its lexicon, the
# menu entry and the icon.  cmake -DBUILD=dir -DPREFIX=dir -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "install failed: ${result}")
endif()
foreach(f bin/Revisor lib/libScholia.so lib/libutility.so libexec/quillet/quillet-service
          libexec/quillet/quillet-lexicon.txt share/applications/quillet.desktop
          share/icons/hicolor/128x128/apps/quillet.png)
    if(NOT EXISTS "${PREFIX}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
foreach(program bin/Revisor libexec/quillet/quillet-service)
    execute_process(COMMAND ldd "${PREFIX}/${program}" OUTPUT_VARIABLE libraries)
    if(libraries MATCHES "not found" OR libraries MATCHES "${BUILD}/(ui|utility)/")
        message(FATAL_ERROR "${program} does not find its libraries in the prefix:\n${libraries}")
    endif()
endforeach()
file(READ "${PREFIX}/share/applications/quillet.desktop" entry)
if(NOT entry MATCHES "\nExec=Revisor\n" OR NOT entry MATCHES "\nIcon=quillet\n")
    message(FATAL_ERROR "the menu entry does not start Revisor with its icon")
endif()
message(STATUS "installed and complete: ${PREFIX}")
