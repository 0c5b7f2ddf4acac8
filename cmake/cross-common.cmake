# What every cross toolchain file shares; OZR_CROSS_TRIPLET names the target.
set(CMAKE_C_COMPILER ${OZR_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OZR_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${OZR_CROSS_TRIPLET})

# The target's libraries (C library, libstdc++, libuv, libfmt, libhttp_parser, sd-bus,
# OpenSSL, GoogleTest and what they link against) are unpacked from their Debian packages
# into a sysroot by scripts/cross-setup.sh <arch>, never installed. The C library headers
# and start files still come from the cross compiler's own tree (/usr/<triplet>), which
# the compiler finds by itself.
if(NOT OZR_CROSS_SYSROOT)
  if(DEFINED ENV{OZR_CROSS_SYSROOT})
    set(OZR_CROSS_SYSROOT $ENV{OZR_CROSS_SYSROOT})
  else()
    get_filename_component(OZR_CROSS_SYSROOT
                           "${CMAKE_CURRENT_LIST_DIR}/../build/${CMAKE_SYSTEM_PROCESSOR}-sysroot" ABSOLUTE)
  endif()
endif()
set(OZR_CROSS_SYSROOT ${OZR_CROSS_SYSROOT} CACHE PATH "the target's libraries (scripts/cross-setup.sh)")
if(NOT EXISTS ${OZR_CROSS_SYSROOT}/usr/lib/${OZR_CROSS_TRIPLET})
  message(FATAL_ERROR "no ${CMAKE_SYSTEM_PROCESSOR} sysroot in ${OZR_CROSS_SYSROOT}: "
                      "run scripts/cross-setup.sh ${CMAKE_SYSTEM_PROCESSOR}")
endif()
# try_compile() projects get the same toolchain file and need the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OZR_CROSS_SYSROOT)
set(_ozr_libdir ${OZR_CROSS_SYSROOT}/usr/lib/${OZR_CROSS_TRIPLET})

# Libraries and packages of the target only: the sysroot, then the cross compiler's own
# tree; headers found by find_path() may also come from the shared /usr/include
# (rapidjson, header only).
set(CMAKE_FIND_ROOT_PATH ${OZR_CROSS_SYSROOT} /usr/${OZR_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
    /usr/lib/x86_64-linux-gnu/cmake /usr/include/x86_64-linux-gnu)

# The sysroot's headers come before the build machine's /usr/include, which the cross
# compiler searches too (its OpenSSL headers are another version, for another CPU).
set(_ozr_includes "-isystem ${OZR_CROSS_SYSROOT}/usr/include/${OZR_CROSS_TRIPLET} -isystem ${OZR_CROSS_SYSROOT}/usr/include")
set(CMAKE_C_FLAGS_INIT "${_ozr_includes}")
set(CMAKE_CXX_FLAGS_INIT "${_ozr_includes}")
# Shared libraries in the sysroot need others from there (libsystemd: liblzma, libzstd,
# liblz4, libcap, libgcrypt, ...); the linker finds them through -rpath-link.
foreach(_kind EXE SHARED MODULE)
  set(CMAKE_${_kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_ozr_libdir}")
endforeach()

# pkg-config reads the target's .pc files and prefixes their paths with the sysroot.
set(ENV{PKG_CONFIG_LIBDIR} ${_ozr_libdir}/pkgconfig:${OZR_CROSS_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${OZR_CROSS_SYSROOT})
set(ENV{PKG_CONFIG_PATH} "")

# The target's programs (tests, test discovery) run under qemu-user with the sysroot as
# their root for the dynamic loader and the libraries: the C library unpacked there is
# the build the other libraries come with (the cross compiler's older copy in
# /usr/<triplet> makes a forked child crash). LD_LIBRARY_PATH names the library folder
# for programs that reach it by another path.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L ${OZR_CROSS_SYSROOT} -E
                                  LD_LIBRARY_PATH=${_ozr_libdir})
