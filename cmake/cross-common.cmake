# What every cross toolchain file shares; OZR_CROSS_TRIPLET names the target.
set(CMAKE_C_COMPILER ${OZR_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OZR_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${OZR_CROSS_TRIPLET})

# Libraries and packages of the target only: its multiarch folders and the cross
# compiler's own tree; headers may come from the shared /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/${OZR_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
    /usr/lib/x86_64-linux-gnu/cmake)
# pkg-config reads the target's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${OZR_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The target's programs (tests, test discovery) run under qemu-user, which finds the
# target's dynamic loader and libraries in their multiarch places (libc6:<arch>,
# libstdc++6:<arch>). Not "-L /usr/<triplet>": the cross compiler's own copy of the C
# library there is an older build than the multiarch one the other libraries come with,
# and a child process of a program started that way crashes right after fork().
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR})
