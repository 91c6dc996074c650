# Cross builds with zig's compilers, which carry their targets' C libraries:
# static Linux binaries on musl, for any Linux (under qemu-user here, for
# another CPU); Windows on ARM64 (under the ARM64 wine $TOPWIPE_WINE_ARM64
# names, inside .ci/with-qemu-aarch64); macOS, compiled and linked only.
#   -DTOPWIPE_ZIG_TARGET=x86_64-linux-musl (the default), x86-linux-musl,
#    aarch64-linux-musl, riscv64-linux-musl, aarch64-windows-gnu,
#    aarch64-macos.11.0 or x86_64-macos.11.0 (macOS 11.0 and later)
#   -DTOPWIPE_ZIG=/path/to/zig (or in the environment) where zig is not on PATH
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOPWIPE_ZIG TOPWIPE_ZIG_TARGET)
if(NOT TOPWIPE_ZIG_TARGET)
  set(TOPWIPE_ZIG_TARGET x86_64-linux-musl)
endif()
string(REPLACE "-" ";" parts ${TOPWIPE_ZIG_TARGET})
list(GET parts 0 arch)
list(GET parts 1 os)
if(os MATCHES "^macos(\\.(.*))?$")
  set(CMAKE_SYSTEM_NAME Darwin)
  set(TOPWIPE_MACOS_MIN ${CMAKE_MATCH_2}) # for the readme; zig's default if none
elseif(os STREQUAL "windows")
  set(CMAKE_SYSTEM_NAME Windows)
else()
  set(CMAKE_SYSTEM_NAME Linux)
endif()
if(arch STREQUAL "x86")
  set(arch i686)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${arch})
if(os STREQUAL "windows" AND DEFINED ENV{TOPWIPE_WINE_ARM64})
  set(CMAKE_CROSSCOMPILING_EMULATOR $ENV{TOPWIPE_WINE_ARM64}/usr/lib/wine/wine64)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT arch STREQUAL "x86_64")
  string(REPLACE i686 i386 qemu ${arch})
  include(${CMAKE_CURRENT_LIST_DIR}/qemu.cmake)
endif()
if(DEFINED ENV{TOPWIPE_ZIG}) # kept for the build's next configure
  set(TOPWIPE_ZIG $ENV{TOPWIPE_ZIG} CACHE FILEPATH "zig")
endif()
find_program(TOPWIPE_ZIG zig REQUIRED)
set(CMAKE_C_COMPILER ${TOPWIPE_ZIG} cc -target ${TOPWIPE_ZIG_TARGET})
set(CMAKE_CXX_COMPILER ${TOPWIPE_ZIG} c++ -target ${TOPWIPE_ZIG_TARGET})
# CMake runs the archiver as one program (a Windows link goes through an
# archive of the objects): zig's, through a script.
set(ar ${CMAKE_BINARY_DIR}/zig-ar)
file(WRITE ${ar} "#!/bin/sh\nexec \"${TOPWIPE_ZIG}\" ar \"$@\"\n")
file(CHMOD ${ar} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_AR ${ar})
set(CMAKE_RANLIB ${ar} s)
