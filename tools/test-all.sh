#!/usr/bin/env bash
# Builds and runs every test of every preset: host, sanitizers, and the
# device target (ARM, cross-compiled, run under qemu-arm).
# Usage: tools/test-all.sh [preset ...]   (default: native sanitize arm)
set -euo pipefail
ulimit -S -c 0   # no core files from death tests; tests that need cores raise their own limit
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(native sanitize arm)

# The arm preset's board tests need the board's Debian image, which needs
# nothing of the build: it is made from the start, alongside the presets
# before it (its downloads and its emulation fill the time their builds and
# tests leave a core idle). The test board_image then finds it made, or
# waits for it (tools/board/image.py takes turns through a lock) and makes it
# itself if this run failed. The folder is the arm preset's <build>/board.
image_pid=
if [[ " ${presets[*]} " == *" arm "* ]]; then
  mkdir -p build/arm/board
  echo "=== board image: made in the background, log in build/arm/board/image.log ==="
  setsid python3 tools/board/image.py --board-dir build/arm/board >build/arm/board/image.log 2>&1 &
  image_pid=$!
  trap '[ -z "$image_pid" ] || kill -- -"$image_pid" 2>/dev/null || true' EXIT
fi

status=0
for p in "${presets[@]}"; do
  echo "=== preset $p ==="
  if ! cmake --workflow --preset "$p"; then
    echo "=== preset $p FAILED ==="
    status=1
  fi
done
if [ -n "$image_pid" ]; then
  wait "$image_pid" || echo "=== board image made in the background FAILED: see build/arm/board/image.log ==="
  grep -h "^board: image" build/arm/board/image.log || true
  image_pid=
fi
exit $status
