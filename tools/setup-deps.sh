#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need,
# for the host (x86_64) and for the device target (armhf, cross-compiled and
# run under qemu-arm, and on the emulated board under qemu-system-arm). Safe
# to run any number of times: it does nothing when everything is already
# present. The board's kernel (linux-image-armmp:armhf) and busybox-static:armhf
# are not installed: the board tests download and unpack them into the build
# tree (tools/board/parts.py). The board's Debian image is made with
# debootstrap (first stage on the host, second on the board) and mke2fs.
# The Debian packages are built with dpkg-buildpackage and debhelper (the
# build dependencies of packaging/debian/control, :armhf ones for the cross
# build with crossbuild-essential-armhf and the armhf pkg-config wrapper).
set -euo pipefail

host_pkgs=(
  build-essential cmake ninja-build pkg-config git python3
  libgtest-dev googletest libbenchmark-dev libfftw3-dev
  libudev-dev libunwind-dev libsystemd-dev
  umockdev libumockdev-dev
  gdb gdb-multiarch clang libclang-rt-14-dev
  util-linux procps
  alsa-utils sox python3-numpy python3-scipy
  libsndfile1-dev libasound2-dev python3-matplotlib libcpp-httplib-dev
  chromium chromium-driver python3-selenium
  g++-arm-linux-gnueabihf qemu-user libglib2.0-dev
  qemu-system-arm device-tree-compiler binutils
  dpkg-dev file lintian man-db systemd
  debhelper dh-python bash-completion crossbuild-essential-armhf
  debootstrap debian-archive-keyring e2fsprogs
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  pybind11-dev python3-dev python3-pytest python3-soundfile
)
arm_pkgs=(libudev-dev:armhf libunwind-dev:armhf libsystemd-dev:armhf libc6:armhf libstdc++6:armhf
          libsndfile1-dev:armhf libasound2-dev:armhf libfftw3-dev:armhf libcpp-httplib-dev:armhf
          libne10-dev:armhf pkg-config:armhf libpython3-dev:armhf
          libgstreamer1.0-dev:armhf libgstreamer-plugins-base1.0-0:armhf)
# GStreamer's check library (GstHarness) is in libgstreamer1.0-dev. Debian 12's
# libgstreamer-plugins-base1.0-dev is not co-installable across architectures
# (installing the :armhf one removes the host's): the device build takes its
# headers from the host's package and links the :armhf libraries
# (functional/audio/voxaim/gstreamer/CMakeLists.txt).

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

missing=()
dpkg --print-foreign-architectures | grep -qx armhf || missing+=(arch:armhf)
for p in "${host_pkgs[@]}" "${arm_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup-deps: all packages present"
  exit 0
fi
echo "setup-deps: installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO dpkg --add-architecture armhf
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${host_pkgs[@]}" "${arm_pkgs[@]}"
