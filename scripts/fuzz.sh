#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on) and runs each for a while, then says how many inputs it ran.
# Usage: [FUZZ_SANITIZE=undefined] [FUZZ_FFMPEG=minimal] scripts/fuzz.sh [SECONDS_PER_TARGET [TARGET...]]
#   (60 s, every target; FUZZ_SANITIZE picks other sanitizers, in build-fuzz-<them>/;
#   FUZZ_FFMPEG=minimal links the movie target against the minimal FFmpeg built
#   with clang and the fuzzer's coverage flags, cached like the plain one, so
#   coverage reaches inside the decoders the program ships; in <dir>-minimal/;
#   it needs what `HALVERNSIGNET_FFMPEG=minimal scripts/setup.sh` installs)
# The movie target runs ~10x faster under UBSan alone: each input makes FFmpeg
# allocate ~1 MiB of decoder state, which ASan maps afresh every time. FFmpeg
# gets the coverage flags (not the sanitizers) only with FUZZ_FFMPEG=minimal.
# The long runs are
#   scripts/fuzz.sh 900 manifest_fuzzer container_name_fuzzer suite_payload_fuzzer
#   FUZZ_FFMPEG=minimal scripts/fuzz.sh 900 movie_fuzzer
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift $(($# > 0 ? 1 : 0))
bash scripts/setup.sh >/dev/null
command -v clang++ >/dev/null || apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
sanitize="${FUZZ_SANITIZE:-address,undefined}"
dir=build-fuzz
[ "$sanitize" = "address,undefined" ] || dir="build-fuzz-${sanitize//,/-}"
ffmpeg="${FUZZ_FFMPEG:-system}"
[ "$ffmpeg" = system ] || dir="$dir-$ffmpeg"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DFUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVERNSIGNET_FFMPEG="$ffmpeg" \
  -DFUZZ_SANITIZE="$sanitize" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,$sanitize" >/dev/null
targets="${*:-$(cd fuzz && ls *_fuzzer.cc | sed 's/\.cc$//')}"
cmake --build "$dir" --target $targets make_test_movie
# Small movies of our own make are the movie fuzzer's starting points.
mkdir -p "$dir/corpus/movie_fuzzer"
for spec in "tiny.mp4 --width 64 --height 48 --seconds 1 --fps 5" "turned.mov --width 48 --height 32 --seconds 1 --fps 4 --rotate 90" \
            "mpeg4.mp4 --width 32 --height 32 --seconds 1 --fps 4 --codec mpeg4"; do
  set -- $spec
  out="$dir/corpus/movie_fuzzer/$1"; shift
  [ -f "$out" ] || "$dir/make_test_movie" "$out" "$@" >/dev/null
done
for target in $targets; do
  corpus="$dir/corpus/$target"
  mkdir -p "$corpus"
  seeds="fuzz/seeds/$target"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  log="$dir/$target.log"
  echo "== $target, ${seconds}s (log: $log)"
  if ! "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
       "$corpus" >"$log" 2>&1; then
    tail -n 40 "$log"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$log"
done
