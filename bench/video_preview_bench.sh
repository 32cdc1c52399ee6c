#!/bin/bash
# Times one video preview (duration + frame near 600 s, 360x360, PNG) made by
# bench_video_preview of each build (Debian's FFmpeg, the minimal FFmpeg)
# against ffmpegthumbnailer, in alternating runs, on three movies:
#   (a) 11 minutes of 1080p H.264 with audio, (b) a 4K HEVC clip,
#   (c) a short 720p H.264 clip with audio;
# and reports median CPU time (user + system), median wall time and peak RSS.
#   bench/video_preview_bench.sh [RUNS]      (default 10)
# Env: BUILD_DIRS (default "build build-minimal": each one that has
# bench_video_preview is measured), MOVIE_DIR (default build/bench-movies;
# generated movies are kept there and reused).
set -euo pipefail

runs=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
movies=${MOVIE_DIR:-$root/build/bench-movies}
builds=()
for dir in ${BUILD_DIRS:-build build-minimal}; do
  [[ $dir == /* ]] || dir=$root/$dir
  [[ -x $dir/bench_video_preview ]] && builds+=("$dir")
done
((${#builds[@]})) || { echo "no build with bench_video_preview (build it first)" >&2; exit 1; }
for tool in ffmpeg ffmpegthumbnailer /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install ffmpeg ffmpegthumbnailer time)" >&2; exit 1; }
done
mkdir -p "$movies"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# make NAME FFMPEG-ARGS...: a generated movie, made once and kept.
make_movie() {
  local out=$movies/$1; shift
  if [[ ! -s $out ]]; then
    echo "making $out ..." >&2
    ffmpeg -y -loglevel error "$@" "$out.partial.${out##*.}"
    mv "$out.partial.${out##*.}" "$out"
  fi
  echo "$out"
}

# (a) key frames every 250 frames at 24 fps (10.42 s), so none falls on 600 s.
long=$(make_movie long_1080p_11min.mp4 \
  -f lavfi -i testsrc2=size=1920x1080:rate=24:duration=660 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=660 \
  -c:v libx264 -preset ultrafast -b:v 1500k -maxrate 1500k -bufsize 3000k \
  -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest)
# (b) 4K HEVC, 8 s, as a phone records it (key frame every second).
hevc=$(make_movie hevc_2160p_8s.mp4 \
  -f lavfi -i testsrc2=size=3840x2160:rate=30:duration=8 \
  -c:v libx265 -preset ultrafast -x265-params keyint=30:min-keyint=30:scenecut=0:log-level=error \
  -pix_fmt yuv420p -tag:v hvc1)
# (c) 720p H.264, 12 s, with audio.
short=$(make_movie short_720p_12s.mp4 \
  -f lavfi -i testsrc2=size=1280x720:rate=30:duration=12 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=12 \
  -c:v libx264 -preset veryfast -g 60 -pix_fmt yuv420p -c:a aac -b:a 96k -shortest)

# run NAME COMMAND...: one run; appends "cpu_ms wall_ms rss_kib" to $work/NAME.
run() {
  local name=$1; shift
  /usr/bin/time -f '%U %S %e %M' -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" || {
    echo "$name failed:" >&2; cat "$work/stderr" >&2; exit 1; }
  awk '{printf "%.1f %.1f %d\n", ($1 + $2) * 1000, $3 * 1000, $4}' "$work/time" >>"$work/$name"
}

# median FILE COLUMN
median() {
  awk -v c="$2" '{print $c}' "$1" | sort -g |
    awk '{v[NR]=$1} END {m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2; printf "%.1f", m}'
}
peak() { awk 'BEGIN {m=0} $3 > m {m=$3} END {printf "%.1f", m / 1024}' "$1"; }

label() {  # a build folder's FFmpeg
  local kind
  kind=$(sed -n 's/^HALVERNSIGNET_FFMPEG:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null)
  echo "ours, ${kind:-system} FFmpeg"
}

echo "host: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $runs alternating runs; CPU = user + system"
for movie in "$long" "$hevc" "$short"; do
  rm -f "$work"/ours-* "$work"/thumbnailer
  for ((i = 0; i < runs; i++)); do
    for b in "${!builds[@]}"; do
      run "ours-$b" "${builds[$b]}/bench_video_preview" "$movie"
      [[ $i -eq 0 ]] && cp "$work/stdout" "$work/record-$b"
    done
    run thumbnailer ffmpegthumbnailer -i "$movie" -o "$work/t.png" -t 00:10:00 -s 360 -c png
  done
  thumb_cpu=$(median "$work/thumbnailer" 1)
  echo "== $(basename "$movie")"
  printf '%-32s %10s %10s %10s %12s\n' "" "CPU ms" "wall ms" "peak MiB" "CPU / thumb."
  for b in "${!builds[@]}"; do
    cpu=$(median "$work/ours-$b" 1)
    printf '%-32s %10s %10s %10s %12s\n' "$(label "${builds[$b]}")" "$cpu" "$(median "$work/ours-$b" 2)" \
      "$(peak "$work/ours-$b")" "$(awk -v a="$cpu" -v b="$thumb_cpu" 'BEGIN {printf "%.2fx", a / b}')"
  done
  printf '%-32s %10s %10s %10s\n' "ffmpegthumbnailer" "$thumb_cpu" "$(median "$work/thumbnailer" 2)" \
    "$(peak "$work/thumbnailer")"
  if ((${#builds[@]} > 1)) && ! cmp -s "$work/record-0" "$work/record-1"; then
    # Records name a fresh container each run, so only the duration is compared.
    d0=$(grep -o '"duration":[0-9.]*' "$work/record-0" || true)
    d1=$(grep -o '"duration":[0-9.]*' "$work/record-1" || true)
    [[ $d0 == "$d1" ]] && echo "durations equal ($d0)" || echo "DURATIONS DIFFER: $d0 vs $d1"
  fi
done
