#!/usr/bin/env bash
# Builds the Debian packages of the device software with dpkg-buildpackage
# from their source package, packaging/debian, and checks them
# (packaging/test/packages_test.py).
#
# Usage: tools/package.sh [native|arm ...]   (default: native arm)
#   A build from scratch for amd64 (native) or armhf (arm, Debian's cross
#   tools), tests off, in build/deb/<arch>; the packages go to build/packages.
#        tools/package.sh --tree <build folder> --arch <arch> --out <folder>
#   The packages of a configured build folder of that architecture (a
#   preset's), made from it: nothing is configured or compiled again. No
#   checks (packages_test makes them so and checks them).
#
# dpkg-buildpackage wants debian/ at the top of the source: the tree is
# staged in <work>/voxaim-device as links to the checkout's top-level entries
# and a copy of packaging/debian as debian/. The packages are
# <package>_<version>_<arch>.deb, and <package>-dbgsym_<version>_<arch>.ddeb
# beside each one with binaries.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

# build_packages WORK ARCH OUT [BUILD TREE]
build_packages() {
  local work=$1 arch=$2 out=$3 tree=${4:-}
  local src=$work/voxaim-device
  rm -rf "$work"
  mkdir -p "$src" "$out"
  for entry in "$top"/* "$top"/.[!.]*; do
    case "$(basename "$entry")" in
      .git|build|debian) ;;
      *) [ -e "$entry" ] && ln -s "$entry" "$src/" ;;
    esac
  done
  cp -a "$top/packaging/debian" "$src/debian"
  local options=(-b -us -uc)
  [ "$arch" = "$(dpkg --print-architecture)" ] || options+=("-a$arch")
  (cd "$src" && VX_BUILD_TREE=$tree DEB_BUILD_OPTIONS="parallel=2 nocheck ${DEB_BUILD_OPTIONS:-}" \
     dpkg-buildpackage "${options[@]}")
  local made
  made=$(cd "$work" && ls -- *.deb *.ddeb 2>/dev/null || true)
  [ -n "$made" ] || { echo "package.sh: dpkg-buildpackage made no package in $work" >&2; return 1; }
  for f in $made; do
    mv -f "$work/$f" "$out/"
    echo "made $out/$f"
  done
}

if [ "${1:-}" = --tree ]; then
  [ $# -eq 6 ] && [ "$3" = --arch ] && [ "$5" = --out ] ||
    { echo "usage: tools/package.sh --tree <build folder> --arch <arch> --out <folder>" >&2; exit 1; }
  tree=$(realpath "$2")
  build_packages "$tree/deb" "$4" "$(realpath -m "$6")" "$tree"
  exit 0
fi

presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(native arm)
for p in "${presets[@]}"; do
  case "$p" in
    native|arm) ;;
    *) echo "usage: tools/package.sh [native|arm ...]" >&2; exit 1 ;;
  esac
done
bash tools/setup-deps.sh
for p in "${presets[@]}"; do
  arch=amd64 emulator=""
  if [ "$p" = arm ]; then
    arch=armhf emulator="qemu-arm -L /" # as in cmake/toolchain-armhf.cmake
  fi
  echo "=== packages for $arch ($p) ==="
  rm -f build/packages/*_"$arch".deb build/packages/*_"$arch".ddeb
  build_packages "build/deb/$arch" "$arch" build/packages
  PYTHONPATH=tools/testing python3 packaging/test/packages_test.py --emulator "$emulator" --arch "$arch" \
    --source . --packages build/packages
done
if [[ " ${presets[*]} " == *" native "* && " ${presets[*]} " == *" arm "* ]]; then
  echo "=== libvoxaim1 and libvoxaim-dev of amd64 and armhf side by side ==="
  PYTHONPATH=tools/testing python3 packaging/test/multiarch_test.py --emulator "qemu-arm -L /" \
    --packages build/packages --native-packages build/packages --consumer "$top/packaging/test/consumer" \
    --toolchain "$top/cmake/toolchain-armhf.cmake" --cc arm-linux-gnueabihf-gcc
fi
