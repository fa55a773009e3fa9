#!/usr/bin/env bash
# Measures the runner against FFmpeg's own filter graph doing the same job,
# side by side in one run: a 640x360 overlay stretched bilinearly into a
# 960x540 mask at (480, 270) of every frame of the main clip.
#
#   scripts/bench-runner.sh [--runs N] [--frames N] [--case NAME]...
#
# Cases (all by default):
#   raw     1080p uncompressed BGRA main and overlay, output discarded
#   null    1080p H.264 main with AAC audio, H.264 overlay, output discarded
#   ffv1    the same into lossless FFV1 (4:2:0, as the main), audio copied
#   h264    the same into H.264 at CRF 18 (same x264 settings), audio copied
#   4k      2160p H.264 main, output discarded
#
# FFmpeg's graph is scale + overlay (shortest=1), the overlay's format left
# to it. For each side: wall and CPU time (user + system of all threads) of
# the run with the best wall time, CPU/wall (how many cores it kept busy on
# average) and peak resident memory; then the ratios runner / FFmpeg
# (below 1: the runner uses less). On a machine shared with other work the
# wall times wander; CPU times and the ratios much less.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
frames=200
cases=()
while (($#)); do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --case) cases+=("$2"); shift 2 ;;
    *) echo "usage: $0 [--runs N] [--frames N] [--case raw|null|ffv1|h264|4k]..." >&2; exit 2 ;;
  esac
done
((${#cases[@]})) || cases=(raw null ffv1 h264 4k)

cmake --preset default >/dev/null
cmake --build --preset default --target quillmere >/dev/null
runner=build/native/apps/quillmere

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

# Runs a command $runs times; prints "wall cpu peak_kib" of the fastest run.
measure() {
  python3 - "$runs" "$@" <<'EOF'
import resource, subprocess, sys, time, os
runs = int(sys.argv[1]); command = sys.argv[2:]
best = None
for _ in range(runs):
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1); os.dup2(devnull, 2)
        os.execvp(command[0], command)
    start = time.monotonic()
    _, status, usage = os.wait4(pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit("failed: " + " ".join(command))
    sample = (wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss)
    if best is None or sample[0] < best[0]:
        best = sample
print("%.3f %.3f %d" % best)
EOF
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%-6s | %-30s | %-30s | %s\n' case "quillmere wall/CPU/cores/RSS" \
  "ffmpeg wall/CPU/cores/RSS" "ratios wall CPU RSS"
for name in "${cases[@]}"; do
  audio_copy=()
  case "$name" in
    raw)
      make_clip main.nut 1920x1080 -an -c:v rawvideo -pix_fmt bgra
      make_clip overlay.nut 640x360 -an -c:v rawvideo -pix_fmt bgra
      main="$work/main.nut" overlay="$work/overlay.nut"
      runner_out=(--format null) ffmpeg_out=(-an -f null -) ;;
    null|ffv1|h264|4k)
      size=1920x1080
      [[ "$name" == 4k ]] && size=3840x2160
      make_clip "main-$size.mp4" "$size" -c:v libx264 -pix_fmt yuv420p -c:a aac
      make_clip overlay.mp4 640x360 -an -c:v libx264 -pix_fmt yuv420p
      main="$work/main-$size.mp4" overlay="$work/overlay.mp4"
      case "$name" in
        null|4k) runner_out=(--format null) ffmpeg_out=(-an -f null -) ;;
        ffv1)
          runner_out=(-o "$work/runner.mkv")
          ffmpeg_out=(-map 0:a -c:a copy -c:v ffv1 -level 3 -slicecrc 1 -y "$work/ffmpeg.mkv") ;;
        h264)
          runner_out=(-o "$work/runner.mp4")
          ffmpeg_out=(-map 0:a -c:a copy -c:v libx264 -crf 18 -y "$work/ffmpeg.mp4") ;;
      esac ;;
    *) echo "unknown case '$name'" >&2; exit 2 ;;
  esac
  cat "$main" "$overlay" >/dev/null  # both sides read from memory
  rm -f "$work/runner.mkv" "$work/runner.mp4"
  read -r rw rc rm < <(measure "$runner" render "$main" "${runner_out[@]}" --overlay "$overlay" \
    --mask 480,270,w960,h540 --fit --bilinear --quiet -y)
  read -r fw fc fm < <(measure ffmpeg -v error -nostdin -i "$main" -i "$overlay" \
    -filter_complex "[1]scale=960:540:flags=bilinear[o];[0][o]overlay=480:270:shortest=1[v]" \
    -map "[v]" "${ffmpeg_out[@]}")
  printf '%-6s | %6.2fs %6.2fs %4.2f %5d MiB | %6.2fs %6.2fs %4.2f %5d MiB | %s %s %s\n' \
    "$name" "$rw" "$rc" "$(ratio "$rc" "$rw")" $((rm / 1024)) \
    "$fw" "$fc" "$(ratio "$fc" "$fw")" $((fm / 1024)) \
    "$(ratio "$rw" "$fw")" "$(ratio "$rc" "$fc")" "$(ratio "$rm" "$fm")"
done
echo "($frames frames, best wall of $runs runs each, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
