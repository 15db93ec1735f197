# .deb packages, one per component. Dependencies on system libraries come
# from dpkg-shlibdeps; those between our own packages are pinned to the
# version built together.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmar)
set(CPACK_PACKAGE_VENDOR "Velmar")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_CONTACT "Velmar CLI developers <cli@velmar.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli vornd lib dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")

# A cross build's packages are of the target's architecture, and
# dpkg-shlibdeps reads their libraries with the target's objdump and the
# target's symbols files; it learns both from the environment of cpack.
if(VELMAR_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VELMAR_DEB_ARCH})
  set(cross ${CMAKE_BINARY_DIR}/cpack-cross.cmake)
  file(WRITE ${cross} "set(ENV{DEB_HOST_ARCH} ${VELMAR_DEB_ARCH})\n"
                      "set(ENV{OBJDUMP} ${CMAKE_OBJDUMP})\n")
  set(CPACK_PROJECT_CONFIG_FILE ${cross})
endif()

set(VELMAR_DEB_VERSION ${PROJECT_VERSION}.0)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME velmar-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libvornal2-2 (= ${VELMAR_DEB_VERSION})")
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "command-line shell of the Velmar device configuration\n\
cli reads and changes the device's configuration, kept by the vornd\n\
daemon: on a terminal with a prompt, history, completion and help texts,\n\
or from scripts with exit statuses that tell what failed.")

set(CPACK_DEBIAN_VORND_PACKAGE_NAME vornd)
set(CPACK_DEBIAN_VORND_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_VORND_DESCRIPTION
    "configuration daemon of the Velmar device\n\
vornd holds the device's configuration model, serves one logged-in\n\
session at a time over a Unix socket (and TCP when asked), and commits\n\
changes atomically to its store.")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libvornal2-2)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIB_DESCRIPTION
    "client library of the vornd configuration daemon\n\
libvornal2 connects to vornd, sends requests with bounded waits and keeps\n\
the connection alive with no-ops.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvornal2-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libvornal2-2 (= ${VELMAR_DEB_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "client library of the vornd configuration daemon (development files)\n\
The header, the pkg-config file and the manual page of libvornal2.")

# Files under /etc are the administrator's: dpkg keeps their edits. The
# library asks for ldconfig by trigger.
set(CTRL ${CMAKE_CURRENT_BINARY_DIR}/control)
file(WRITE ${CTRL}/cli/conffiles "/etc/zarcli/motd\n")
file(WRITE ${CTRL}/vornd/conffiles "/etc/vornd/users\n")
file(WRITE ${CTRL}/lib/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${CTRL}/cli/conffiles)
set(CPACK_DEBIAN_VORND_PACKAGE_CONTROL_EXTRA ${CTRL}/vornd/conffiles)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CTRL}/lib/triggers)

include(CPack)
