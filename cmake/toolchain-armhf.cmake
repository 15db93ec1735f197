# Debian armhf (32-bit ARMv7, hard float): crossbuild-essential-armhf.
set(VELMAR_TRIPLET arm-linux-gnueabihf)
set(VELMAR_DEB_ARCH armhf)
set(VELMAR_CPU arm)
set(VELMAR_QEMU /usr/bin/qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
