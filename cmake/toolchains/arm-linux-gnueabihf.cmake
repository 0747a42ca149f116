# Cross build for 32-bit Arm Linux (hard-float ABI); runs under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(lorvex_cross_triple arm-linux-gnueabihf)
set(lorvex_qemu_name qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
