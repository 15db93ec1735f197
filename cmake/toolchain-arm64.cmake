# Debian arm64 (64-bit ARMv8): crossbuild-essential-arm64.
set(VELMAR_TRIPLET aarch64-linux-gnu)
set(VELMAR_DEB_ARCH arm64)
set(VELMAR_CPU aarch64)
set(VELMAR_QEMU /usr/bin/qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
