# The copyright file that every install of the command carries, in the form
# Debian's tools read: the command's licence, then the notice of each runtime
# linked into it that TOPWIPE_NOTICES names (docs/notices/NAME; the release's
# presets name them). Beside it, in licenses/, the full texts it points to in
# /usr/share/common-licenses, for systems that have no such folder.
set(TOPWIPE_NOTICES "" CACHE STRING "The runtimes linked into the command, by their notices in docs/notices")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
file(READ LICENSE own)
string(STRIP "${own}" own)
string(REPLACE "\n" "\n " own " ${own}")
string(REPLACE "\n \n" "\n .\n" own "${own}")
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: topwipe

Files: *
Copyright: 2026 The topwipe developers
License: Expat
${own}
")
# What the packages say of their licence, by SPDX's names.
set(licences MIT)
set(spdx_zig "Apache-2.0 WITH LLVM-exception")
set(spdx_musl MIT)
set(spdx_mingw-w64 ZPL-2.1)
set(spdx_gcc "GPL-3.0-or-later WITH GCC-exception-3.1")
set(spdx_glibc LGPL-2.1-or-later)
if(glibc IN_LIST TOPWIPE_NOTICES)
  # The glibc linked: the version of Debian's source package that the
  # package holding the compiler's libc.a was built from.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.a
      OUTPUT_VARIABLE libc OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REAL_PATH "${libc}" libc)
  execute_process(COMMAND dpkg-query -S ${libc} OUTPUT_VARIABLE package ERROR_QUIET)
  string(REGEX REPLACE ":.*" "" topwipe_glibc_package "${package}")
  execute_process(COMMAND dpkg-query -W "-f=\${source:Package} \${source:Version}, \${Built-Using}"
      ${topwipe_glibc_package} OUTPUT_VARIABLE using ERROR_QUIET)
  if(using MATCHES "glibc \\(= ([^)]+)\\)|^glibc ([^,]+),")
    set(topwipe_glibc ${CMAKE_MATCH_1}${CMAKE_MATCH_2})
  else()
    message(FATAL_ERROR "TOPWIPE_NOTICES names glibc, but no Debian package says which glibc ${libc} is")
  endif()
endif()
foreach(notice IN LISTS TOPWIPE_NOTICES)
  configure_file(docs/notices/${notice} notices/${notice} @ONLY)
  file(READ ${PROJECT_BINARY_DIR}/notices/${notice} text)
  string(APPEND copyright "\n${text}")
  list(APPEND licences "${spdx_${notice}}")
endforeach()
list(REMOVE_DUPLICATES licences)
list(JOIN licences " AND " topwipe_licence)
file(WRITE ${PROJECT_BINARY_DIR}/copyright "${copyright}")
string(REGEX MATCHALL "/usr/share/common-licenses/[^ \n;]+" topwipe_licence_texts "${copyright}")
list(REMOVE_DUPLICATES topwipe_licence_texts)
file(REMOVE_RECURSE ${PROJECT_BINARY_DIR}/licenses)
foreach(text IN LISTS topwipe_licence_texts)
  if(NOT EXISTS ${text})
    message(FATAL_ERROR "TOPWIPE_NOTICES: ${text}, a licence its notices name, is missing")
  endif()
  file(COPY ${text} DESTINATION licenses)
endforeach()
