# Shared part of the Debian cross toolchains: the including file sets
# VELMAR_TRIPLET (GNU triplet), VELMAR_DEB_ARCH (Debian architecture),
# VELMAR_CPU and VELMAR_QEMU first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VELMAR_CPU})
set(CMAKE_C_COMPILER ${VELMAR_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELMAR_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VELMAR_TRIPLET})

# Headers and libraries of the target come from the multiarch folders
# (/usr/include/TRIPLET, /usr/lib/TRIPLET); programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VELMAR_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config reads the target's .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR}
    "/usr/lib/${VELMAR_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# ctest runs every test program through qemu; the e2e support starts cli
# and vornd through the same command (VELMAR_EMULATOR, set by tests/).
# The programs load the multiarch libraries (libc6:ARCH, libstdc++6:ARCH,
# ...), all from one glibc build: with /usr/TRIPLET as the prefix, qemu
# would take the cross package's ld.so, whose version often differs from
# the multiarch libc.so.6 it then loads, and every thread start crashes.
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMAR_QEMU} -L /)

# The packages' dependencies are read with the target's objdump.
set(CMAKE_OBJDUMP /usr/bin/${VELMAR_TRIPLET}-objdump)
set(CMAKE_STRIP /usr/bin/${VELMAR_TRIPLET}-strip)
