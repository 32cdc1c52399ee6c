#!/usr/bin/env bash
# Builds with sanitizers and runs tests under them:
#   asan: address,undefined (memory errors, leaks, undefined behaviour) into
#         build-asan/, every test, end-to-end included
#   tsan: thread (data races) into build-tsan/, only what runs threads: the
#         tests of the item-load queue, of concurrent writers, copies (those
#         made ahead included), flushes and completions, the command line's
#         two threads for thousands of values, and the end-to-end texts (the
#         real program's load thread, 64 shares at once); only the binaries
#         those need are built
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
    asan) dir=build-asan sanitize=address,undefined targets=(all) tests="." ;;
    tsan) dir=build-tsan sanitize=thread targets=(platform_linux_extension_test platform_linux_files_test platform_linux_suite_test share_test app_test halvernsignet-share)
          tests="ItemLoadQueue|QueuedItemProvider|Concurren|ManyThreads|CopiesMadeAhead|SynchronizeSucceeds|ThousandsOfValues|e2e.test_texts_and_links" ;;
    *) echo "unknown sanitizer run: $kind" >&2; exit 2 ;;
  esac
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" --target "${targets[@]}"
  # The end-to-end tests run the sanitized program too.
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS="suppressions=$leaks" TSAN_OPTIONS="halt_on_error=1 suppressions=$suppressions" \
     ctest --output-on-failure -j"$(nproc)" -R "$tests")
done
