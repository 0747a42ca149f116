# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain. The
# executables link their runtime statically, so lorvex.exe runs on its own,
# and run under Wine wherever the build or the tests start them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(lorvex_mingw_triple x86_64-w64-mingw32)
# The posix thread model gives the C++ runtime its threads and mutexes.
find_program(CMAKE_C_COMPILER NAMES ${lorvex_mingw_triple}-gcc-posix ${lorvex_mingw_triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${lorvex_mingw_triple}-g++-posix ${lorvex_mingw_triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${lorvex_mingw_triple}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${lorvex_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(lorvex_wine NAMES wine wine64)
if(lorvex_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()
