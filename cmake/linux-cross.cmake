# Cross-compiles for another Linux architecture with Debian's cross
# compilers (g++-aarch64-linux-gnu, g++-s390x-linux-gnu, g++-i686-linux-gnu,
# ...); test programs run under qemu-user with the cross C library, 32-bit
# x86 ones natively.
#   -DBOXWALK_CROSS_TARGET=aarch64-linux-gnu (the compiler's prefix)
if(NOT BOXWALK_CROSS_TARGET)
  message(FATAL_ERROR "set BOXWALK_CROSS_TARGET to a GNU triplet such as aarch64-linux-gnu")
endif()
# try_compile projects read this toolchain file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BOXWALK_CROSS_TARGET)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${BOXWALK_CROSS_TARGET})
set(CMAKE_C_COMPILER ${BOXWALK_CROSS_TARGET}-gcc)
set(CMAKE_CXX_COMPILER ${BOXWALK_CROSS_TARGET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${BOXWALK_CROSS_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A 32-bit x86 program runs on an x86-64 host as it is (linked statically,
# it needs no loader of its own).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$" AND CMAKE_HOST_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(BOXWALK_NATIVE ON)
endif()
if(NOT CMAKE_CROSSCOMPILING_EMULATOR AND NOT BOXWALK_NATIVE)
  find_program(BOXWALK_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR})
  if(BOXWALK_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BOXWALK_QEMU} -L /usr/${BOXWALK_CROSS_TARGET})
  endif()
endif()
