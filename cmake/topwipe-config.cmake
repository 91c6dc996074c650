# topwipe's CMake package. find_package(topwipe CONFIG) gives the command as
# the imported executable topwipe::topwipe, to run in build steps, e.g.
#   add_custom_command(TARGET fw POST_BUILD COMMAND topwipe::topwipe fw.bin)
include("${CMAKE_CURRENT_LIST_DIR}/topwipe-targets.cmake")
