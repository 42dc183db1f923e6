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

set(VOQ_CROSS_ARCH_FLAGS "")
set(VOQ_QEMU_CPU cortex-a7)
include(${CMAKE_CURRENT_LIST_DIR}/ArmCross.cmake)
