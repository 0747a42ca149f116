# What the Linux cross toolchains beside it share; each names its target's
# triple, processor and qemu-user emulator first. Debian's cross compiler
# builds for the target, and qemu-user, where installed, runs what is built
# (the tests, and in a consumer's build lorvex itself) on the target's C
# library from Debian's cross packages.
set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_C_COMPILER NAMES ${lorvex_cross_triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${lorvex_cross_triple}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${lorvex_cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(lorvex_qemu NAMES ${lorvex_qemu_name})
if(lorvex_qemu)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${lorvex_qemu} -L /usr/${lorvex_cross_triple})
endif()
