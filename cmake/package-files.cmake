# Run by cpack on the install it is about to wrap: what a .deb or .rpm wants
# beyond what cmake --install lays down (the manual compressed, and for
# Debian a changelog).
if(NOT CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  return()
endif()
set(usr ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${usr}/share/doc/topwipe)
# gzip FILE: FILE as FILE.gz, with no name or time in its header.
function(gzip file)
  execute_process(COMMAND gzip -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
gzip(${usr}/share/man/man1/topwipe.1)
if(CPACK_GENERATOR STREQUAL "DEB")
  # Debian has the full texts of the licences the copyright file names.
  file(REMOVE_RECURSE ${doc}/licenses)
  if(NOT CPACK_DEBIAN_PACKAGE_VERSION)
    set(CPACK_DEBIAN_PACKAGE_VERSION ${CPACK_PACKAGE_VERSION})
  endif()
  # Dated by SOURCE_DATE_EPOCH where it is set.
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${doc}/changelog "topwipe (${CPACK_DEBIAN_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}: see CHANGELOG.md beside this file.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
  gzip(${doc}/changelog)
  if(CPACK_TOPWIPE_STATIC)
    # Static on purpose: the package installs and runs on any release.
    file(WRITE ${usr}/share/lintian/overrides/topwipe
        "topwipe: statically-linked-binary [usr/bin/topwipe]\n")
  endif()
endif()
# rpmbuild clamps only times later than SOURCE_DATE_EPOCH: a file edited
# before the commit would keep its own time.
if(CPACK_GENERATOR STREQUAL "RPM" AND DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec
      touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} + COMMAND_ERROR_IS_FATAL ANY)
endif()
