# Cross-compiles Velkrin for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64), giving one self-contained velkrin.exe: the C and C++
# runtimes are linked in statically, so a user copies a single file.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DVELKRIN_BUILD_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELKRIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELKRIN_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELKRIN_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${VELKRIN_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW-w64 tree only; build tools from
# the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VELKRIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL beside velkrin.exe: libstdc++, libgcc and winpthread go inside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
