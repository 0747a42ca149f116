# Cross build for 64-bit Windows with Debian's Clang and lld, on the MinGW-w64
# headers and GCC's libstdc++ (the posix thread model, which needs
# winpthreads at link time). Resources go through MinGW-w64's windres, which
# stores every byte of a narrow string as it is (llvm-windres reads them in a
# code page). Executables link their runtime statically and run under Wine,
# as with the GCC build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(lorvex_mingw_triple x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES clang REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES clang++ REQUIRED)
set(CMAKE_C_COMPILER_TARGET ${lorvex_mingw_triple})
set(CMAKE_CXX_COMPILER_TARGET ${lorvex_mingw_triple})
find_program(CMAKE_RC_COMPILER NAMES ${lorvex_mingw_triple}-windres REQUIRED)

# Clang does not find GCC's MinGW libstdc++ where Debian keeps it: name it.
file(GLOB lorvex_mingw_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${lorvex_mingw_triple}/*-posix)
list(SORT lorvex_mingw_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET lorvex_mingw_gcc_dirs 0 lorvex_mingw_gcc_dir)
if(NOT IS_DIRECTORY "${lorvex_mingw_gcc_dir}/include/c++")
  message(FATAL_ERROR "no libstdc++ of the posix MinGW-w64 GCC under /usr/lib/gcc/${lorvex_mingw_triple}; "
                      "install g++-mingw-w64-x86-64-posix")
endif()
set(lorvex_libstdcxx "${lorvex_mingw_gcc_dir}/include/c++")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${lorvex_libstdcxx} -isystem ${lorvex_libstdcxx}/${lorvex_mingw_triple} -isystem ${lorvex_libstdcxx}/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -static -L${lorvex_mingw_gcc_dir}")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${lorvex_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(lorvex_wine NAMES wine wine64)
if(lorvex_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()
