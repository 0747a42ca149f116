# Cross build for 32-bit x86 Linux; runs under qemu-i386. Linked statically:
# under qemu-i386, fork in a program on the dynamic i686 C library hangs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(lorvex_cross_triple i686-linux-gnu)
set(lorvex_qemu_name qemu-i386)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
