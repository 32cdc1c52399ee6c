#!/usr/bin/env bash
# Compares sharing files with copying them by hand (cp, then sync of the
# copies), in alternating runs on one file system:
#   (a) one 1 GiB file        (b) 500 files of 200 KiB
# and reports the peak memory of sharing a 2 GiB file.
#
# Environment:
#   SHARE_COMMAND  program under test plus the option put before each file
#                  (default "build/halvernsignet-share --file"; a last word
#                  not starting with "-" means files are passed bare)
#   BENCH_DIR      where the test files go (default /var/tmp); it should be
#                  on the same file system as the copies
#   N              runs per case (default 5)
#   KEEP_INPUTS=1  keep the generated input files for a later run
set -euo pipefail

SHARE_COMMAND=${SHARE_COMMAND:-build/halvernsignet-share --file}
N=${N:-5}
BASE=${BENCH_DIR:-/var/tmp}
read -r -a share_words <<<"$SHARE_COMMAND"
file_flag=""
if [[ ${#share_words[@]} -gt 1 && ${share_words[-1]} == -* ]]; then
  file_flag=${share_words[-1]}
  unset 'share_words[-1]'
fi
if [[ ! -x ${share_words[0]} ]] && ! command -v "${share_words[0]}" >/dev/null; then
  echo "copy_bench: ${share_words[0]} is not there; build it or set SHARE_COMMAND" >&2
  exit 2
fi

work=$(mktemp -d "$BASE/copy-bench.XXXXXX")
cleanup() {
  if [[ ${KEEP_INPUTS:-0} == 1 ]]; then rm -rf "$work/run"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Random-ish data: urandom is too slow for a GiB, so repeat a random MiB
# with a counter stamped into every 4 KiB (no two blocks alike, nothing a
# file system could deduplicate or compress away easily).
echo "copy_bench: making inputs in $work" >&2
mkdir -p "$work/in/many"
head -c 1M /dev/urandom >"$work/seed"
python3 - "$work/seed" "$work/in/big" 1024 <<'PY'
import sys
seed = open(sys.argv[1], 'rb').read()
with open(sys.argv[2], 'wb') as out:
    for mib in range(int(sys.argv[3])):
        chunk = bytearray(seed)
        for block in range(0, len(chunk), 4096):
            chunk[block:block + 8] = (mib * 256 + block // 4096).to_bytes(8, 'little')
        out.write(chunk)
PY
head -c $((500 * 200 * 1024)) /dev/urandom >"$work/many.bin"
(cd "$work/in/many" && split -a 3 -d -b 200K "$work/many.bin" f && rm "$work/many.bin")
mapfile -t many < <(find "$work/in/many" -type f | sort)
sync

share_args() {
  local f
  for f in "$@"; do
    [[ -n $file_flag ]] && printf '%s\0' "$file_flag"
    printf '%s\0' "$f"
  done
}

# Wall-clock seconds of one command, with a fresh home for the program. The
# previous run's copies are removed and that removal flushed before the clock
# starts, so neither side pays for the other's clean-up.
run_share() {
  local home="$work/run/home"
  rm -rf "$work/run" && mkdir -p "$home" && sync
  local args=()
  mapfile -d '' -t args < <(share_args "$@")
  local start=$EPOCHREALTIME
  HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config \
    "${share_words[@]}" "${args[@]}" >/dev/null 2>"$work/share.err" </dev/null ||
    { echo "copy_bench: share failed:" >&2; cat "$work/share.err" >&2; exit 1; }
  local end=$EPOCHREALTIME
  awk -v a="$end" -v b="$start" 'BEGIN { printf "%.6f\n", a - b }'
}

run_cp() {
  rm -rf "$work/run" && mkdir -p "$work/run/cp" && sync
  local start=$EPOCHREALTIME
  cp -- "$@" "$work/run/cp/"
  (cd "$work/run/cp" && find . -type f -print0 | xargs -0 sync --)
  local end=$EPOCHREALTIME
  awk -v a="$end" -v b="$start" 'BEGIN { printf "%.6f\n", a - b }'
}

median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

declare -A times
for ((i = 1; i <= N; i++)); do
  for case in big many; do
    if [[ $case == big ]]; then files=("$work/in/big"); else files=("${many[@]}"); fi
    s=$(run_share "${files[@]}")
    c=$(run_cp "${files[@]}")
    times[$case.share]+="$s "
    times[$case.cp]+="$c "
    times[$case.ratio]+="$(awk -v a="$s" -v b="$c" 'BEGIN { printf "%.6f", a / b }') "
    printf 'run %d %-4s share %.3f s  cp+sync %.3f s\n' "$i" "$case" "$s" "$c" >&2
  done
done

echo "command under test: $SHARE_COMMAND; runs: $N; on $(findmnt -no FSTYPE -T "$work")"
for case in big many; do
  label=$([[ $case == big ]] && echo "1 GiB file" || echo "500 x 200 KiB")
  sm=$(tr ' ' '\n' <<<"${times[$case.share]}" | grep . | median)
  cm=$(tr ' ' '\n' <<<"${times[$case.cp]}" | grep . | median)
  rm_=$(tr ' ' '\n' <<<"${times[$case.ratio]}" | grep . | median)
  printf '%-14s share median %.3f s   cp+sync median %.3f s   median ratio share/cp %.2f\n' \
    "$label" "$sm" "$cm" "$rm_"
done

# Peak memory of sharing a 2 GiB file.
cat "$work/in/big" "$work/in/big" >"$work/in/huge"
home="$work/run/home"
rm -rf "$work/run" && mkdir -p "$home"
mapfile -d '' -t args < <(share_args "$work/in/huge")
HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config \
  /usr/bin/time -f %M -o "$work/rss" "${share_words[@]}" "${args[@]}" >/dev/null 2>&1 </dev/null
rss=$(tail -n 1 "$work/rss")
printf 'peak RSS sharing a 2 GiB file: %d KiB (%.1f MiB)\n' "$rss" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
