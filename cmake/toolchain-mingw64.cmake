# Cross-compiling Quillet for 64-bit Windows with Debian's mingw-w64 (posix
# threads variant) against the Qt that scripts/prepare-windows.sh builds:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DQUILLET_QT_PREFIX=$(scripts/prepare-windows.sh)
# Programs of the build (tests, build-time tools) run under Wine through
# scripts/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLET_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUILLET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLET_MINGW_TRIPLET}-windres)

set(QUILLET_QT_PREFIX "" CACHE PATH "Qt 5 built for the target (scripts/prepare-windows.sh prints it)")
if(NOT QUILLET_QT_PREFIX AND DEFINED ENV{QUILLET_QT_PREFIX})
    set(QUILLET_QT_PREFIX "$ENV{QUILLET_QT_PREFIX}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLET_MINGW_TRIPLET} ${QUILLET_QT_PREFIX})
set(CMAKE_PREFIX_PATH ${QUILLET_QT_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests change HOME: the Qt and the Wine prefix are named here, as they
# are when the build is configured.
set(QUILLET_WINEPREFIX "$ENV{HOME}/.cache/quillet/wine" CACHE PATH "The Wine prefix the build's programs run in")
set(CMAKE_CROSSCOMPILING_EMULATOR env "QUILLET_QT_PREFIX=${QUILLET_QT_PREFIX}" "QUILLET_WINEPREFIX=${QUILLET_WINEPREFIX}"
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
# The mingw runtime DLLs that the programs need beside them.
set(QUILLET_MINGW_RUNTIME_DIRS /usr/lib/gcc/${QUILLET_MINGW_TRIPLET}/12-posix /usr/${QUILLET_MINGW_TRIPLET}/lib)
