#!/usr/bin/env bash
# Soak benchmark of the runner's memory: a tiny main video of 100,000 frames
# with an overlay played reversed and repeated (every pass through it seeks
# backward and decodes into the frame cache), against the same job on 1,000
# frames. The peak resident memory of the two must be the same (within 5%
# and 4 MB): nothing may grow with the length of the input.
#
#   scripts/soak-benchmark.sh [--frames N] [--short N]
set -euo pipefail
cd "$(dirname "$0")/.."

frames=100000
short=1000
while (($#)); do
  case "$1" in
    --frames) frames="$2"; shift 2 ;;
    --short) short="$2"; shift 2 ;;
    *) echo "usage: $0 [--frames N] [--short N]" >&2; exit 2 ;;
  esac
done

cmake --preset default >/dev/null
cmake --build --preset default --target quillmere >/dev/null
runner=build/native/apps/quillmere

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=32x24:rate=25" -frames:v "$frames" \
  -c:v ffv1 "$work/long.mkv"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=32x24:rate=25" -frames:v "$short" \
  -c:v ffv1 "$work/short.mkv"
# An overlay with key frames every 12 frames, so reversed play seeks.
ffmpeg -nostdin -v error -f lavfi -i "testsrc=size=64x48:rate=25" -frames:v 60 \
  -c:v mpeg4 -g 12 "$work/overlay.mp4"

# Peak resident set (KiB) and wall time of one render.
measure() {
  local main=$1 output=$2
  /usr/bin/time -f "%M %e" -o "$work/time" "$runner" render "$main" -o "$output" -q \
    --overlay "$work/overlay.mp4" --reverse --repeat --fit --bilinear --mask 4,4,w24,h16
  cat "$work/time"
}

read -r short_kib short_seconds < <(measure "$work/short.mkv" "$work/short-out.mkv")
read -r long_kib long_seconds < <(measure "$work/long.mkv" "$work/long-out.mkv")
echo "soak: $short frames: peak ${short_kib} KiB, ${short_seconds} s"
echo "soak: $frames frames: peak ${long_kib} KiB, ${long_seconds} s"

allowed=$((short_kib + short_kib / 20 + 4096))
if ((long_kib > allowed)); then
  echo "soak: peak memory grew with the input's length (${long_kib} KiB > ${allowed} KiB)" >&2
  exit 1
fi
echo "soak: peak memory does not grow with the input's length"
