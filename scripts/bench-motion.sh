#!/usr/bin/env bash
# Times a moving overlay (--key) against the same overlay held still: a
# 1920x1080 4:2:0 main (raw, so that decoding costs nothing) and a 640x360
# overlay bilinear-stretched with a border and a shadow, 200 frames, output
# discarded. Cases: a 640x360 mask held still and the same mask sliding
# 880x540 pixels (between pixels on every frame, eased in-out); a 640x360
# mask held still and the same mask moving and shrinking to 320x180 over
# two seconds. The runs take turns; whole-process CPU time (user + system),
# the median of the runs of each case, and the moving case's ratio to its
# still one.
#
#   scripts/bench-motion.sh [--runs N] [--frames N]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=7
frames=200
while (($#)); do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--frames N]" >&2; exit 2 ;;
  esac
done

cmake --preset default >/dev/null
cmake --build --preset default --target quillmere >/dev/null
runner=build/native/apps/quillmere

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
main="$work/main.nut"
overlay="$work/overlay.mkv"
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  -c:v rawvideo -pix_fmt yuv420p "$main"
ffmpeg -v error -f lavfi -i "smptebars=size=640x360:rate=25" -frames:v "$frames" \
  -c:v ffv1 -pix_fmt yuv420p "$overlay"
cat "$main" "$overlay" >/dev/null

common=("$runner" render "$main" --format null --quiet --overlay "$overlay" --fit --bilinear
        --border 4 --shadow gradient)
last=$((frames - 1))
names=(still slide still-large shrink)
declare -A cases=(
  [still]="--mask 200,80,840,440"
  [slide]="--key 0=200,80,840,440 --key $last=1080,620,1720,980:in-out"
  [still-large]="--mask 1200,80,1840,440"
  [shrink]="--key 0=1200,80,1840,440 --key 2s=1560,820,1880,1000:in-out"
)
declare -A cpu
for ((run = 0; run < runs; run++)); do
  for name in "${names[@]}"; do
    read -r -a options <<<"${cases[$name]}"
    TIMEFORMAT='%U %S'
    read -r user system < <({ time "${common[@]}" "${options[@]}" >/dev/null 2>&1; } 2>&1)
    cpu[$name]+="$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.3f", u + s }') "
  done
done

median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf '%-12s %-10s %s\n' case "CPU s" "runs"
for name in "${names[@]}"; do
  printf '%-12s %-10s %s\n' "$name" "$(median "${cpu[$name]}")" "${cpu[$name]}"
done
awk -v a="$(median "${cpu[slide]}")" -v b="$(median "${cpu[still]}")" \
  'BEGIN { printf "slide / still: %.3fx\n", a / b }'
awk -v a="$(median "${cpu[shrink]}")" -v b="$(median "${cpu[still-large]}")" \
  'BEGIN { printf "shrink / still: %.3fx\n", a / b }'
