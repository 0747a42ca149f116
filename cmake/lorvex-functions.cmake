# lorvex_add_rcdata(<output.rc> NAME <rcdata_name> INPUT <text file> [TARGET <target>])
#
# Adds a custom command that runs lorvex to turn <text file> into the
# resource script <output.rc>, holding one RCDATA resource named
# <rcdata_name>. A relative <output.rc> is placed in the current binary
# directory and a relative <text file> is read from the current source
# directory. The script is remade when the text file or lorvex changes, and
# only then. With TARGET, the script is added to that target's sources, so a
# target whose project enables the RC language (Windows, MinGW) compiles it in;
# the target may be defined in another folder.
#
# Available after find_package(lorvex), and in a build that brings lorvex in
# with add_subdirectory or FetchContent. The cache variable LORVEX_EXECUTABLE,
# where set, names the lorvex to run, which must run on the build machine.
include_guard(GLOBAL)

function(lorvex_add_rcdata output)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "NAME;INPUT;TARGET" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "lorvex_add_rcdata: unexpected arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT DEFINED arg_NAME OR arg_NAME STREQUAL "")
    message(FATAL_ERROR "lorvex_add_rcdata: NAME <rcdata_name> is required")
  endif()
  if(NOT arg_INPUT)
    message(FATAL_ERROR "lorvex_add_rcdata: INPUT <text file> is required")
  endif()

  cmake_path(ABSOLUTE_PATH output BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
             NORMALIZE OUTPUT_VARIABLE script)
  cmake_path(ABSOLUTE_PATH arg_INPUT BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
             NORMALIZE OUTPUT_VARIABLE text)
  cmake_path(GET script FILENAME script_name)
  cmake_path(GET script PARENT_PATH script_folder)
  if(script MATCHES ";")
    # Build files take an output as a list, and Make a ';' as the start of a recipe.
    message(FATAL_ERROR "lorvex_add_rcdata: the output path cannot hold ';': ${script}")
  endif()

  # A dependency is a list: a ';' in the text's path is escaped to stay in it.
  # Make cannot name such a file as a prerequisite at all, so it depends on
  # a link to the text instead, whose time is the text's.
  string(REPLACE ";" "\\;" text_dependency "${text}")
  if(text MATCHES ";" AND CMAKE_GENERATOR MATCHES "Makefiles")
    string(SHA1 text_hash "${text}")
    set(text_dependency "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/lorvex/${text_hash}.txt")
    file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/lorvex")
    file(CREATE_LINK "${text}" "${text_dependency}" RESULT link_result SYMBOLIC)
    if(NOT link_result EQUAL 0)
      message(FATAL_ERROR "lorvex_add_rcdata: ${CMAKE_GENERATOR} cannot depend on a path with "
                          "';' (${text}), and no link to it could be made: ${link_result}")
    endif()
  endif()

  # Always a lorvex that runs on the build machine: the one LORVEX_EXECUTABLE
  # names, one built for it beside a cross build (see build-machine-tool.cmake),
  # an installed one, or the one built here, which a cross build runs under
  # CMAKE_CROSSCOMPILING_EMULATOR when given as a target.
  get_property(build_machine_tool GLOBAL PROPERTY LORVEX_BUILD_MACHINE_TOOL)
  if(LORVEX_EXECUTABLE)
    if(NOT IS_ABSOLUTE "${LORVEX_EXECUTABLE}" OR NOT EXISTS "${LORVEX_EXECUTABLE}")
      message(FATAL_ERROR "lorvex_add_rcdata: LORVEX_EXECUTABLE must name an existing lorvex by "
                          "its full path, not ${LORVEX_EXECUTABLE}")
    endif()
    set(lorvex_command "${LORVEX_EXECUTABLE}")
    set(lorvex_depends "${LORVEX_EXECUTABLE}")
  elseif(build_machine_tool)
    set(lorvex_command "${build_machine_tool}")
    set(lorvex_depends lorvex_build_machine "${build_machine_tool}")
  elseif(NOT TARGET lorvex::lorvex)
    message(FATAL_ERROR "lorvex_add_rcdata: no lorvex is known here; use find_package(lorvex), "
                        "add lorvex with add_subdirectory/FetchContent, or set LORVEX_EXECUTABLE")
  else()
    get_target_property(lorvex_imported lorvex::lorvex IMPORTED)
    if(lorvex_imported)
      set(lorvex_command "$<TARGET_FILE:lorvex::lorvex>")
    else()
      set(lorvex_command lorvex::lorvex)
    endif()
    set(lorvex_depends lorvex::lorvex "$<TARGET_FILE:lorvex::lorvex>")
  endif()

  # Ninja makes the output's folder; Make does not, so the command does.
  add_custom_command(
    OUTPUT "${script}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${script_folder}"
    COMMAND ${lorvex_command} "${arg_NAME}" "${text}" "${script}"
    DEPENDS "${text_dependency}" ${lorvex_depends}
    COMMENT "lorvex: ${arg_NAME} from ${arg_INPUT} into ${script_name}"
    VERBATIM)

  if(arg_TARGET)
    target_sources(${arg_TARGET} PRIVATE "${script}")
    # A custom command runs only for the targets of its own folder: for a
    # target of another folder, one here makes the script first.
    get_target_property(target_folder ${arg_TARGET} SOURCE_DIR)
    if(NOT target_folder STREQUAL CMAKE_CURRENT_SOURCE_DIR)
      string(SHA1 script_hash "${script}")
      string(SUBSTRING "${script_hash}" 0 12 script_hash)
      add_custom_target(lorvex_rcdata_${script_hash} DEPENDS "${script}")
      add_dependencies(${arg_TARGET} lorvex_rcdata_${script_hash})
      set_source_files_properties("${script}" TARGET_DIRECTORY ${arg_TARGET}
                                  PROPERTIES GENERATED TRUE)
    endif()
  endif()
endfunction()
