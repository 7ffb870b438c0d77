# 32-bit ARM Linux from Debian, as on a Raspberry Pi: the armhf cross compiler
# (g++-arm-linux-gnueabihf), programs linked statically, tests run by qemu-user
# (qemu-arm).
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(TRIPLE arm-linux-gnueabihf)
set(QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux-cross.cmake)
