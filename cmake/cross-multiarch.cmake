# Cross build against Debian multiarch: the target's libraries and pkg-config
# files from /usr/lib/<triplet> (or from a root given by VT_CROSS_SYSROOT), the
# build machine's moc and rcc (qtbase5-dev-tools).
#   VT_CROSS_TRIPLET   target triplet (aarch64-linux-gnu)
#   VT_CROSS_PROCESSOR CMAKE_SYSTEM_PROCESSOR (the triplet's first part)
#   VT_CROSS_SYSROOT   a root holding the target's libraries (none: this system)
#   VT_CROSS_EMULATOR  runs the target's programs, e.g. "qemu-aarch64-static"
# Read from the environment so that one file serves every architecture.
set(_triplet "$ENV{VT_CROSS_TRIPLET}")
if(NOT _triplet)
  set(_triplet aarch64-linux-gnu)
endif()
string(REGEX REPLACE "-.*" "" _processor "${_triplet}")
if(DEFINED ENV{VT_CROSS_PROCESSOR})
  set(_processor "$ENV{VT_CROSS_PROCESSOR}")
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${_processor})
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})
set(CMAKE_C_COMPILER ${_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_triplet}-g++)

set(_sysroot "$ENV{VT_CROSS_SYSROOT}")
if(_sysroot)
  set(CMAKE_SYSROOT ${_sysroot})
  set(CMAKE_FIND_ROOT_PATH ${_sysroot})
  set(_pc_root ${_sysroot})
else()
  set(_pc_root "")
endif()
# Programs (moc, rcc, pkg-config) are the build machine's; libraries, headers
# and packages only the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(NOT _sysroot)
  # Without a separate root the target's files sit in this system's /usr.
  set(CMAKE_FIND_ROOT_PATH /)
endif()

# pkg-config sees only the target's .pc files (plus PKG_CONFIG_PATH).
set(ENV{PKG_CONFIG_LIBDIR} "${_pc_root}/usr/lib/${_triplet}/pkgconfig:${_pc_root}/usr/share/pkgconfig")
if(_sysroot)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${_sysroot})
endif()

if(DEFINED ENV{VT_CROSS_EMULATOR} AND NOT "$ENV{VT_CROSS_EMULATOR}" STREQUAL "")
  separate_arguments(CMAKE_CROSSCOMPILING_EMULATOR UNIX_COMMAND "$ENV{VT_CROSS_EMULATOR}")
endif()

# The package's Architecture field: cpack would ask dpkg for the build
# machine's.
execute_process(COMMAND dpkg-architecture -t${_triplet} -qDEB_HOST_ARCH
  OUTPUT_VARIABLE _deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(_deb_arch)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_deb_arch})
endif()
