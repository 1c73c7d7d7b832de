# Linux i386 build on an x86-64 machine (g++-multilib, the :i386 -dev packages);
# the tests run under qemu-i386, so the host records are read with 32-bit words.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER g++)
# SSE2 arithmetic rather than x87: doubles are then rounded as on x86-64, so the 32-bit
# plug-in decides every comparison as the tested 64-bit build does.
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
# No i386 OpenCV: the synthetic source only, and no zelk tool.
set(CMAKE_DISABLE_FIND_PACKAGE_OpenCV ON)
