# The packages of a build, made by cpack in its folder, each the build's
# cmake --install wrapped; the release's .deb and .rpm too (TOPWIPE_RELEASE).
# What a package says of itself is written here once.

set(CPACK_PACKAGE_NAME topwipe)
set(CPACK_PACKAGE_VENDOR "topwipe developers")
set(CPACK_PACKAGE_CONTACT "topwipe developers <topwipe@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "${topwipe_about}")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
if(CPACK_GENERATOR) # a release preset's
elseif(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_RPM_PACKAGE_LICENSE "${topwipe_licence}") # cmake/notices.cmake
set(CPACK_RPM_PACKAGE_GROUP "Development/Tools")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# Folders the system's own packages own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/lib/cmake)
set(CPACK_RPM_USER_FILELIST "%license /usr/share/doc/topwipe/copyright")
if(topwipe_licence_texts)
  list(APPEND CPACK_RPM_USER_FILELIST "%license /usr/share/doc/topwipe/licenses")
endif()
if(topwipe_glibc)
  # Debian asks a package that holds others' code, linked in statically, to
  # name its source; cpack has no variable for Built-Using, so the field
  # rides on the line before it.
  string(APPEND CPACK_DEBIAN_PACKAGE_SECTION "\nBuilt-Using: glibc (= ${topwipe_glibc})")
endif()
# Nothing of the machine that made it or of when it was made, but the
# commit's time (SOURCE_DATE_EPOCH, where it is set); no debug package,
# and the binary as the build left it.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define debug_package %{nil}
%define __os_install_post %{nil}
%define _build_id_links none")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-files.cmake)
# cpack installs the one component every install rule is in, by its name,
# so that its install writes install_manifest_Unspecified.txt: the build's
# install_manifest.txt stays the list of what cmake --install laid down.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};topwipe;Unspecified;/")

# The machine the command runs on, by Debian's name, where it is not this one.
set(topwipe_debian_arch_x86_64 amd64)
set(topwipe_debian_arch_i686 i386)
set(topwipe_debian_arch_aarch64 arm64)
set(topwipe_debian_arch_armv7l armhf)
set(topwipe_debian_arch_armv6l armhf) # static: its float ABI is its own affair
set(topwipe_debian_arch_riscv64 riscv64)
if(CMAKE_CROSSCOMPILING AND DEFINED topwipe_debian_arch_${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${topwipe_debian_arch_${CMAKE_SYSTEM_PROCESSOR}})
endif()
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})

if(TOPWIPE_RELEASE)
  # topwipe_1.0.0_amd64.deb, topwipe-1.0.0-1.x86_64.rpm. Static: no
  # dependency on any C library.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_RELEASE 1)
  set(CPACK_TOPWIPE_STATIC ON)
else()
  # The packages of any other build hold what the release's do, around a
  # binary linked for this machine: their names and versions keep them
  # apart from the release's, and sort below it, so that the release
  # replaces them.
  set(CPACK_PACKAGE_FILE_NAME ${topwipe_local_name})
  set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}~local")
  set(CPACK_RPM_PACKAGE_RELEASE "0.local")
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(CMAKE_CROSSCOMPILING)
    # The host's package tools know nothing of the target's libraries.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
  elseif(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    # Without dpkg-shlibdeps to say what the binary needs, the C library it
    # was linked against is the least it can be promised to run on.
    execute_process(COMMAND getconf GNU_LIBC_VERSION OUTPUT_VARIABLE libc
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(libc MATCHES "^glibc ([0-9.]+)$")
      set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${CMAKE_MATCH_1})")
    else()
      set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
    endif()
  endif()
endif()
include(CPack)
