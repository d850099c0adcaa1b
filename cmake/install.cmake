# What `cmake --install` puts where. Every destination is relative to the install prefix.
#
#   bin/                       loomreg, loomreg-check, loomreg-mkstore, loomreg-save
#   include/loomreg/           formdata.h, siteconfig.h, loomreg_version.h
#   lib/                       libloomreg_formdata.a, libloomreg_siteconfig.a
#   lib/cmake/loomreg/         the package config: find_package(loomreg) gives the imported
#                              targets loomreg::formdata and loomreg::siteconfig
#   share/man/man1/            a page for each program
#   share/doc/loomreg/         README.md
include(CMakePackageConfigHelpers)

set(LOOMREG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/loomreg)

install(TARGETS loomreg loomreg-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The stand-ins look for loomreg beside themselves first, then on PATH.
install(PROGRAMS scripts/loomreg-mkstore scripts/loomreg-save
  DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS loomreg_formdata loomreg_siteconfig EXPORT loomregTargets
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
# The C interface of the two libraries is what consumers rely on: it stays within a major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/loomregConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/loomregConfig.cmake
  ${PROJECT_BINARY_DIR}/loomregConfigVersion.cmake
  DESTINATION ${LOOMREG_CMAKE_DIR})

set(LOOMREG_MAN_PAGES
  docs/loomreg.1 docs/loomreg-check.1 docs/loomreg-mkstore.1 docs/loomreg-save.1)
install(FILES ${LOOMREG_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
