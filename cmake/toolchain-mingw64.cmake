# Cross build for 64-bit Windows with mingw-w64 (posix threads, so that
# std::thread and std::mutex work as on Linux). Programs are linked
# statically: the .exe files need no DLL besides the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VINDLE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VINDLE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VINDLE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VINDLE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VINDLE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# CLI11 and nlohmann-json are header-only: their Debian CMake packages serve
# the cross build as well.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and try_run go through Wine; the caller sets WINEPREFIX and runs it
# inside a network namespace of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
