# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (the
# "posix" variant, whose C++ runtime has std::thread and std::mutex).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The programs are linked statically, so they need no DLL beyond the
# system's own and run on a bare Windows machine (or under wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The C99 printf family of MinGW-w64 rather than the system's msvcrt one:
# "%zu" and the like, and numbers formatted as on Linux. The compiler still
# checks functions declared with format(printf) against msvcrt's printf, so
# format checking is left to the Linux build.
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1 -Wno-format")
# Tests and tools run the programs through wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
