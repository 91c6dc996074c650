# 32-bit x86 Linux from an x86-64 host with the multilib compilers
# (Debian: g++-multilib). -m32 goes with the compiler itself, so that every
# compile and link, CMake's own probes included, is 32-bit.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc -m32)
set(CMAKE_CXX_COMPILER g++ -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Where the host cannot run 32-bit binaries, name an emulator:
#   -DCMAKE_CROSSCOMPILING_EMULATOR=/path/to/qemu-i386
