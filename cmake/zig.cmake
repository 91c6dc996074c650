# Cross builds with zig's C and C++ compilers, which carry the C libraries
# and headers of their targets: static Linux binaries on musl, which run on
# any Linux whatever its C library, and macOS (compiled and linked only:
# nothing built here runs on macOS).
#   -DTOPWIPE_ZIG_TARGET=x86_64-linux-musl (the default), x86-linux-musl,
#    aarch64-linux-musl, aarch64-macos or x86_64-macos
#   -DTOPWIPE_ZIG=/path/to/zig where zig is not on PATH
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOPWIPE_ZIG TOPWIPE_ZIG_TARGET)
if(NOT TOPWIPE_ZIG_TARGET)
  set(TOPWIPE_ZIG_TARGET x86_64-linux-musl)
endif()
string(REPLACE "-" ";" parts ${TOPWIPE_ZIG_TARGET})
list(GET parts 0 arch)
list(GET parts 1 os)
if(os STREQUAL "macos")
  set(CMAKE_SYSTEM_NAME Darwin)
else()
  set(CMAKE_SYSTEM_NAME Linux)
endif()
if(arch STREQUAL "x86")
  set(arch i686)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${arch})
find_program(TOPWIPE_ZIG zig REQUIRED)
set(CMAKE_C_COMPILER ${TOPWIPE_ZIG} cc -target ${TOPWIPE_ZIG_TARGET})
set(CMAKE_CXX_COMPILER ${TOPWIPE_ZIG} c++ -target ${TOPWIPE_ZIG_TARGET})
set(CMAKE_AR ${TOPWIPE_ZIG} ar)
set(CMAKE_RANLIB ${TOPWIPE_ZIG} ranlib)
