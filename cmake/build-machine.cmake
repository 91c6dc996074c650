# topwipe inside a cross build: topwipe::topwipe is built apart, for the
# machine that runs the build, with its C++ compiler; nothing of the cross
# build reaches it (toolchain file, compilers, flags, find-root modes). It is
# built as the project is configured, so that the project's build finds it
# made: a build runs nothing of topwipe's and says nothing of it, with any
# generator and any -j. A change to its sources configures the project again
# (as a change to a CMakeLists.txt does), which builds it again.
#   -DTOPWIPE_HOST_CXX=/path/to/c++ where c++, g++ or clang++ on PATH is not it
find_program(TOPWIPE_HOST_CXX NAMES c++ g++ clang++
    NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH
    DOC "C++ compiler for the machine that runs the build, which builds topwipe there")
if(NOT TOPWIPE_HOST_CXX)
  message(FATAL_ERROR "topwipe: no C++ compiler for the machine that runs this cross build "
      "(c++, g++ or clang++ on PATH): topwipe runs during the build, so it is built for that "
      "machine. Install one (Debian, Ubuntu: apt-get install g++), or name it in TOPWIPE_HOST_CXX.")
endif()

set(dir ${CMAKE_CURRENT_BINARY_DIR}/build-machine)
set(exe ${dir}/bin/topwipe)
if(CMAKE_HOST_WIN32)
  set(exe ${dir}/bin/topwipe.exe)
endif()
file(GLOB sources ${PROJECT_SOURCE_DIR}/src/*)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
# The flags are set, empty, so that none comes from the environment
# (CXXFLAGS may hold the target's); Release in one folder, whatever the
# generator's configurations. Where make configures the project again (a
# source changed), the build here runs without make's MAKEFLAGS, whose job
# slots it could not reach, as it would say.
set(env ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL)
execute_process(
    COMMAND ${env} ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${dir}
        -G ${CMAKE_GENERATOR} -DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}
        -DCMAKE_TOOLCHAIN_FILE=
        -DCMAKE_CXX_COMPILER=${TOPWIPE_HOST_CXX}
        -DCMAKE_CXX_FLAGS=
        -DCMAKE_EXE_LINKER_FLAGS=
        -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_RUNTIME_OUTPUT_DIRECTORY_RELEASE=${dir}/bin
        -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${dir}/bin
        -DBUILD_TESTING=OFF
        -DTOPWIPE_INSTALL=OFF
    RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT failed)
  execute_process(COMMAND ${env} ${CMAKE_COMMAND} --build ${dir} --config Release --target topwipe
      RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
endif()
if(failed)
  message(FATAL_ERROR "topwipe: building it for the machine that runs this build failed:\n${log}")
endif()
add_executable(topwipe::topwipe IMPORTED GLOBAL)
set_target_properties(topwipe::topwipe PROPERTIES IMPORTED_LOCATION ${exe})
if(TOPWIPE_INSTALL)
  # Installed with the project, as asked: the program for this machine.
  install(PROGRAMS ${exe} DESTINATION bin)
endif()
