#!/usr/bin/env bash
# What cutting a render into N segments costs, measured so that load on a
# shared machine does not pass for a saving: the whole render and the split
# render (its N segments one after another, then the join) run interleaved,
# ROUNDS times, and each figure is the median of the rounds with its spread
# (lowest-highest). Reported:
#   - CPU seconds (user + system) of the whole render, of the N segments
#     summed, and of the join;
#   - the overhead each segment adds: (split - whole) / (N - 1), since a
#     whole render is one segment that pays the fixed costs once;
#   - the bytes each segment read (rchar from /proc: every read, page cache
#     included, which is what shared storage serves) against the main's size;
#   - the speed-up M machines would give on a 10-minute main of the same
#     kind, from the model shown.
#
#   scripts/bench-segments.sh [QUILLMERE]
#   BENCH_SECONDS (default 60), BENCH_SIZE (default 1920x1080),
#   BENCH_SEGMENTS (default 8), BENCH_ROUNDS (default 3),
#   BENCH_CODEC (default h264; ffv1 for lossless), BENCH_MANIFEST (default
#   1: the split render writes a manifest first, counted in its CPU, and the
#   segments and the join read it; 0: they read the main themselves).
set -euo pipefail
cd "$(dirname "$0")/.."
quillmere=$(realpath "${1:-build/native/apps/quillmere}")
seconds=${BENCH_SECONDS:-60}
size=${BENCH_SIZE:-1920x1080}
count=${BENCH_SEGMENTS:-8}
rounds=${BENCH_ROUNDS:-3}
codec=${BENCH_CODEC:-h264}
use_manifest=${BENCH_MANIFEST:-1}
((count >= 2)) || { echo "bench-segments: BENCH_SEGMENTS must be at least 2" >&2; exit 2; }
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
main_bytes=$(stat -c %s main.mkv)
clip_bytes=$(stat -c %s clip.mkv)

# Runs a command and prints "CPU_SECONDS BYTES_READ": a shell runs and
# reaps it, so the shell's /proc io holds the command's reads.
measure() {
  /usr/bin/time -f '%U %S' -o measure.time \
    sh -c '"$@" && sed -n "s/^rchar: //p" /proc/$$/io >measure.read' sh "$@"
  awk -v read="$(cat measure.read)" '{printf "%.3f %d\n", $1 + $2, read}' measure.time
}

whole=() split=() joins=() segment_reads=()
for ((round = 1; round <= rounds; round++)); do
  echo "round $round of $rounds ..." >&2
  read -r cpu _ < <(measure "$quillmere" render main.mkv -o whole.mkv "${options[@]}")
  whole+=("$cpu")
  total=0
  manifest=()
  if ((use_manifest)); then
    read -r total _ < <(measure "$quillmere" segments main.mkv "$count" --manifest manifest.json \
      -- "${options[@]}")
    manifest=(--manifest manifest.json)
  fi
  for ((index = 0; index < count; index++)); do
    read -r cpu bytes < <(measure "$quillmere" render main.mkv --segment "$index/$count" \
      "${manifest[@]}" -o "part-$index.mkv" "${options[@]}")
    total=$(awk -v a="$total" -v b="$cpu" 'BEGIN {printf "%.3f", a + b}')
    ((round == 1)) && segment_reads+=("$bytes")
  done
  split+=("$total")
  read -r cpu _ < <(measure "$quillmere" join part-*.mkv "${manifest[@]}" -o joined.mkv -q -y)
  joins+=("$cpu")
  rm -f part-*.mkv
done

# "median lowest highest" of the numbers given.
stats() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "%.3f %.3f %.3f", m, v[1], v[NR]}'; }
read -r whole_m whole_lo whole_hi <<<"$(stats "${whole[@]}")"
read -r split_m split_lo split_hi <<<"$(stats "${split[@]}")"
read -r join_m join_lo join_hi <<<"$(stats "${joins[@]}")"
read -r read_m read_lo read_hi <<<"$(stats "${segment_reads[@]}")"

echo "${seconds}s ${size} main ($main_bytes bytes), $codec, $count segments, $rounds interleaved rounds," \
  "$( ((use_manifest)) && echo "with a manifest (its writing counted in the segments)" || echo "no manifest")"
printf '%-28s %10s %20s\n' "" "median" "spread"
printf '%-28s %10.2f %9.2f - %8.2f\n' "whole render, CPU s" "$whole_m" "$whole_lo" "$whole_hi"
printf '%-28s %10.2f %9.2f - %8.2f\n' "$count segments summed, CPU s" "$split_m" "$split_lo" "$split_hi"
printf '%-28s %10.2f %9.2f - %8.2f\n' "join, CPU s" "$join_m" "$join_lo" "$join_hi"
awk -v whole="$whole_m" -v parts="$split_m" -v join="$join_m" -v n="$count" \
  -v read="$read_m" -v lo="$read_lo" -v hi="$read_hi" -v main="$main_bytes" \
  -v seconds="$seconds" -v clip="$clip_bytes" 'BEGIN {
  overhead = (parts - whole) / (n - 1)
  printf "%-28s %10.3f\n", "segments / whole", parts / whole
  printf "%-28s %10.3f   (%.1f%% of a segment'"'"'s share)\n", "overhead per segment, CPU s",
         overhead, 100 * overhead / (whole / n)
  printf "%-28s %10.3f\n", "join / whole", join / whole
  printf "%-28s %10.3f   (%.3f - %.3f; 1/N = %.3f; the reads include the overlay, %.3f of the main)\n",
         "bytes read per segment / main", read / main, lo / main, hi / main, 1 / n, clip / main
  # A 10-minute main of the same kind: the render and the join grow with its
  # length, a segment'"'"'s fixed overhead does not. On M machines the job takes
  # W/M + o + J against W alone.
  scale = 600 / seconds
  W = whole * scale; J = join * scale
  printf "\nmodel, 10-minute main: W = %.0f CPU s whole, o = %.2f s a segment, J = %.1f s join;\n", W, overhead, J
  printf "speed-up on M machines = W / (W/M + o + J)\n"
  split("8 64 256", machines, " ")
  for (i = 1; i <= 3; i++) {
    m = machines[i]
    printf "  %3d machines: %6.1fx\n", m, W / (W / m + overhead + J)
  }
}'
