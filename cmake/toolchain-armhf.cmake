# Cross build for armhf (arm-linux-gnueabihf) with Debian's cross compiler; tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# scripts/cross-test.sh unpacks the target's expat and zlib into INFOSERVICE_SYSROOT; it is linked
# statically, so the test binaries need nothing under qemu beyond the cross C++ runtime.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf ${INFOSERVICE_SYSROOT})
set(EXPAT_INCLUDE_DIR ${INFOSERVICE_SYSROOT}/usr/include CACHE PATH "")
set(EXPAT_LIBRARY ${INFOSERVICE_SYSROOT}/usr/lib/arm-linux-gnueabihf/libexpat.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR ${INFOSERVICE_SYSROOT}/usr/include CACHE PATH "")
set(ZLIB_LIBRARY ${INFOSERVICE_SYSROOT}/usr/lib/arm-linux-gnueabihf/libz.a CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# -L makes qemu find the target's dynamic loader and libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L /usr/arm-linux-gnueabihf)
