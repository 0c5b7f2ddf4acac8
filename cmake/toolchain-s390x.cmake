# Cross build for s390x (64-bit big-endian IBM Z: byte-order faults show up here), with Debian's
# cross compiler and the target's multiarch libraries (scripts/cross-setup.sh s390x
# installs both). Binaries run under qemu-user, so ctest and the test discovery work as
# on the build machine. scripts/cross-test.sh s390x does it all.
#   cmake -S . -B build/s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(OZR_CROSS_TRIPLET s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
