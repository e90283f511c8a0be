# Cross build for the device: 32-bit ARM Linux, hard-float, against a Debian 12 armhf root.
#
#   cmake -S . -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake \
#         -DFLOWTALLY_ARMHF_SYSROOT=/path/to/armhf-root
#
# FLOWTALLY_ARMHF_SYSROOT (or the environment variable of that name) names the root.
# FLOWTALLY_ARMHF_NEON=ON (the default) builds for the camera: ARMv7-A with NEON. OFF keeps the
# compiler's own armhf defaults (ARMv7-A, VFPv3-D16, no NEON), where the scalar branches of the
# algorithm code are compiled.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# The toolchain file is read again for every compiler check, where only these variables survive.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FLOWTALLY_ARMHF_SYSROOT FLOWTALLY_ARMHF_NEON)

if(NOT FLOWTALLY_ARMHF_SYSROOT AND DEFINED ENV{FLOWTALLY_ARMHF_SYSROOT})
  set(FLOWTALLY_ARMHF_SYSROOT "$ENV{FLOWTALLY_ARMHF_SYSROOT}")
endif()
if(NOT FLOWTALLY_ARMHF_SYSROOT OR NOT IS_DIRECTORY "${FLOWTALLY_ARMHF_SYSROOT}/usr/include")
  message(FATAL_ERROR "FLOWTALLY_ARMHF_SYSROOT must name a Debian 12 armhf root (scripts/run-tests-armhf.sh makes one); "
                      "it is '${FLOWTALLY_ARMHF_SYSROOT}'")
endif()
set(FLOWTALLY_ARMHF_SYSROOT "${FLOWTALLY_ARMHF_SYSROOT}" CACHE PATH "Debian 12 armhf root to build against")
if(NOT DEFINED FLOWTALLY_ARMHF_NEON)
  set(FLOWTALLY_ARMHF_NEON ON)
endif()
set(FLOWTALLY_ARMHF_NEON "${FLOWTALLY_ARMHF_NEON}" CACHE BOOL "Build for ARMv7-A with NEON (OFF: the compiler's armhf defaults)")

# -Wno-psabi: GCC's notes that parameter passing of some types changed in GCC 7.1 concern only
# code mixed with objects built before that release.
set(flowtally_arm_flags "-Wno-psabi")
if(FLOWTALLY_ARMHF_NEON)
  string(PREPEND flowtally_arm_flags "-march=armv7-a -mfpu=neon -mfloat-abi=hard ")
endif()
set(CMAKE_C_FLAGS_INIT "${flowtally_arm_flags}")
set(CMAKE_CXX_FLAGS_INIT "${flowtally_arm_flags}")

set(CMAKE_SYSROOT "${FLOWTALLY_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${FLOWTALLY_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the root's .pc files and prefixes their paths with the root.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR}
    "${FLOWTALLY_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${FLOWTALLY_ARMHF_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${FLOWTALLY_ARMHF_SYSROOT}")

# Built programs run here through qemu-user when it is installed (tests, test discovery).
find_program(FLOWTALLY_QEMU_ARM qemu-arm)
if(FLOWTALLY_QEMU_ARM AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${FLOWTALLY_QEMU_ARM};-L;${FLOWTALLY_ARMHF_SYSROOT}")
endif()
