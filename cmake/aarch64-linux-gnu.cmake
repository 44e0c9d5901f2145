# Cross build for arm64 on a Debian amd64 system with multiarch: the target's
# libraries (qtbase5-dev:arm64, ...) and pkg-config, the host's moc, rcc and
# uic (Qt's CMake files point at /usr/lib/qt5/bin, where the host's are).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for the target")
# The package's Architecture field (cpack asks dpkg, which answers amd64).
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
