#!/usr/bin/env bash
# Compares sharing files with copying them by hand: `cp` into one folder, then
# one `sync -f` of that file system (one flush for the lot, the strategy a
# careful person would use), in alternating runs on one file system:
#   (a) one 1 GiB file   (b) 500 files of 200 KiB   (c) 10,000 files of 4 KiB
#   (d) 1,000 files of 4 KiB, on a quiet file system and right after another
#       program wrote 1 GiB there without syncing it
#   (e) one sparse file of 256 MiB holding one written 4 KiB block (with the
#       blocks each copy takes on disk)
# and reports medians, the median of the per-run ratios, and the peak memory
# of sharing a 2 GiB file.
#
# Environment:
#   SHARE_COMMAND  program under test plus the option put before each file
#                  (default "build/halvernsignet-share --file"; a last word
#                  not starting with "-" means files are passed bare)
#   BENCH_DIR      where the test files go (default /var/tmp); it should be
#                  on the same file system as the copies
#   N              runs per case (default 5)
#   CASES          which of big many tiny dirty sparse to run (default all five)
#   KEEP_INPUTS=1  keep the generated input files for a later run
#   DIRTY_WITHOUT_CP=1  the dirty case runs only the share (and the
#                  baseline): no `cp` runs between theirs, whose final
#                  flush of 1 GiB would slow whatever runs next
#   BASELINE_COMMAND  other builds of the program, separated by ";" (each
#                  given files as SHARE_COMMAND is), run alternately with
#                  the one under test, for a before/after comparison in the
#                  same run: each reports its median, the spread of its
#                  runs and the median of its per-run ratio to the share
set -euo pipefail

SHARE_COMMAND=${SHARE_COMMAND:-build/halvernsignet-share --file}
N=${N:-5}
BASE=${BENCH_DIR:-/var/tmp}
CASES=${CASES:-big many tiny dirty sparse}
read -r -a share_words <<<"$SHARE_COMMAND"
baselines=()
if [[ -n ${BASELINE_COMMAND:-} ]]; then
  IFS=';' read -r -a baselines <<<"$BASELINE_COMMAND"
  for ((b = 0; b < ${#baselines[@]}; b++)); do
    read -r -a words <<<"${baselines[b]}"
    baselines[b]="${words[*]}"
  done
fi
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
  rm -f "$work/dirty"
  if [[ ${KEEP_INPUTS:-0} == 1 ]]; then rm -rf "$work"/run.*; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Random-ish data: urandom is too slow for a GiB, so repeat a random MiB
# with a counter stamped into every 4 KiB (no two blocks alike, nothing a
# file system could deduplicate or compress away easily).
echo "copy_bench: making inputs in $work" >&2
mkdir -p "$work/in/many" "$work/in/tiny"
head -c 1M /dev/urandom >"$work/seed"
# Every case but the sparse one is cut from the 1 GiB file.
needs_big=0
for c in $CASES; do [[ $c == sparse ]] || needs_big=1; done
((needs_big)) && python3 - "$work/seed" "$work/in/big" 1024 <<'PY'
import sys
seed = open(sys.argv[1], 'rb').read()
with open(sys.argv[2], 'wb') as out:
    for mib in range(int(sys.argv[3])):
        chunk = bytearray(seed)
        for block in range(0, len(chunk), 4096):
            chunk[block:block + 8] = (mib * 256 + block // 4096).to_bytes(8, 'little')
        out.write(chunk)
PY
if ((needs_big)); then
  head -c $((500 * 200 * 1024)) "$work/in/big" >"$work/many.bin"
  (cd "$work/in/many" && split -a 3 -d -b 200K "$work/many.bin" f && rm "$work/many.bin")
  head -c $((10000 * 4096)) "$work/in/big" >"$work/tiny.bin"
  (cd "$work/in/tiny" && split -a 5 -d -b 4K "$work/tiny.bin" t && rm "$work/tiny.bin")
fi
# A disk image's worth of holes around one block of data.
truncate -s 256M "$work/in/sparse"
head -c 4096 "$work/seed" | dd of="$work/in/sparse" bs=4096 seek=$((128 * 256)) conv=notrunc status=none
mapfile -t many < <(find "$work/in/many" -type f | sort)
mapfile -t tiny < <(find "$work/in/tiny" -type f | sort)
thousand=("${tiny[@]:0:1000}")
sync

share_args() {
  local f
  for f in "$@"; do
    [[ -n $file_flag ]] && printf '%s\0' "$file_flag"
    printf '%s\0' "$f"
  done
}

elapsed() { awk -v a="$2" -v b="$1" 'BEGIN { printf "%.6f\n", a - b }'; }

# Wall-clock seconds of one command, with a fresh home for the program. Each
# run writes into folders of its own and nothing is removed until the end:
# ext4 scans the inodes freed in the last minute when it makes new ones, so
# removing the previous run's 10,000 copies would make the next run pay for
# it, whichever program that run measures. Everything is flushed before the
# clock starts. With DIRTY=1, 1 GiB is written to the same file system just
# before the clock starts and left unsynced, as another program's download
# would be.
prepare() {
  rm -f "$work/dirty"
  run=$(mktemp -d "$work/run.XXXXXX") && mkdir -p "$run/home" "$run/cp" && sync
  if [[ ${DIRTY:-0} == 1 ]]; then
    dd if="$work/in/big" of="$work/dirty" bs=1M status=none
  fi
}

run_share() {
  run_program "${share_words[@]}" -- "$@"
}

# run_program PROGRAM WORDS... -- FILES...
run_program() {
  local program=() args=()
  while [[ $1 != -- ]]; do program+=("$1"); shift; done
  shift
  mapfile -d '' -t args < <(share_args "$@")
  prepare
  local home="$run/home"
  local start=$EPOCHREALTIME
  HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config \
    "${program[@]}" "${args[@]}" >/dev/null 2>"$work/share.err" </dev/null ||
    { echo "copy_bench: share failed:" >&2; head "$work/share.err" >&2; exit 1; }
  elapsed "$start" "$EPOCHREALTIME"
  # What the last copy of each program takes on disk (for the sparse case).
  du -k "$home"/.local/share/group-containers/*/sparse 2>/dev/null | cut -f1 >"$work/blocks.${program[0]//\//_}" || true
}

run_cp() {
  prepare
  local start=$EPOCHREALTIME
  cp -- "$@" "$run/cp/"
  sync -f "$run/cp"
  elapsed "$start" "$EPOCHREALTIME"
}

median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

declare -A times
add() { times[$1]+="$2 "; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", a / b }'; }

# The programs of one round: the one under test, cp (not in the dirty case
# with DIRTY_WITHOUT_CP=1) and each baseline. Their order turns by one every
# round, so that no program always runs first (or right after cp's flush).
programs=(share cp)
for ((b = 0; b < ${#baselines[@]}; b++)); do programs+=("base$b"); done

# run_one WHO FILES...: one timed run of the program WHO.
run_one() {
  local who=$1
  shift
  case $who in
    share) run_share "$@" ;;
    cp) run_cp "$@" ;;
    base*)
      local words
      read -r -a words <<<"${baselines[${who#base}]}"
      run_program "${words[@]}" -- "$@" ;;
  esac
}

for ((i = 1; i <= N; i++)); do
  order=("${programs[@]:i % ${#programs[@]}}" "${programs[@]:0:i % ${#programs[@]}}")
  for case in $CASES; do
    case $case in
      big) files=("$work/in/big") ;;
      many) files=("${many[@]}") ;;
      tiny) files=("${tiny[@]}") ;;
      dirty) files=("${thousand[@]}") ;;
      sparse) files=("$work/in/sparse") ;;
      *) echo "copy_bench: unknown case $case" >&2; exit 2 ;;
    esac
    declare -A quiet=() dirty=() took=()
    for who in "${order[@]}"; do
      if [[ $case == dirty ]]; then
        [[ $who == cp && ${DIRTY_WITHOUT_CP:-0} == 1 ]] && continue
        quiet[$who]=$(run_one "$who" "${files[@]}")
        dirty[$who]=$(DIRTY=1 run_one "$who" "${files[@]}")
        rm -f "$work/dirty"
        printf 'run %d %-5s %-6s quiet %.3f s  after 1 GiB unsynced %.3f s\n' \
          "$i" "$case" "$who" "${quiet[$who]}" "${dirty[$who]}" >&2
      else
        took[$who]=$(run_one "$who" "${files[@]}")
        printf 'run %d %-5s %-6s %.3f s\n' "$i" "$case" "$who" "${took[$who]}" >&2
      fi
    done
    for who in "${programs[@]}"; do
      if [[ $case == dirty ]]; then
        [[ -z ${quiet[$who]:-} ]] && continue
        add "dirty.$who.quiet" "${quiet[$who]}"; add "dirty.$who.dirty" "${dirty[$who]}"
        add "dirty.$who.ratio" "$(ratio "${dirty[$who]}" "${quiet[$who]}")"
        if [[ $who == base* ]]; then
          add "dirty.$who.quietpair" "$(ratio "${quiet[$who]}" "${quiet[share]}")"
          add "dirty.$who.dirtypair" "$(ratio "${dirty[$who]}" "${dirty[share]}")"
        fi
      else
        add "$case.$who" "${took[$who]}"
        [[ $who != cp ]] && add "$case.$who.ratio" "$(ratio "${took[$who]}" "${took[cp]}")"
        [[ $who == base* ]] && add "$case.$who.pair" "$(ratio "${took[$who]}" "${took[share]}")"
      fi
    done
    unset quiet dirty took
  done
done

med() { tr ' ' '\n' <<<"${times[$1]}" | grep . | median; }
# The fastest and slowest run: how far this machine wandered.
range() { tr ' ' '\n' <<<"${times[$1]}" | grep . | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.3f-%.3f", lo, hi}'; }
echo "command under test: $SHARE_COMMAND; runs: $N; on $(findmnt -no FSTYPE -T "$work");" \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
for ((b = 0; b < ${#baselines[@]}; b++)); do echo "baseline $((b + 1)): ${baselines[b]}"; done
for case in $CASES; do
  case $case in
    big) label="1 GiB file" ;;
    many) label="500 x 200 KiB" ;;
    tiny) label="10,000 x 4 KiB" ;;
    sparse) label="256 MiB sparse" ;;
    dirty)
      printf '%-16s share quiet %.3f s (%s)   after 1 GiB unsynced %.3f s (%s)   median ratio %.2f' \
        "1,000 x 4 KiB" "$(med dirty.share.quiet)" "$(range dirty.share.quiet)" \
        "$(med dirty.share.dirty)" "$(range dirty.share.dirty)" "$(med dirty.share.ratio)"
      if [[ ${DIRTY_WITHOUT_CP:-0} != 1 ]]; then
        printf '   (cp+sync -f: %.3f s / %.3f s)' "$(med dirty.cp.quiet)" "$(med dirty.cp.dirty)"
      fi
      printf '\n'
      for ((b = 0; b < ${#baselines[@]}; b++)); do
        printf '%-16s baseline %d quiet %.3f s (%s)   after 1 GiB unsynced %.3f s (%s)   median ratio %.2f   median of baseline/share: quiet %.3f, after 1 GiB %.3f\n' \
          "" "$((b + 1))" "$(med "dirty.base$b.quiet")" "$(range "dirty.base$b.quiet")" \
          "$(med "dirty.base$b.dirty")" "$(range "dirty.base$b.dirty")" "$(med "dirty.base$b.ratio")" \
          "$(med "dirty.base$b.quietpair")" "$(med "dirty.base$b.dirtypair")"
      done
      continue ;;
  esac
  printf '%-16s share median %.3f s (%s)   cp+sync -f median %.3f s (%s)   median ratio share/cp %.2f\n' \
    "$label" "$(med "$case.share")" "$(range "$case.share")" "$(med "$case.cp")" "$(range "$case.cp")" \
    "$(med "$case.share.ratio")"
  for ((b = 0; b < ${#baselines[@]}; b++)); do
    printf '%-16s baseline %d median %.3f s (%s)   median ratio baseline/cp %.2f   median of baseline/share %.3f\n' \
      "" "$((b + 1))" "$(med "$case.base$b")" "$(range "$case.base$b")" "$(med "$case.base$b.ratio")" \
      "$(med "$case.base$b.pair")"
  done
done

if [[ " $CASES " == *" sparse "* ]]; then
  copied=$(find "$work" -path '*/cp/sparse' -print -quit)
  printf '256 MiB sparse: on disk (KiB): source %d, share %d, cp %d' \
    "$(du -k "$work/in/sparse" | cut -f1)" "$(cat "$work/blocks.${share_words[0]//\//_}")" "$(du -k "$copied" | cut -f1)"
  [[ -z ${BASELINE_COMMAND:-} ]] || printf ', baseline %d' "$(cat "$work/blocks.${baseline_words[0]//\//_}")"
  printf '\n'
fi

# Peak memory of sharing a 2 GiB file.
((needs_big)) || exit 0
cat "$work/in/big" "$work/in/big" >"$work/in/huge"
run=$(mktemp -d "$work/run.XXXXXX")
home="$run/home"
mkdir -p "$home"
mapfile -d '' -t args < <(share_args "$work/in/huge")
HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config \
  /usr/bin/time -f %M -o "$work/rss" "${share_words[@]}" "${args[@]}" >/dev/null 2>&1 </dev/null
rss=$(tail -n 1 "$work/rss")
printf 'peak RSS sharing a 2 GiB file: %d KiB (%.1f MiB)\n' "$rss" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
