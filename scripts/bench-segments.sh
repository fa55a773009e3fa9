#!/usr/bin/env bash
# What cutting a render into segments costs: one job rendered whole, then as
# N = 2, 4 and 8 segments run concurrently on this machine and joined. For
# each N: the segments' CPU time over the whole render's, the per-segment
# overhead (opening and scanning the main, seeking to the first key frame,
# decoding up to the segment's first frame, starting the encoder) as a
# fraction of one segment's share of the work, the wall time, and the
# join's CPU time against the whole render's.
#
#   scripts/bench-segments.sh [QUILLMERE]
#   BENCH_SECONDS (default 20; 60 for the 1080p minute), BENCH_SIZE
#   (default 1920x1080), BENCH_CODEC (default h264; ffv1 for lossless).
set -euo pipefail
cd "$(dirname "$0")/.."
quillmere=$(realpath "${1:-build/native/apps/quillmere}")
seconds=${BENCH_SECONDS:-20}
size=${BENCH_SIZE:-1920x1080}
codec=${BENCH_CODEC:-h264}
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-bench-segments-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "making a ${seconds}s ${size} main (H.264, key frame every 2 s, AAC) ..." >&2
ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=25" -f lavfi -i sine=frequency=440 \
  -t "$seconds" -c:v libx264 -preset veryfast -g 50 -pix_fmt yuv420p -c:a aac -shortest main.mkv
ffmpeg -v error -f lavfi -i mandelbrot=size=640x360:rate=25 -t 4 -c:v libx264 -preset veryfast clip.mkv
options=(--overlay clip.mkv --position top-right --size 33% --bilinear --border 4
  --shadow gradient-random --seed 1 --repeat --codec "$codec" -q -y)
[[ "$codec" == h264 ]] && options+=(--preset veryfast)

# CPU seconds (user + system) and wall seconds of one command.
measure() {
  local out=$1
  shift
  /usr/bin/time -f '%U %S %e' -o "$out" "$@"
}
cpu_of() { awk '{printf "%.2f", $1 + $2}' "$1"; }
wall_of() { awk '{printf "%.2f", $3}' "$1"; }

measure whole.time "$quillmere" render main.mkv -o whole.mkv "${options[@]}"
whole_cpu=$(cpu_of whole.time)
whole_wall=$(wall_of whole.time)
printf '%-8s %10s %10s %12s %22s %12s\n' "segments" "wall s" "CPU s" "CPU / whole" \
  "overhead per segment" "join / whole"
printf '%-8s %10s %10s %12s %22s %12s\n' "whole" "$whole_wall" "$whole_cpu" "1.000" "-" "-"
for count in 2 4 8; do
  start=$(date +%s.%N)
  for ((index = 0; index < count; index++)); do
    measure "segment-$index.time" "$quillmere" render main.mkv --segment "$index/$count" \
      -o "part-$count-$index.mkv" "${options[@]}" &
  done
  wait
  end=$(date +%s.%N)
  segments_cpu=$(cat segment-*.time | awk '{sum += $1 + $2} END {printf "%.2f", sum}')
  measure join.time "$quillmere" join part-"$count"-*.mkv -o "joined-$count.mkv" -q -y
  join_cpu=$(cpu_of join.time)
  rm -f segment-*.time part-"$count"-*.mkv
  awk -v n="$count" -v whole="$whole_cpu" -v seg="$segments_cpu" -v join="$join_cpu" \
    -v start="$start" -v end="$end" 'BEGIN {
      overhead = (seg - whole) / n            # CPU each segment adds
      share = whole / n                       # one segment'"'"'s share of the work
      printf "%-8s %10.2f %10.2f %12.3f %21.1f%% %11.2f%%\n", n, end - start, seg,
             seg / whole, 100 * overhead / share, 100 * join / whole
    }'
done
echo "(${seconds}s ${size}, $codec; the segments ran concurrently on $(nproc) cores)" >&2
