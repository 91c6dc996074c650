# Included by a toolchain file for Linux on another CPU: the qemu-user that
# runs its programs here, qemu-${qemu} with ${qemu_args}, as the emulator that
# ctest and the suites run them under. It is the one in the folder
# $TOPWIPE_QEMU names, or else qemu-${qemu}-static; it must be statically
# linked, or it would itself take the tests' preloaded fault library.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TOPWIPE_QEMU_${qemu} qemu-${qemu} PATHS $ENV{TOPWIPE_QEMU} NO_DEFAULT_PATH)
  find_program(TOPWIPE_QEMU_${qemu} qemu-${qemu}-static)
  if(TOPWIPE_QEMU_${qemu})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TOPWIPE_QEMU_${qemu}} ${qemu_args})
  endif()
endif()
