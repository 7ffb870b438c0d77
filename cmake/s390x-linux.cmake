# Big-endian Linux from Debian: the s390x cross compiler (g++-s390x-linux-gnu),
# programs linked statically, tests run by qemu-user (qemu-s390x).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TRIPLE s390x-linux-gnu)
set(QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux-cross.cmake)
