# CPack reads this once for each generator. The zip is the Windows build,
# laid out so that lorvex_DIR can point at its lib/cmake/lorvex.
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_LORVEX_WINDOWS_BUILD};lorvex;ALL;/")
  set(CPACK_PACKAGE_FILE_NAME "lorvex-${CPACK_PACKAGE_VERSION}-win64")
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
  set(CPACK_STRIP_FILES OFF)  # linked stripped: the host's strip may not know the format
endif()
