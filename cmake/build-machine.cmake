# topwipe inside a cross build: topwipe::topwipe is built apart, for the
# machine that runs the build, with its C++ compiler; nothing of the cross
# build reaches it (toolchain file, compilers, flags, find-root modes).
#   -DTOPWIPE_HOST_CXX=/path/to/c++ where c++, g++ or clang++ on PATH is not it
find_program(TOPWIPE_HOST_CXX NAMES c++ g++ clang++
    NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH
    DOC "C++ compiler for the machine that runs the build, which builds topwipe there")
if(NOT TOPWIPE_HOST_CXX)
  message(FATAL_ERROR "topwipe: no C++ compiler for the machine that runs this cross build "
      "(c++, g++ or clang++ on PATH): topwipe runs during the build, so it is built for that "
      "machine. Install one (Debian, Ubuntu: apt-get install g++), or name it in TOPWIPE_HOST_CXX.")
endif()

include(ExternalProject)
set(dir ${CMAKE_CURRENT_BINARY_DIR}/build-machine)
set(exe ${dir}/bin/topwipe)
if(CMAKE_HOST_WIN32)
  set(exe ${dir}/bin/topwipe.exe)
endif()
# The flags are set, empty, so that none comes from the environment
# (CXXFLAGS may hold the target's); Release in one folder, whatever the
# generator's configurations; built again (a no-op when nothing changed)
# with every build, so that a changed source is taken up.
ExternalProject_Add(topwipe_build_machine
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=
        -DCMAKE_CXX_COMPILER=${TOPWIPE_HOST_CXX}
        -DCMAKE_CXX_FLAGS=
        -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_RUNTIME_OUTPUT_DIRECTORY_RELEASE=${dir}/bin
        -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${dir}/bin
        -DBUILD_TESTING=OFF
        -DTOPWIPE_INSTALL=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${dir} --config Release --target topwipe
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${exe})
add_executable(topwipe::topwipe IMPORTED GLOBAL)
set_target_properties(topwipe::topwipe PROPERTIES IMPORTED_LOCATION ${exe})
add_dependencies(topwipe::topwipe topwipe_build_machine)
