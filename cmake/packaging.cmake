# What is built for the packages: without build paths and times in it
# (LORVEX_REPRODUCIBLE), and, on Linux, with Debian's hardening. Then the
# packages, made by `cmake --workflow --preset package`: a Debian package of
# this (native) build, and a zip of a Windows build made beside it with the
# MinGW-w64 toolchain. With SOURCE_DATE_EPOCH set, both are byte for byte the
# same wherever and whenever they are made.
if(LORVEX_REPRODUCIBLE AND NOT MSVC)
  foreach(target lorvex lorvex_core)
    target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                           -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
  endforeach()
  if(MINGW)
    target_link_options(lorvex PRIVATE -s -Wl,--no-insert-timestamp)  # no link time in the PE header
  endif()
endif()
if(NOT LORVEX_PACKAGE)
  return()
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  foreach(target lorvex lorvex_core)
    target_compile_options(${target} PRIVATE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  endforeach()
  target_link_options(lorvex PRIVATE -Wl,-z,relro,-z,now)
  # No compiler version notes (.comment), as Debian's own strip leaves none.
  add_custom_command(TARGET lorvex POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:lorvex> VERBATIM)
endif()

include(ExternalProject)

# Compressed as Debian wants them, without a name or time in the gzip header.
find_program(LORVEX_GZIP gzip REQUIRED)
foreach(doc docs/lorvex.1 packaging/changelog)
  get_filename_component(name ${doc} NAME)
  add_custom_command(OUTPUT ${name}.gz
    COMMAND ${LORVEX_GZIP} -9nc ${PROJECT_SOURCE_DIR}/${doc} > ${name}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/${doc} VERBATIM)
  list(APPEND lorvex_compressed_docs ${PROJECT_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(lorvex_compressed_docs ALL DEPENDS ${lorvex_compressed_docs})
install(FILES ${PROJECT_BINARY_DIR}/lorvex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

ExternalProject_Add(lorvex_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/windows
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/mingw-w64-x86_64.cmake
             -DCMAKE_BUILD_TYPE=Release -DLORVEX_REPRODUCIBLE=ON
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)

set(CPACK_GENERATOR DEB ZIP)
set(CPACK_PACKAGE_NAME lorvex)
set(CPACK_PACKAGE_VENDOR "the lorvex authors")
set(CPACK_PACKAGE_CONTACT "the lorvex authors <lorvex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn a text file into an RCDATA resource script")
# Lines as the control file shows them: at most 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "lorvex writes a Windows resource script holding one RCDATA statement whose\n"
  "string literals hold a text file, line by line. A resource compiler (rc,\n"
  "windres, llvm-rc) then stores the text, NUL-terminated and exact to the\n"
  "byte, inside a program.\n"
  "\n"
  "It runs on the build machine, also in cross builds, and comes with a CMake\n"
  "package whose lorvex_add_rcdata() makes the script from a build.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Read by CPack for each generator: the zip takes the Windows build instead.
set(CPACK_LORVEX_WINDOWS_BUILD ${PROJECT_BINARY_DIR}/windows)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-generators.cmake)
include(CPack)
