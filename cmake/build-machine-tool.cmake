# In a consumer's build, where lorvex_add_rcdata cannot run the lorvex built
# for the consumer's target, a lorvex for the build machine is built beside
# it: a nested native build of the same source, in Release, without tests.
# That is so in a cross build without an emulator, and in a multi-config
# build, whose configurations would otherwise each remake every script with
# their own lorvex. LORVEX_EXECUTABLE makes it unneeded.
get_property(lorvex_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
if(LORVEX_EXECUTABLE)
  return()
elseif(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(lorvex_build_machine_needed ON)
elseif(NOT lorvex_multi_config)
  return()
endif()

if(lorvex_multi_config)
  set(lorvex_build_machine_args -DCMAKE_CONFIGURATION_TYPES=Release)
else()
  set(lorvex_build_machine_args -DCMAKE_BUILD_TYPE=Release)
endif()
list(APPEND lorvex_build_machine_args -DLORVEX_BUILD_TESTS=OFF
    -DLORVEX_INSTALL=OFF -DLORVEX_PACKAGE=OFF -DLORVEX_FUZZ=OFF
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY_RELEASE=<BINARY_DIR>/bin)
if(NOT CMAKE_GENERATOR MATCHES "Visual Studio")  # which picks the build machine's own
  list(APPEND lorvex_build_machine_args -DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM})
endif()
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND lorvex_build_machine_args -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
elseif(CMAKE_HOST_WIN32 AND NOT CMAKE_GENERATOR MATCHES "Visual Studio" AND NOT LORVEX_BUILD_MACHINE_CXX
       AND DEFINED ENV{VCINSTALLDIR} AND NOT "$ENV{VSCMD_ARG_TGT_ARCH}" STREQUAL "$ENV{VSCMD_ARG_HOST_ARCH}")
  # A Visual Studio cross prompt (amd64_arm64): its cl, INCLUDE, LIB and
  # LIBPATH, and any compiler on its PATH, build for the target. The nested
  # build runs in the build machine's own prompt, which the same
  # vcvarsall.bat makes, with its cl.
  file(TO_NATIVE_PATH "$ENV{VCINSTALLDIR}Auxiliary/Build/vcvarsall.bat" lorvex_vcvarsall)
  set(lorvex_build_machine_prompt ${PROJECT_BINARY_DIR}/build-machine-prompt.bat)
  file(WRITE ${lorvex_build_machine_prompt}
       "@call \"${lorvex_vcvarsall}\" $ENV{VSCMD_ARG_HOST_ARCH} > nul || exit /b 1\r\n@%*\r\n")
  list(APPEND lorvex_build_machine_args -DCMAKE_CXX_COMPILER=cl)
elseif(NOT CMAKE_GENERATOR MATCHES "Visual Studio")
  find_program(LORVEX_BUILD_MACHINE_CXX NAMES c++ g++ clang++ cl NO_CMAKE_FIND_ROOT_PATH
               DOC "The build machine's C++ compiler, for the lorvex that a cross build runs")
  if(NOT LORVEX_BUILD_MACHINE_CXX)
    if(NOT lorvex_build_machine_needed)
      return()  # a multi-config cross build with an emulator: the lorvex built here
    endif()
    message(FATAL_ERROR "lorvex: this cross build has no CMAKE_CROSSCOMPILING_EMULATOR to run the "
      "lorvex built for its target, and no C++ compiler for the build machine was found to "
      "build one that runs here. Set LORVEX_EXECUTABLE to a lorvex for the build machine, "
      "LORVEX_BUILD_MACHINE_CXX to its compiler, or CMAKE_CROSSCOMPILING_EMULATOR.")
  endif()
  list(APPEND lorvex_build_machine_args -DCMAKE_CXX_COMPILER=${LORVEX_BUILD_MACHINE_CXX})
endif()

if(CMAKE_HOST_WIN32)
  set(lorvex_build_machine_tool ${PROJECT_BINARY_DIR}/build-machine/bin/lorvex.exe)
else()
  set(lorvex_build_machine_tool ${PROJECT_BINARY_DIR}/build-machine/bin/lorvex)
endif()
include(ExternalProject)
ExternalProject_Add(lorvex_build_machine
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/build-machine
  # A cross toolchain's compiler and flags, from the environment or a
  # toolchain file named there, must not reach the build for the build machine.
  CONFIGURE_COMMAND ${lorvex_build_machine_prompt} ${CMAKE_COMMAND} -E env --unset=CC --unset=CXX
      --unset=CPPFLAGS --unset=CXXFLAGS --unset=LDFLAGS --unset=CMAKE_TOOLCHAIN_FILE
      ${CMAKE_COMMAND} -S <SOURCE_DIR> -B <BINARY_DIR> -G ${CMAKE_GENERATOR}
      ${lorvex_build_machine_args}
  BUILD_COMMAND ${lorvex_build_machine_prompt} ${CMAKE_COMMAND} --build <BINARY_DIR> --config Release
      --target lorvex
  BUILD_BYPRODUCTS ${lorvex_build_machine_tool}
  INSTALL_COMMAND ""
  EXCLUDE_FROM_ALL ON)
set_property(GLOBAL PROPERTY LORVEX_BUILD_MACHINE_TOOL ${lorvex_build_machine_tool})
# Built again when lorvex's source changes, and only then, so that a build
# with nothing to do has nothing to do here either.
file(GLOB lorvex_build_machine_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*)
ExternalProject_Add_StepDependencies(lorvex_build_machine build ${lorvex_build_machine_inputs}
  ${PROJECT_SOURCE_DIR}/CMakeLists.txt ${PROJECT_SOURCE_DIR}/VERSION)
