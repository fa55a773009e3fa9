#!/usr/bin/env bash
# Times the runner against FFmpeg's own filter graph on the same job: a
# 1920x1080 main clip with a 640x360 overlay stretched bilinearly into a
# 960x540 mask at (480, 270), 200 frames, lossless inputs, output discarded
# (the runner's '--format null', FFmpeg's null muxer). Whole-process wall
# time, the best of several runs each, and the ratio.
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
echo "bench: making $frames frames of 1920x1080 and 640x360 clips ($input)" >&2
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  "${codec[@]}" "$main"
ffmpeg -v error -f lavfi -i "mandelbrot=size=640x360:rate=25" -frames:v "$frames" \
  "${codec[@]}" "$overlay"

runner_job=("$runner" render "$main" --format null --overlay "$overlay"
            --mask 480,270,w960,h540 --fit --bilinear --quiet)
ffmpeg_job=(ffmpeg -v error -nostdin -i "$main" -i "$overlay" -filter_complex
            "[1]scale=960:540:flags=bilinear[o];[0][o]overlay=480:270" -f null -)

# Best wall time of $runs runs of a command, in seconds.
best_time() {
  local best="" start end elapsed
  for ((run = 0; run < runs; run++)); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    elapsed=$(( (end - start) / 1000000 ))
    if [[ -z "$best" || "$elapsed" -lt "$best" ]]; then best=$elapsed; fi
  done
  printf '%d.%03d' $((best / 1000)) $((best % 1000))
}

# Warm the page cache so both sides read from memory.
cat "$main" "$overlay" >/dev/null

runner_seconds=$(best_time "${runner_job[@]}")
ffmpeg_seconds=$(best_time "${ffmpeg_job[@]}")
ratio=$(awk -v a="$ffmpeg_seconds" -v b="$runner_seconds" 'BEGIN { printf "%.2f", a / b }')

echo "job: $frames frames 1920x1080 ($input), 640x360 overlay bilinear into 960x540, output discarded"
echo "quillmere: ${runner_seconds} s  ($(awk -v f="$frames" -v s="$runner_seconds" 'BEGIN { printf "%.1f", f / s }') fps)"
echo "ffmpeg:    ${ffmpeg_seconds} s  ($(awk -v f="$frames" -v s="$ffmpeg_seconds" 'BEGIN { printf "%.1f", f / s }') fps)"
echo "ratio:     quillmere is ${ratio}x as fast (best of $runs runs each, $(nproc) cores)"
