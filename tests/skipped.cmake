# cmake -DLOG=FILE -P skipped.cmake, run by ctest after the suites: lists
# the cases they skipped, with why. A group with a skipped case still
# passes, and would otherwise say so only under ctest -V.
if(EXISTS "${LOG}")
  file(READ "${LOG}" text)
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" "\n  " text "${text}")
  message("Skipped, and why (group: case: reason):\n  ${text}")
endif()
