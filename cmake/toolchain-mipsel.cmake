# Cross build for mipsel (32-bit little-endian MIPS, the gateway's CPU), with Debian's
# cross compiler and the target's multiarch libraries (scripts/cross-setup.sh mipsel
# installs both). Binaries run under qemu-user, so ctest and the test discovery work as
# on the build machine. scripts/cross-test.sh mipsel does it all.
#   cmake -S . -B build/mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(OZR_CROSS_TRIPLET mipsel-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
