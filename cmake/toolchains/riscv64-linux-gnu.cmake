# Cross build for 64-bit RISC-V Linux; runs under qemu-riscv64.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(lorvex_cross_triple riscv64-linux-gnu)
set(lorvex_qemu_name qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
