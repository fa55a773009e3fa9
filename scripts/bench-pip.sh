#!/usr/bin/env bash
# Times the runner's picture-in-picture extras against the opaque run of the
# same job: a 1920x1080 main clip and a 640x360 PNG-in-MOV overlay with
# alpha, placed top-right at 960 wide (bilinear), 200 frames, output
# discarded. Cases: the overlay copied opaque (--alpha ignore, the plug-in's
# way), blended by its alpha, at 60% opacity, and pre-scaled with lanczos
# (opaque and blended). Whole-process wall and CPU time, the best of several
# runs each, and each case's ratio to the opaque run.
#
#   scripts/bench-pip.sh [--runs N] [--frames N]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
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
overlay="$work/overlay.mov"
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  -c:v rawvideo -pix_fmt bgra "$main"
# Opaque inside a disc, transparent outside but for a half-transparent band.
ffmpeg -v error -f lavfi -i "mandelbrot=size=640x360:rate=25" -frames:v "$frames" \
  -vf "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(hypot(X-320,Y-180),170),255,if(lt(abs(Y-300),30),128,0))'" \
  -c:v png "$overlay"
cat "$main" "$overlay" >/dev/null

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

common=("$runner" render "$main" --format null --quiet --overlay "$overlay"
        --position top-right --size 960 --bilinear)
declare -A cases=(
  [opaque]="--alpha ignore"
  [alpha]=""
  [opacity60]="--opacity 60"
  [lanczos-opaque]="--alpha ignore --scaler lanczos"
  [lanczos-alpha]="--scaler lanczos"
)
read -r base_wall base_cpu < <(best_time "${common[@]}" --alpha ignore)
echo "job: $frames frames 1920x1080, 640x360 PNG-in-MOV overlay with alpha into 960x540," \
     "best of $runs runs, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
for name in opaque alpha opacity60 lanczos-opaque lanczos-alpha; do
  # shellcheck disable=SC2206
  extra=(${cases[$name]})
  read -r wall cpu < <(best_time "${common[@]}" "${extra[@]}")
  awk -v n="$name" -v w="$wall" -v c="$cpu" -v bw="$base_wall" -v bc="$base_cpu" \
    'BEGIN { printf "%-15s %6.2f s wall (%.2fx)  %6.2f s CPU (%.2fx)\n", n, w, w / bw, c, c / bc }'
done
