# What a cross build takes from the build machine: Qt's lrelease (the target's
# Qt is qtbase only) and the header-only JSON library, offered through a
# folder that holds nothing else (the host's /usr/include must stay out of a
# Windows build).
find_program(QUILLET_HOST_LRELEASE NAMES lrelease lrelease-qt5 PATHS /usr/lib/qt5/bin /usr/lib/x86_64-linux-gnu/qt5/bin
             NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_executable(Qt5::lrelease IMPORTED GLOBAL)
set_target_properties(Qt5::lrelease PROPERTIES IMPORTED_LOCATION "${QUILLET_HOST_LRELEASE}")

set(host_headers "${PROJECT_BINARY_DIR}/host-headers")
if(NOT EXISTS "/usr/include/nlohmann/json.hpp")
    message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/setup-debian.sh)")
endif()
file(MAKE_DIRECTORY "${host_headers}/include" "${host_headers}/cmake")
file(CREATE_LINK /usr/include/nlohmann "${host_headers}/include/nlohmann" SYMBOLIC)
file(WRITE "${host_headers}/cmake/nlohmann_jsonConfig.cmake"
    "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
    "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
    "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${host_headers}/include\")\n"
    "endif()\n")
file(WRITE "${host_headers}/cmake/nlohmann_jsonConfigVersion.cmake"
    "set(PACKAGE_VERSION 3.11.2)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
set(nlohmann_json_DIR "${host_headers}/cmake" CACHE PATH "" FORCE)

# Every program and DLL in one folder, as they are installed: the tests find
# their DLLs beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/bin")
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/bin")
# Scholia.dll and utility.dll, not libScholia.dll.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")
