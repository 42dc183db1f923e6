# Cross-compiles for 32-bit ARM Linux with the hard-float ABI (Debian's
# "armhf" port: ARMv7-A with VFPv3-D16, compiler package
# crossbuild-essential-armhf), producing libVOQ-Linux-armv7.so.
#
#   cmake -S . -B build-armhf -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf-linux-gnueabihf.cmake
#
# The compiler's own defaults (the port's baseline) are kept.  Test programs
# run under user-mode emulation (qemu-user) on a Cortex-A7 core.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7)
# Every other 32-bit ARM build is named armv6 (the name the Python binding
# looks for on any 32-bit ARM board); this one holds ARMv7-only code, so it is
# named apart and cannot be taken for the ARMv6 library.
set(VOQ_PROCESSOR_NAME armv7)

set(VOQ_CROSS_TRIPLE arm-linux-gnueabihf)
set(VOQ_CROSS_SYSROOT /usr/${VOQ_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${VOQ_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VOQ_CROSS_TRIPLE}-g++)

# 32-bit glibc keeps a 32-bit time_t unless asked; the 64-bit one carries the
# headset's clock past January 2038.  Everything built with this file (the
# test framework included) uses the same widths.
# -Wno-psabi: silences the notes on an ARM calling-convention change made in
# GCC 7.1, which cannot matter when everything is built by one compiler.
set(VOQ_CROSS_FLAGS "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi")
set(CMAKE_C_FLAGS_INIT "${VOQ_CROSS_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VOQ_CROSS_FLAGS}")

set(CMAKE_FIND_ROOT_PATH ${VOQ_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs see VOQ_EMULATOR=qemu-user in their environment: the
# emulator's translation of terminal settings knows line speeds only up to
# 460800 baud (a pseudo-terminal set to 921600 reads back 0 there), which a
# test of the line speed needs to know.
find_program(VOQ_QEMU_ARM NAMES qemu-arm qemu-arm-static)
if(VOQ_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOQ_QEMU_ARM} -L ${VOQ_CROSS_SYSROOT} -cpu cortex-a7
      -E VOQ_EMULATOR=qemu-user)
endif()
