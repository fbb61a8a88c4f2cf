# Cross-builds the Windows x64 plug-in (vesperShaders64.dll) and its Windows test
# programs with Debian's MinGW-w64 packages (g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build-mingw -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake -DVESPER_BUILD_TOOLS=OFF
#
# The posix thread model is used so that test code may use std::thread; its
# runtime (libgcc, libstdc++, winpthread) is linked statically into every binary.
# When wine is installed, ctest runs the Windows programs through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VESPER_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${VESPER_MINGW_TRIPLE}-gcc-posix ${VESPER_MINGW_TRIPLE}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VESPER_MINGW_TRIPLE}-g++-posix ${VESPER_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VESPER_MINGW_TRIPLE}-windres)
find_program(CMAKE_OBJDUMP NAMES ${VESPER_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VESPER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(VESPER_WINE NAMES wine wine64)
if(VESPER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VESPER_WINE})
endif()
