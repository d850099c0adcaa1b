# The Debian package: `cpack -G DEB` in a build directory makes loomreg_<version>_<arch>.deb of
# everything `cmake --install` installs, under /usr (the DEB generator's own prefix, whatever
# CMAKE_INSTALL_PREFIX says). Name and version come from project().
set(CPACK_PACKAGE_NAME loomreg)
set(CPACK_PACKAGE_VENDOR "loomreg developers")
set(CPACK_PACKAGE_CONTACT "loomreg developers <dev@loomreg.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "registers uploaded loom-settings files in a plain-text data store")
# The long description, in the package's own line breaks; an empty line separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION [=[
loomreg is the server-side registration tool of a web application that keeps
the setting values of automatic weaving looms in a central data store. The web
application starts it each time a settings file is saved; it files the upload
under its style and brings the store's plain-text catalogues up to date.

Also included: loomreg-check, which checks a data store and repairs what can be
repaired without losing anything; loomreg-mkstore and loomreg-save, which
create a data store and save a file the way the web application does; and the
form-data and site-configuration libraries, with C headers and a CMake package
configuration, for the web application's own programs.
]=])
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # For Windows servers: `cpack -G ZIP` makes loomreg-<version>-win64.zip, one folder of that
  # name holding everything `cmake --install` installs (docs/windows.md). The programs are linked
  # -static, so the zip needs no DLL beside them.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_SOURCE_GENERATOR ZIP)
  set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/[.]git$" "/build/" "/out/" "/[.]cache/")
  include(CPack)
  return()
endif()
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The programs link the C++ runtime statically, so the C library is their one dependency, at
# the version whose symbols they use. dpkg-shlibdeps (dpkg-dev) reads that from the binaries;
# without it, the C library of the build machine is a safe minimum.
find_program(LOOMREG_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LOOMREG_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  execute_process(COMMAND getconf GNU_LIBC_VERSION
    OUTPUT_VARIABLE loomreg_libc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(loomreg_libc MATCHES "^glibc ([0-9]+\\.[0-9]+)")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${CMAKE_MATCH_1})")
  endif()
endif()

# `cpack --config CPackSourceConfig.cmake`: the sources without build trees or Git's data.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/[.]git$" "/build/" "/out/" "/[.]cache/")

include(CPack)
