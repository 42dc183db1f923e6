# Cross-compiles for 32-bit ARMv6 Linux with the soft-float ABI (Debian's
# "armel" port, compiler package crossbuild-essential-armel), producing
# libVOQ-Linux-armv6.so.
#
#   cmake -S . -B build-armel -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armv6-linux-gnueabi.cmake
#
# The code is generated for ARMv6 cores with a VFP unit (ARM1176JZF-S and
# alike) while keeping the soft-float calling convention, so it links with and
# runs on an unmodified armel system.  Set VOQ_ARMV6_FLOAT_FLAGS to
# "-mfloat-abi=soft" for cores without a floating-point unit, or to
# "-mfpu=vfp -mfloat-abi=hard" with a hard-float ARMv6 toolchain.
#
# Test programs run under user-mode emulation (qemu-user) on an ARM1176 core,
# so an instruction that ARMv6 lacks stops the run instead of passing.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv6)

# Another ARMv6 toolchain (a hard-float one, say) is chosen with
# -DVOQ_CROSS_TRIPLE=<its prefix> and, where its libraries are not in
# /usr/<prefix>, -DVOQ_CROSS_SYSROOT=<their root>.
if(NOT DEFINED VOQ_CROSS_TRIPLE)
  set(VOQ_CROSS_TRIPLE arm-linux-gnueabi)
endif()
if(NOT DEFINED VOQ_CROSS_SYSROOT)
  set(VOQ_CROSS_SYSROOT /usr/${VOQ_CROSS_TRIPLE})
endif()

if(NOT DEFINED VOQ_ARMV6_FLOAT_FLAGS)
  set(VOQ_ARMV6_FLOAT_FLAGS "-mfpu=vfp -mfloat-abi=softfp")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VOQ_ARMV6_FLOAT_FLAGS VOQ_CROSS_TRIPLE VOQ_CROSS_SYSROOT)
set(VOQ_CROSS_ARCH_FLAGS "-march=armv6 -marm ${VOQ_ARMV6_FLOAT_FLAGS}")
set(VOQ_QEMU_CPU arm1176)
include(${CMAKE_CURRENT_LIST_DIR}/ArmCross.cmake)

# Each emulated program is held on one host processor, as on the single-core
# ARM1176 boards: the emulator treats the ARMv6 memory barrier (a CP15
# operation) as a no-op, so the threads of one program spread over several
# host processors would see each other's stores out of order where real
# hardware would not (seen with qemu 7.2 on x86-64: lock-free hand-offs
# between two threads then fail at random).  The processor is picked from the
# process id, so that tests run side by side spread over the host's
# processors; where that one is not allowed, the current one is kept.
find_program(VOQ_TASKSET NAMES taskset)
if(VOQ_QEMU_ARM)
  if(VOQ_TASKSET)
    # A small launcher in the build directory (build rules cannot carry the
    # shell's $ signs).
    set(VOQ_ONE_PROCESSOR "${CMAKE_BINARY_DIR}/run-on-one-processor")
    file(WRITE "${VOQ_ONE_PROCESSOR}" [=[#!/bin/sh
# Runs a command held on one host processor (see the ARMv6 toolchain file).
cpu=$(( $$ % $(nproc) ))
if ! taskset -c "$cpu" true >/dev/null 2>&1; then
  cpu=$(cut -d' ' -f39 /proc/$$/stat)
fi
exec taskset -c "$cpu" "$@"
]=])
    file(CHMOD "${VOQ_ONE_PROCESSOR}" PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VOQ_ONE_PROCESSOR} ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
endif()
