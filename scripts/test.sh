#!/usr/bin/env bash
# Sets everything up, builds, and runs every test (unit and end-to-end).
# The same on the minimal FFmpeg, in its own build folder:
#   HALVERNSIGNET_FFMPEG=minimal BUILD_DIR=build-minimal bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j"$(nproc)" "$@"
