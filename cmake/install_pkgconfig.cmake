# Part of `cmake --install`: writes the pkg-config files for the prefix being installed to and
# installs them. LOOMREG_PC_DIR holds their templates; LOOMREG_PC_DESTINATION is where they go,
# relative to the prefix.
string(MD5 loomreg_pc_key "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(prefix "${CMAKE_INSTALL_PREFIX}")
foreach(loomreg_pc_library IN ITEMS formdata siteconfig store)
  set(loomreg_pc_file "${LOOMREG_PC_DIR}/${loomreg_pc_key}/loomreg-${loomreg_pc_library}.pc")
  configure_file("${LOOMREG_PC_DIR}/loomreg-${loomreg_pc_library}.pc.in" "${loomreg_pc_file}" @ONLY)
  file(INSTALL "${loomreg_pc_file}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${LOOMREG_PC_DESTINATION}")
endforeach()
