#!/usr/bin/env bash
# Measures the runner against FFmpeg's own filter graph doing the same job,
# side by side in one run: the overlay laid into a mask of every frame of
# the main clip, most cases a 640x360 H.264 overlay stretched bilinearly
# into a 960x540 mask at (480, 270).
#
#   scripts/bench-runner.sh [--runs N] [--frames N] [--case NAME]... [--runner PATH]
#
# Cases (all by default):
#   raw      1080p uncompressed BGRA main and overlay, output discarded
#   null     1080p H.264 main with AAC audio, H.264 overlay, output discarded
#   ffv1     the same into lossless FFV1 (4:2:0, as the main), audio copied
#   h264     the same into H.264 at CRF 18 (same x264 settings), audio copied
#   4k       2160p H.264 main, output discarded
#   alpha    a 640x360 PNG logo with alpha, stretched and blended, output discarded
#   opacity  the null case's overlay at 60% opacity
#   lanczos  a 1280x720 H.264 overlay scaled down into a 640x360 mask with lanczos
#
# FFmpeg's graph is scale + overlay (shortest=1; the logo looped), the
# overlay's format left to it; opacity fades the overlay's alpha with
# colorchannelmixer. The runs of a case take turns (runner, FFmpeg, runner,
# ...), so that both sides see the same machine. For each side: the best
# wall and the best CPU time (user + system of all threads) of its runs,
# each taken on its own (other work on the machine only ever adds to
# either), CPU/wall (the cores it kept busy on average) and the largest
# peak resident memory (GNU time's maximum RSS); then the ratios runner /
# FFmpeg (below 1: the runner uses less). Blending cases also run the runner on the same job copying the
# overlay opaquely, and give their CPU time against it. On a machine shared
# with other work the wall times wander; CPU times and the ratios much less.
#
# --runner measures another build of the runner (an older one, say) instead
# of building this tree's.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
frames=200
cases=()
runner=""
usage="usage: $0 [--runs N] [--frames N] [--case raw|null|ffv1|h264|4k|alpha|opacity|lanczos]... [--runner PATH]"
while (($#)); do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --case) cases+=("$2"); shift 2 ;;
    --runner) runner="$2"; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
((${#cases[@]})) || cases=(raw null ffv1 h264 4k alpha opacity lanczos)
[[ -x /usr/bin/time ]] || { echo "$0: needs GNU time (/usr/bin/time; Debian package 'time')" >&2; exit 1; }

if [[ -z "$runner" ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target quillmere >/dev/null
  runner=build/native/apps/quillmere
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

make_clip() {  # name size codec-options...
  local name="$1" size="$2"
  shift 2
  [[ -f "$work/$name" ]] && return
  ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=$size:rate=25" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -frames:v "$frames" \
    -shortest "$@" "$work/$name"
}

# Opaque inside a disc, transparent outside but for a half-transparent band.
make_logo() {
  [[ -f "$work/logo.png" ]] && return
  ffmpeg -v error -nostdin -f lavfi -i "mandelbrot=size=640x360" -frames:v 1 \
    -vf "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(hypot(X-320,Y-180),170),255,if(lt(abs(Y-300),30),128,0))'" \
    "$work/logo.png"
}

# Runs each command of the case $runs times, taking turns; prints one line
# per command: best wall, best CPU, largest peak RSS in KiB.
measure() {  # label=command... as arrays named by the arguments
  local -a names=("$@")
  local run name
  for ((run = 0; run < runs; run++)); do
    for name in "${names[@]}"; do
      local -n command="$name"
      rm -f "$work/runner.mkv" "$work/runner.mp4"
      if ! /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "${command[@]}" >/dev/null 2>"$work/err.txt"; then
        echo "failed: ${command[*]}" >&2
        cat "$work/err.txt" >&2
        exit 1
      fi
      tail -n 1 "$work/time.txt" >>"$work/samples-$name"
    done
  done
  for name in "${names[@]}"; do
    python3 - "$work/samples-$name" <<'EOF'
import sys
rows = [line.split() for line in open(sys.argv[1])]
wall = min(float(r[0]) for r in rows)
cpu = min(float(r[1]) + float(r[2]) for r in rows)
peak = max(int(r[3]) for r in rows)
print("%.3f %.3f %d" % (wall, cpu, peak))
EOF
    rm -f "$work/samples-$name"
  done
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%-8s | %-32s | %-32s | %-19s | %s\n' case "quillmere wall/CPU/cores/RSS" \
  "ffmpeg wall/CPU/cores/RSS" "runner/ffmpeg: wall CPU RSS" "CPU vs opaque copy"
mask=(--mask 480,270,w960,h540 --fit --bilinear)
graph="[1]scale=960:540:flags=bilinear[o];[0][o]overlay=480:270:shortest=1[v]"
for name in "${cases[@]}"; do
  runner_out=(--format null) ffmpeg_out=(-an -f null -)
  extra=() reference_extra=() ffmpeg_inputs=() job=("${mask[@]}")
  case "$name" in
    raw)
      make_clip main.nut 1920x1080 -an -c:v rawvideo -pix_fmt bgra
      make_clip overlay.nut 640x360 -an -c:v rawvideo -pix_fmt bgra
      main="$work/main.nut" overlay="$work/overlay.nut" ;;
    null|ffv1|h264|4k|opacity|alpha|lanczos)
      size=1920x1080
      [[ "$name" == 4k ]] && size=3840x2160
      make_clip "main-$size.mp4" "$size" -c:v libx264 -pix_fmt yuv420p -c:a aac
      main="$work/main-$size.mp4"
      make_clip overlay.mp4 640x360 -an -c:v libx264 -pix_fmt yuv420p
      overlay="$work/overlay.mp4"
      case "$name" in
        ffv1)
          runner_out=(-o "$work/runner.mkv")
          ffmpeg_out=(-map 0:a -c:a copy -c:v ffv1 -level 3 -slicecrc 1 -y "$work/ffmpeg.mkv") ;;
        h264)
          runner_out=(-o "$work/runner.mp4")
          ffmpeg_out=(-map 0:a -c:a copy -c:v libx264 -crf 18 -y "$work/ffmpeg.mp4") ;;
        alpha)
          make_logo
          overlay="$work/logo.png"
          ffmpeg_inputs=(-loop 1)
          reference_extra=(--alpha ignore) ;;
        opacity)
          extra=(--opacity 60)
          graph_opacity="[1]scale=960:540:flags=bilinear,format=yuva420p,colorchannelmixer=aa=0.6[o];[0][o]overlay=480:270:shortest=1[v]"
          reference_extra=() ;;
        lanczos)
          make_clip overlay-720.mp4 1280x720 -an -c:v libx264 -pix_fmt yuv420p
          overlay="$work/overlay-720.mp4"
          job=(--mask 640,360,w640,h360 --fit --scaler lanczos) ;;
      esac ;;
    *) echo "unknown case '$name'" >&2; exit 2 ;;
  esac
  filter="$graph"
  [[ "$name" == opacity ]] && filter="$graph_opacity"
  [[ "$name" == lanczos ]] && filter="[1]scale=640:360:flags=lanczos[o];[0][o]overlay=640:360:shortest=1[v]"
  cat "$main" "$overlay" >/dev/null  # both sides read from memory
  runner_command=("$runner" render "$main" "${runner_out[@]}" --overlay "$overlay" "${job[@]}"
                  "${extra[@]}" --quiet -y)
  ffmpeg_command=(ffmpeg -v error -nostdin -i "$main" "${ffmpeg_inputs[@]}" -i "$overlay"
                  -filter_complex "$filter" -map "[v]" "${ffmpeg_out[@]}")
  commands=(runner_command ffmpeg_command)
  if [[ "$name" == alpha || "$name" == opacity ]]; then
    reference_command=("$runner" render "$main" "${runner_out[@]}" --overlay "$overlay"
                       "${job[@]}" "${reference_extra[@]}" --quiet -y)
    commands+=(reference_command)
  fi
  mapfile -t results < <(measure "${commands[@]}")
  read -r rw rc rm <<<"${results[0]}"
  read -r fw fc fm <<<"${results[1]}"
  against_opaque=""
  if ((${#results[@]} > 2)); then
    read -r _ oc _ <<<"${results[2]}"
    against_opaque="$(ratio "$rc" "$oc")x"
  fi
  printf '%-8s | %6.2fs %6.2fs %4.2f %6d MiB | %6.2fs %6.2fs %4.2f %6d MiB | %5s %5s %5s       | %s\n' \
    "$name" "$rw" "$rc" "$(ratio "$rc" "$rw")" $((rm / 1024)) \
    "$fw" "$fc" "$(ratio "$fc" "$fw")" $((fm / 1024)) \
    "$(ratio "$rw" "$fw")" "$(ratio "$rc" "$fc")" "$(ratio "$rm" "$fm")" "$against_opaque"
done
echo "($frames frames, best of $runs runs taking turns, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
