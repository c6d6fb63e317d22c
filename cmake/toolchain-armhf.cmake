# The device target: 32-bit ARM, hard-float ABI, glibc, NEON.
# Programs are cross-compiled with Debian's arm-linux-gnueabihf toolchain and
# run under qemu-arm; the armhf multiarch libraries (libudev, libunwind) come
# from the :armhf packages installed by tools/setup-deps.sh.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")

# The emulated programs use the armhf multiarch C library and loader
# (libc6:armhf, /lib/ld-linux-armhf.so.3), not the cross sysroot's copy: with
# the latter, a fork()ed child crashes under qemu-arm.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
