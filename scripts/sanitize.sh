#!/usr/bin/env bash
# Builds with sanitizers and runs every test under them:
#   address,undefined (memory errors, leaks, undefined behaviour) into build-asan/
#   thread (data races) into build-tsan/
# Usage: scripts/sanitize.sh [asan|tsan]...   (both by default)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
suppressions="$PWD/scripts/tsan.supp"
leaks="$PWD/scripts/lsan.supp"
kinds=("$@")
((${#kinds[@]})) || kinds=(asan tsan)
for kind in "${kinds[@]}"; do
  case "$kind" in
    asan) dir=build-asan sanitize=address,undefined ;;
    tsan) dir=build-tsan sanitize=thread ;;
    *) echo "unknown sanitizer run: $kind" >&2; exit 2 ;;
  esac
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE="$sanitize" >/dev/null
  cmake --build "$dir"
  # The end-to-end tests run the sanitized program too.
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS="suppressions=$leaks" TSAN_OPTIONS="halt_on_error=1 suppressions=$suppressions" \
     ctest --output-on-failure -j"$(nproc)")
done
