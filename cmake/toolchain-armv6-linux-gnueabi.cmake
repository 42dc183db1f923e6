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

set(CMAKE_C_COMPILER ${VOQ_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VOQ_CROSS_TRIPLE}-g++)

if(NOT DEFINED VOQ_ARMV6_FLOAT_FLAGS)
  set(VOQ_ARMV6_FLOAT_FLAGS "-mfpu=vfp -mfloat-abi=softfp")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VOQ_ARMV6_FLOAT_FLAGS VOQ_CROSS_TRIPLE VOQ_CROSS_SYSROOT)
# 32-bit glibc keeps a 32-bit time_t unless asked; the 64-bit one carries the
# headset's clock past January 2038.  Everything built with this file (the
# test framework included) uses the same widths.
# -Wno-psabi: silences the notes on an ARM calling-convention change made in
# GCC 7.1, which cannot matter when everything is built by one compiler.
set(VOQ_CROSS_FLAGS "-march=armv6 -marm ${VOQ_ARMV6_FLOAT_FLAGS} -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi")
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
#
# Each emulated program is held on one host processor, as on the single-core
# ARM1176 boards: the emulator treats the ARMv6 memory barrier (a CP15
# operation) as a no-op, so the threads of one program spread over several
# host processors would see each other's stores out of order where real
# hardware would not (seen with qemu 7.2 on x86-64: lock-free hand-offs
# between two threads then fail at random).  The processor is picked from the
# process id, so that tests run side by side spread over the host's
# processors; where that one is not allowed, the current one is kept.
find_program(VOQ_QEMU_ARM NAMES qemu-arm qemu-arm-static)
find_program(VOQ_TASKSET NAMES taskset)
if(VOQ_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOQ_QEMU_ARM} -L ${VOQ_CROSS_SYSROOT} -cpu arm1176
      -E VOQ_EMULATOR=qemu-user)
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
