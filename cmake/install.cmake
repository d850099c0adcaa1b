# What `cmake --install` puts where. Every destination is relative to the install prefix.
#
#   bin/                       loomreg, loomreg-check, loomreg-mkstore, loomreg-save
#   include/loomreg/           formdata.h, siteconfig.h, loomreg_store.h, loomreg_version.h
#   lib/                       libloomreg_formdata.a, libloomreg_siteconfig.a,
#                              libloomreg_store.a (lib/ is CMAKE_INSTALL_LIBDIR:
#                              lib/x86_64-linux-gnu and the like on Debian)
#   lib/cmake/loomreg/         the package config: find_package(loomreg) gives the imported
#                              targets loomreg::formdata, loomreg::siteconfig and loomreg::store
#   lib/pkgconfig/             loomreg-formdata.pc, loomreg-siteconfig.pc, loomreg-store.pc
#   share/man/man1/            a page for each program, compressed
#   share/doc/loomreg/         README.md, the copyright and the Debian changelog, and docs/ with
#                              the reference pages the README links to
#
# A Windows build installs, for the zip that `cpack` makes of it (docs/windows.md):
#
#   bin/                       loomreg.exe, loomreg-check.exe (the stand-in scripts are bash
#                              scripts, not shipped)
#   include/loomreg/, lib/, lib/cmake/loomreg/   as above
#   lib/pkgconfig/             the pkg-config files, naming their prefix relative to their own
#                              place, so that the unpacked tree may lie anywhere
#   share/doc/loomreg/         README.md, the copyright, docs/ as above, and the man pages
#                              rendered as plain text with CR LF line ends: loomreg.txt,
#                              loomreg-check.txt
# Each program and library is installed once it builds for the platform.
include(CMakePackageConfigHelpers)

set(LOOMREG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/loomreg)

set(LOOMREG_PROGRAMS)
set(LOOMREG_LIBRARIES)
foreach(program IN ITEMS loomreg loomreg-check)
  if(TARGET ${program})
    list(APPEND LOOMREG_PROGRAMS ${program})
  endif()
endforeach()
foreach(library IN ITEMS formdata siteconfig store)
  if(TARGET loomreg_${library})
    list(APPEND LOOMREG_LIBRARIES ${library})
  endif()
endforeach()
if(LOOMREG_PROGRAMS)
  install(TARGETS ${LOOMREG_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(NOT WIN32)
  # The stand-ins look for loomreg beside themselves first, then on PATH.
  install(PROGRAMS scripts/loomreg-mkstore scripts/loomreg-save
    DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

list(TRANSFORM LOOMREG_LIBRARIES PREPEND loomreg_ OUTPUT_VARIABLE loomreg_library_targets)
install(TARGETS ${loomreg_library_targets} EXPORT loomregTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/loomreg)
# The version as C macros, beside the headers of the libraries.
install(FILES ${PROJECT_BINARY_DIR}/generated/loomreg_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/loomreg)
install(EXPORT loomregTargets NAMESPACE loomreg:: DESTINATION ${LOOMREG_CMAKE_DIR})
# The libraries the C++ compiler links beyond what the C compiler does (with g++: stdc++ and m),
# for programs that link the libraries with the C compiler.
set(LOOMREG_CXX_RUNTIME ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_ITEM LOOMREG_CXX_RUNTIME ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_DUPLICATES LOOMREG_CXX_RUNTIME)
configure_package_config_file(cmake/loomregConfig.cmake.in
  ${PROJECT_BINARY_DIR}/loomregConfig.cmake
  INSTALL_DESTINATION ${LOOMREG_CMAKE_DIR})
# The C interface of the libraries is what consumers rely on: it stays within a major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/loomregConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/loomregConfig.cmake
  ${PROJECT_BINARY_DIR}/loomregConfigVersion.cmake
  DESTINATION ${LOOMREG_CMAKE_DIR})

# pkg-config files for programs built without CMake. They name the prefix they are installed
# below, which is known only when installing (`cmake --install --prefix`, /usr for the package),
# so the install writes them then, into a directory of the build tree kept for that prefix
# (installs to different prefixes may run at once).
set(LOOMREG_PC_DESCRIPTION_formdata "URL codec and form-data parsing")
set(LOOMREG_PC_DESCRIPTION_siteconfig "site configuration readers and path table")
set(LOOMREG_PC_DESCRIPTION_store "read interface of the data store")
# The store's library reads the path table of the site-configuration library.
set(LOOMREG_PC_REQUIRES_store "Requires: loomreg-siteconfig = ${PROJECT_VERSION}")
# A Windows tree is unpacked from a zip wherever its user likes: its files name the prefix
# relative to their own directory (pkg-config's pcfiledir), two levels up from lib/pkgconfig/.
file(RELATIVE_PATH loomreg_pc_up /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" loomreg_pc_up "${loomreg_pc_up}")
foreach(library IN LISTS LOOMREG_LIBRARIES)
  set(LOOMREG_PC_LIBRARY ${library})
  set(LOOMREG_PC_DESCRIPTION "${LOOMREG_PC_DESCRIPTION_${library}}")
  set(LOOMREG_PC_REQUIRES "${LOOMREG_PC_REQUIRES_${library}}")
  list(TRANSFORM LOOMREG_CXX_RUNTIME PREPEND -l OUTPUT_VARIABLE LOOMREG_PC_RUNTIME)
  string(JOIN " " LOOMREG_PC_RUNTIME ${LOOMREG_PC_RUNTIME})
  if(WIN32)
    set(prefix "\${pcfiledir}/${loomreg_pc_up}")
    configure_file(cmake/loomreg.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/loomreg-${library}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/loomreg-${library}.pc
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  else()
    set(prefix @prefix@)
    configure_file(cmake/loomreg.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/loomreg-${library}.pc.in
      @ONLY)
  endif()
endforeach()
if(NOT WIN32)
  install(CODE "set(LOOMREG_PC_DIR \"${PROJECT_BINARY_DIR}/pkgconfig\")
    set(LOOMREG_PC_DESTINATION \"${CMAKE_INSTALL_LIBDIR}/pkgconfig\")")
  install(SCRIPT cmake/install_pkgconfig.cmake)
endif()

# The man pages as installed: the version added to their header and footer, and compressed as
# Debian expects, without a name or time stamp in the gzip header (-n), so that builds of one
# commit give the same bytes.
# On Windows, the pages of the programs built, rendered as plain text (docs/windows.md): ASCII,
# without overstriking or colours (groff's ASCII bullet, "+" struck over by "o", kept as "o"),
# with CR LF line ends.
if(WIN32)
  set(LOOMREG_MAN_PAGES ${LOOMREG_PROGRAMS})
  find_program(LOOMREG_GROFF groff REQUIRED)
else()
  set(LOOMREG_MAN_PAGES loomreg loomreg-check loomreg-mkstore loomreg-save)
endif()
set(loomreg_man_gz)
foreach(page IN LISTS LOOMREG_MAN_PAGES)
  set(page_source ${PROJECT_SOURCE_DIR}/docs/${page}.1)
  set(page_built ${PROJECT_BINARY_DIR}/man/${page}.1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${page_source})
  file(READ ${page_source} page_text)
  foreach(line IN ITEMS ".Os loomreg" ".ds doc-volume-operating-system loomreg")
    string(FIND "${page_text}" "\n${line}\n" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${page_source} has no line \"${line}\" to add the version to")
    endif()
    string(REPLACE "\n${line}\n" "\n${line} ${PROJECT_VERSION}\n" page_text "${page_text}")
  endforeach()
  # Written only when changed, so that a new configure compresses nothing anew.
  set(page_before "")
  if(EXISTS ${page_built})
    file(READ ${page_built} page_before)
  endif()
  if(NOT page_before STREQUAL page_text)
    file(WRITE ${page_built} "${page_text}")
  endif()
  if(WIN32)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.txt
      COMMAND bash -c "set -o pipefail; GROFF_NO_SGR=1 \"$1\" -mandoc -Tascii -P-c -P-b -P-u \"$2\" | sed -e 's/.\\x08//g' -e 's/$/\\r/' >\"$3\"" render-man-page
              ${LOOMREG_GROFF} ${page_built} ${PROJECT_BINARY_DIR}/man/${page}.txt
      DEPENDS ${page_built}
      COMMENT "Rendering the man page ${page}.1 as text"
      VERBATIM)
    list(APPEND loomreg_man_gz ${PROJECT_BINARY_DIR}/man/${page}.txt)
  else()
    add_custom_command(OUTPUT ${page_built}.gz
      COMMAND gzip -9nkf ${page_built}
      DEPENDS ${page_built}
      COMMENT "Compressing the man page ${page}.1"
      VERBATIM)
    list(APPEND loomreg_man_gz ${page_built}.gz)
  endif()
endforeach()
add_custom_target(loomreg_man_pages ALL DEPENDS ${loomreg_man_gz})
if(WIN32)
  install(FILES ${loomreg_man_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${loomreg_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# What Debian asks of every package's documentation directory: the copyright, in the
# machine-readable format, and the changelog, compressed like the man pages. The package is
# made here, not by Debian: a native package, without a Debian revision in its version, whose
# changelog lintian wants named changelog.gz (changelog.Debian.gz is for non-native packages).
# The zip for Windows carries the copyright but not the Debian changelog.
if(WIN32)
  install(FILES README.md cmake/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    COMMENT "Compressing the Debian changelog")
  add_custom_target(loomreg_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
  install(FILES README.md cmake/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
# The reference pages the README links to, with the pictures they show, so that its links
# (docs/store.md and the like) also work in the installed copy.
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
