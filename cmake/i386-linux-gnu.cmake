# 32-bit x86 Linux from an x86-64 host with Debian's i386 cross compilers
# (g++-i686-linux-gnu), which, unlike g++-multilib, can be installed beside
# the ARM64 ones. Where the host cannot run 32-bit programs, name an
# emulator, with the cross libraries as its root:
#   -DCMAKE_CROSSCOMPILING_EMULATOR="/path/to/qemu-i386;-L;/usr/i686-linux-gnu"
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
