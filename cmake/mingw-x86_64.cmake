# 64-bit Windows build (g++-mingw-w64-x86-64-posix) whose test programs run under wine64:
# the check of what only the Windows runtime shows (text-mode files, paths, 32-bit long,
# the C runtime's parsing and printing). The posix thread model gives std::mutex, which
# GoogleTest needs; programs are linked statically, so they need no MinGW runtime DLL.
# GoogleTest is built from source: -DZELK_GTEST_SOURCE=/usr/src/googletest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# ctest runs the programs under wine64 (WINEPREFIX and WINEDEBUG come from the environment).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
