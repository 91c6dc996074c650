# Linux on another CPU, from an x86-64 host, with Debian's cross compilers:
#   -DTOPWIPE_TRIPLE=i686-linux-gnu      (g++-i686-linux-gnu)
#                    aarch64-linux-gnu   (g++-aarch64-linux-gnu)
#                    arm-linux-gnueabihf (g++-arm-linux-gnueabihf: ARMv7)
#                    arm-linux-gnueabi   (g++-arm-linux-gnueabi: built here
#                                         for ARMv6, the oldest Raspberry Pi)
#                    riscv64-linux-gnu   (g++-riscv64-linux-gnu)
# All of them can be installed side by side (g++-multilib cannot be installed
# beside the ARM ones). The tests run the result under qemu-user: the one in
# the folder $TOPWIPE_QEMU names, or else qemu-ARCH-static. It must be
# statically linked, or it would itself take the tests' preloaded fault
# library.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOPWIPE_TRIPLE)
if(NOT TOPWIPE_TRIPLE)
  message(FATAL_ERROR "name the target with -DTOPWIPE_TRIPLE=, e.g. aarch64-linux-gnu")
endif()
string(REGEX REPLACE "-.*" "" arch ${TOPWIPE_TRIPLE})
set(qemu ${arch})
if(arch STREQUAL "i686")
  set(qemu i386)
elseif(TOPWIPE_TRIPLE STREQUAL "arm-linux-gnueabihf")
  set(arch armv7l)
elseif(TOPWIPE_TRIPLE STREQUAL "arm-linux-gnueabi")
  # Debian's armel libraries are ARMv5TE code, which ARMv6 runs; a static
  # program's float ABI is its own affair, so it also runs on armhf systems.
  set(arch armv6l)
  set(CMAKE_C_FLAGS_INIT "-march=armv6 -marm")
  set(CMAKE_CXX_FLAGS_INIT "-march=armv6 -marm")
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${arch})
set(CMAKE_C_COMPILER ${TOPWIPE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TOPWIPE_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TOPWIPE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TOPWIPE_QEMU_${qemu} qemu-${qemu} PATHS $ENV{TOPWIPE_QEMU} NO_DEFAULT_PATH)
  find_program(TOPWIPE_QEMU_${qemu} qemu-${qemu}-static)
  if(TOPWIPE_QEMU_${qemu})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TOPWIPE_QEMU_${qemu}} -L /usr/${TOPWIPE_TRIPLE})
  endif()
endif()
