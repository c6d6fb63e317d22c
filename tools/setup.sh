#!/usr/bin/env bash
# First command on a fresh machine: installs every dependency, builds the
# host preset and runs the main job, the unit-test program with all its
# registered tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh
cmake --preset native
cmake --build --preset native
./build/native/functional/audio/voxaim/voxaim_unittest --runall
