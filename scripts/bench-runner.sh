#!/usr/bin/env bash
# Times the runner against FFmpeg's own filter graph on the same job: a
# 1920x1080 main clip with a 640x360 overlay stretched bilinearly into a
# 960x540 mask at (480, 270), 200 frames, lossless inputs, output discarded
# (the runner's '--format null', FFmpeg's null muxer). Whole-process wall
# time (and CPU time), the best of several runs each, and the ratios.
#
#   scripts/bench-runner.sh [--runs N] [--frames N] [--input raw|ffv1]
#
# --input raw (the default) stores both clips as uncompressed BGRA, the
# filter's own pixel layout; --input ffv1 stores them as lossless FFV1 in
# 4:2:0, so both sides pay for decoding and for a colour conversion.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
frames=200
input=raw
while (($#)); do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --input) input="$2"; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--frames N] [--input raw|ffv1]" >&2; exit 2 ;;
  esac
done

cmake --preset default >/dev/null
cmake --build --preset default --target quillmere >/dev/null
runner=build/native/apps/quillmere

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

case "$input" in
  raw)  codec=(-c:v rawvideo -pix_fmt bgra); ext=nut ;;
  ffv1) codec=(-c:v ffv1 -level 3 -slices 16 -pix_fmt yuv420p); ext=mkv ;;
  *) echo "unknown input kind '$input'" >&2; exit 2 ;;
esac
main="$work/main.$ext"
overlay="$work/overlay.$ext"
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  "${codec[@]}" "$main"
ffmpeg -v error -f lavfi -i "mandelbrot=size=640x360:rate=25" -frames:v "$frames" \
  "${codec[@]}" "$overlay"

runner_job=("$runner" render "$main" --format null --overlay "$overlay"
            --mask 480,270,w960,h540 --fit --bilinear --quiet)
ffmpeg_job=(ffmpeg -v error -nostdin -i "$main" -i "$overlay" -filter_complex
            "[1]scale=960:540:flags=bilinear[o];[0][o]overlay=480:270" -f null -)

# The run with the best wall time of $runs runs of a command: "wall cpu" in
# seconds, cpu being user plus system time of all its threads. On a machine
# shared with other work the wall times wander; the CPU times much less.
best_time() {
  local best_wall="" best_cpu="" wall user system
  local TIMEFORMAT='%R %U %S'
  for ((run = 0; run < runs; run++)); do
    read -r wall user system < <({ time "$@" >/dev/null 2>&1; } 2>&1)
    if [[ -z "$best_wall" ]] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
      best_wall=$wall
      best_cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.3f", u + s }')
    fi
  done
  echo "$best_wall $best_cpu"
}

# Warm the page cache so both sides read from memory.
cat "$main" "$overlay" >/dev/null

read -r runner_wall runner_cpu < <(best_time "${runner_job[@]}")
read -r ffmpeg_wall ffmpeg_cpu < <(best_time "${ffmpeg_job[@]}")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
fps() { awk -v s="$1" -v f="$frames" 'BEGIN { printf "%.1f", f / s }'; }

echo "job: $frames frames 1920x1080 ($input), 640x360 overlay bilinear into 960x540, output discarded"
echo "quillmere: ${runner_wall} s wall ($(fps "$runner_wall") fps), ${runner_cpu} s CPU"
echo "ffmpeg:    ${ffmpeg_wall} s wall ($(fps "$ffmpeg_wall") fps), ${ffmpeg_cpu} s CPU"
echo "ratio:     quillmere is $(ratio "$ffmpeg_wall" "$runner_wall")x as fast in wall time," \
     "$(ratio "$ffmpeg_cpu" "$runner_cpu")x in CPU time (best of $runs runs each," \
     "$(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
