# 64-bit ARM Linux from an x86-64 host with Debian's cross compilers
# (g++-aarch64-linux-gnu). The tests run the result under qemu-user; it must
# be a statically linked qemu (Debian: qemu-user-static), as a dynamically
# linked one would itself take the tests' preloaded fault library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(TOPWIPE_QEMU_AARCH64 qemu-aarch64-static)
if(TOPWIPE_QEMU_AARCH64 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOPWIPE_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)
endif()
