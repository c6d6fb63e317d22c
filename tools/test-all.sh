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
status=0
for p in "${presets[@]}"; do
  echo "=== preset $p ==="
  if ! cmake --workflow --preset "$p"; then
    echo "=== preset $p FAILED ==="
    status=1
  fi
done
exit $status
