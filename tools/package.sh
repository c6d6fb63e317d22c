#!/usr/bin/env bash
# Builds the Debian packages of the device software (packaging/make_packages.py)
# and checks them (packaging/test/packages_test.py: Package, Version,
# Architecture, stripped binaries, debug symbol packages, dependencies from the
# binaries, the library's symbols file and trigger, lintian without errors or
# hardening tags).
# Usage: tools/package.sh [native|arm ...]   (default: native arm)
# Output: build/packages/<package>_<version>_<arch>.deb, amd64 for native and
# armhf for arm, and <package>-dbgsym_<version>_<arch>.ddeb beside each one
# with binaries. Only the installed programs and libraries are built.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(native arm)
for p in "${presets[@]}"; do
  case "$p" in
    native|arm) ;;
    *) echo "usage: tools/package.sh [native|arm ...]" >&2; exit 1 ;;
  esac
done
for p in "${presets[@]}"; do
  echo "=== packages of preset $p ==="
  cmake --preset "$p"
  cmake --build --preset "$p" --target packaged
  python3 packaging/make_packages.py --build "build/$p" --out build/packages
  emulator=""
  [ "$p" = arm ] && emulator="qemu-arm -L /" # as in cmake/toolchain-armhf.cmake
  PYTHONPATH=tools/testing python3 packaging/test/packages_test.py --emulator "$emulator" --build "build/$p" \
    --packages build/packages
done
