# Cross build for 64-bit Arm Linux; runs under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(lorvex_cross_triple aarch64-linux-gnu)
set(lorvex_qemu_name qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
