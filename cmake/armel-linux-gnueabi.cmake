# Cross-building the Linux host for Debian's armel (ARMv5TE, soft float): the processor class of
# the hand-helds, where char is unsigned and size_t, long and pointers are 32 bits. Debian's
# cross compiler builds against a sysroot of armel's -dev packages (scripts/build-armel.sh makes
# it), named by FERROVAN_ARMEL_SYSROOT.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(armel_triplet arm-linux-gnueabi)
set(CMAKE_C_COMPILER ${armel_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${armel_triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${armel_triplet})
# GCC's notes that the ARM calling convention of some templates changed in GCC 7.1 concern only
# linking with code built by older compilers, which nothing here is.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

if(NOT FERROVAN_ARMEL_SYSROOT)
  set(FERROVAN_ARMEL_SYSROOT "$ENV{FERROVAN_ARMEL_SYSROOT}")
endif()
if(NOT IS_DIRECTORY "${FERROVAN_ARMEL_SYSROOT}/usr/include")
  message(FATAL_ERROR "No armel sysroot at '${FERROVAN_ARMEL_SYSROOT}': scripts/build-armel.sh "
                      "makes one; or name it with -DFERROVAN_ARMEL_SYSROOT=")
endif()
# Handed on to the compiler checks CMake runs while it reads this file.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FERROVAN_ARMEL_SYSROOT)
set(CMAKE_SYSROOT ${FERROVAN_ARMEL_SYSROOT})

set(CMAKE_FIND_ROOT_PATH ${CMAKE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config and the toolkit's fltk-config read the sysroot's descriptions, not the machine's.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${CMAKE_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_SYSROOT}/usr/lib/${armel_triplet}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
set(FERROVAN_FLTK_CONFIG ${CMAKE_SYSROOT}/usr/bin/${armel_triplet}-fltk-config CACHE FILEPATH "")

# The tests start the built programs; under qemu-user they find the armel libraries here.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L ${CMAKE_SYSROOT})
