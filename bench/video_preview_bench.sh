#!/bin/bash
# Times one video preview (duration + frame near 600 s, 360x360, PNG) made by
# build/bench_video_preview against ffmpegthumbnailer and the ffmpeg command,
# in alternating runs, and reports medians, the speed ratio and peak memory.
#   bench/video_preview_bench.sh [RUNS]      (default 10)
# Env: BUILD_DIR (default build), MOVIE_DIR (default $BUILD_DIR/bench-movies;
# generated movies are kept there and reused).
set -euo pipefail

runs=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
movies=${MOVIE_DIR:-$build/bench-movies}
ours=$build/bench_video_preview
for tool in "$ours" "$build/make_test_movie" ffmpeg ffmpegthumbnailer /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
mkdir -p "$movies"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# (a) 11 minutes of 1080p H.264 with audio; key frames every 250 frames at
# 24 fps (10.42 s), so none falls on 600 s.
long=$movies/long_1080p_11min.mp4
if [[ ! -s $long ]]; then
  echo "making $long ..." >&2
  ffmpeg -y -loglevel error \
    -f lavfi -i testsrc2=size=1920x1080:rate=24:duration=660 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=660 \
    -c:v libx264 -preset ultrafast -b:v 1500k -maxrate 1500k -bufsize 3000k \
    -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p \
    -c:a aac -b:a 64k -shortest "$long.partial.mp4"
  mv "$long.partial.mp4" "$long"
fi
# (b) a few seconds of 1080p shot in portrait: 90 degrees in the display matrix.
rotated=$movies/rotated_1080p_4s.mp4
if [[ ! -s $rotated ]]; then
  "$build/make_test_movie" "$rotated" --width 1920 --height 1080 --seconds 4 --fps 30 --gop 30 --rotate 90
fi

now_ns() { date +%s%N; }

# run NAME OUT COMMAND...: one timed run; appends "ms rss_kib" to $work/NAME.
run() {
  local name=$1 out=$2; shift 2
  rm -f "$out"
  local start end
  start=$(now_ns)
  /usr/bin/time -f %M -o "$work/rss" "$@" >"$work/stdout" 2>"$work/stderr" || {
    echo "$name failed:" >&2; cat "$work/stderr" >&2; exit 1; }
  end=$(now_ns)
  echo "$(( (end - start) / 1000 )) $(tail -n1 "$work/rss")" >>"$work/$name"
}

median() {  # column 1 of a file, in ms with one decimal
  sort -n "$1" | awk '{v[NR]=$1} END {m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2; printf "%.1f", m / 1000}'
}
peak() { awk 'BEGIN {m=0} $2 > m {m=$2} END {printf "%.1f", m / 1024}' "$1"; }

for movie in "$long" "$rotated"; do
  rm -f "$work"/ours "$work"/thumbnailer "$work"/ffmpeg "$work"/step
  for ((i = 0; i < runs; i++)); do
    run ours "$work/ours.jpg" "$ours" "$movie"
    frames=$(sed -n 's/^frames decoded: //p' "$work/stderr")
    sed -n 's/^preview step: \([0-9.]*\) ms/\1/p' "$work/stderr" | awk '{print $1 * 1000}' >>"$work/step"
    record=$(cat "$work/stdout")
    run thumbnailer "$work/t.png" ffmpegthumbnailer -i "$movie" -o "$work/t.png" -t 00:10:00 -s 360 -c png
    run ffmpeg "$work/f.png" ffmpeg -y -loglevel error -ss 600 -i "$movie" -frames:v 1 \
      -vf scale=360:360:force_original_aspect_ratio=decrease "$work/f.png"
  done
  ours_ms=$(median "$work/ours"); thumb_ms=$(median "$work/thumbnailer"); ff_ms=$(median "$work/ffmpeg")
  echo "== $(basename "$movie") ($runs alternating runs)"
  echo "record: $record"
  echo "frames decoded per thumbnail: $frames"
  printf '%-28s median %8s ms   peak RSS %6s MiB\n' \
    "bench_video_preview" "$ours_ms" "$(peak "$work/ours")" \
    "ffmpegthumbnailer" "$thumb_ms" "$(peak "$work/thumbnailer")" \
    "ffmpeg -ss 600" "$ff_ms" "$(peak "$work/ffmpeg")"
  echo "  of which in-process preview step (open, frame, PNG, write): $(median "$work/step") ms;" \
    "the rest is process start-up, mostly loading FFmpeg's libraries"
  awk -v o="$ours_ms" -v t="$thumb_ms" -v f="$ff_ms" 'BEGIN {
    best = (t < f) ? t : f; name = (t < f) ? "ffmpegthumbnailer" : "ffmpeg"
    printf "faster other tool: %s; it takes %.2fx our time\n", name, best / o }'
done
