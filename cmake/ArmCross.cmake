# What the 32-bit ARM toolchain files share: included by each after it has
# set VOQ_CROSS_TRIPLE, VOQ_CROSS_SYSROOT, VOQ_CROSS_ARCH_FLAGS (code
# generation; may be empty for the port's own baseline) and VOQ_QEMU_CPU (the
# core the emulator runs test programs on).

set(CMAKE_C_COMPILER ${VOQ_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VOQ_CROSS_TRIPLE}-g++)

# 32-bit glibc keeps a 32-bit time_t unless asked; the 64-bit one carries the
# headset's clock past January 2038.  Everything built with these files (the
# test framework included) uses the same widths.
# -Wno-psabi: silences the notes on an ARM calling-convention change made in
# GCC 7.1, which cannot matter when everything is built by one compiler.
string(STRIP "${VOQ_CROSS_ARCH_FLAGS} -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi" VOQ_CROSS_FLAGS)
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
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOQ_QEMU_ARM} -L ${VOQ_CROSS_SYSROOT} -cpu ${VOQ_QEMU_CPU}
      -E VOQ_EMULATOR=qemu-user)
endif()
