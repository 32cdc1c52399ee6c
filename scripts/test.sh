#!/usr/bin/env bash
# Sets everything up, builds, and runs every test (unit and end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
