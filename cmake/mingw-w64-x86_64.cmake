# Cross-build for 64-bit Windows with the MinGW-w64 compilers of this Linux machine (the variant
# with POSIX threads, which std::thread and the C++ runtime need). The programs are linked
# statically, so that they run on a Windows PC that has none of the compiler's libraries.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORDA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORDA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORDA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORDA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORDA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthreads go into each executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables run under Wine on this machine.
find_program(QUORDA_WINE NAMES wine wine64 wine-stable)
if(QUORDA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORDA_WINE})
endif()
