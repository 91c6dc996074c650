# Read by cpack for each kind of package it makes, CPACK_GENERATOR naming it.
if(CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-files.cmake)
endif()
