#!/usr/bin/env bash
# A render cut into segments on a real Slurm: starts a one-machine cluster
# (scripts/slurm/local-cluster.sh), submits the segments as a job array and
# the join as a job depending on it (scripts/slurm/submit.sh), waits for the
# join (bounded), and compares the joined video with the same job rendered
# whole: every decoded frame with its timestamp, and the audio packets.
# Where the cluster cannot start (not root, Slurm missing) it says so and
# exits 77, which the test suite reports as skipped, never as passed.
#
#   tests/slurm/slurm_segments_test.sh QUILLMERE SOURCE_DIR
set -euo pipefail

quillmere=$(realpath "$1")
source_dir=$(realpath "$2")
readonly kWaitSeconds=300
readonly kSegments=4

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-slurm-XXXXXX")
# munged runs as its own user and must reach its socket in there.
chmod 0755 "$scratch"
cluster="$scratch/cluster"
cluster_script="$source_dir/scripts/slurm/local-cluster.sh"
cleanup() {
  "$cluster_script" stop "$cluster" >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "slurm test: $*" >&2
  for log in "$scratch"/work/logs/*.log "$cluster"/log/*.log; do
    [[ -s "$log" ]] && { echo "--- $log" >&2; tail -n 15 "$log" >&2; }
  done
  exit 1
}

status=0
"$cluster_script" start "$cluster" || status=$?
if ((status == 77)); then
  echo "slurm test: SKIPPED: the one-machine Slurm cluster cannot start here (see above)" >&2
  exit 77
fi
((status == 0)) || fail "the cluster script failed ($status)"
run() { "$cluster_script" run "$cluster" "$@"; }

cd "$scratch"
ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi \
  -i sine=frequency=330:sample_rate=48000 -t 1.6 -c:v libx264 -g 12 -bf 2 \
  -pix_fmt yuv420p -c:a aac -shortest main.mkv
ffmpeg -v error -f lavfi -i mandelbrot=size=32x24:rate=25 -t 0.6 -c:v ffv1 clip.mkv
options=(--overlay clip.mkv --mask 8,8,w32,h24 --border 2 --shadow gradient-random
  --shadow-size 6 --repeat --seed 31)

"$quillmere" render main.mkv -o whole.mkv -q "${options[@]}"

# Waits (bounded) until job $1 ends, and prints the state it ended in.
wait_for_job() {
  local deadline=$((SECONDS + kWaitSeconds)) state=
  while ((SECONDS < deadline)); do
    state=$(run scontrol show job "$1" 2>/dev/null | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p')
    case "$state" in
      COMPLETED | FAILED | CANCELLED | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY)
        echo "$state"
        return
        ;;
    esac
    sleep 1
  done
  echo "unfinished after ${kWaitSeconds}s (${state:-unknown})"
}
join_id() { sed -n 's/.*join: job \([0-9]*\).*/\1/p' <<<"$1"; }

hashes() { ffmpeg -v error -i "$1" -map "0:$2" ${3:+-c copy} -f framemd5 -; }
same_as_whole() {
  [[ "$(hashes "$1" v)" == "$(hashes whole.mkv v)" ]] || fail "$1: the frames differ from the whole render's"
  [[ "$(hashes "$1" a copy)" == "$(hashes whole.mkv a copy)" ]] ||
    fail "$1: the audio differs from the whole render's"
  local frames
  frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1")
  [[ "$frames" == 40 ]] || fail "$1 has $frames frames, not 40"
}

# The runner as a node might run it: segment 2 is killed the first time,
# as a node lost mid-render would leave it.
flaky="$scratch/flaky-quillmere"
cat >"$flaky" <<FLAKY
#!/usr/bin/env bash
if [[ " \$* " == *" --segment 2/$kSegments "* && -e "$scratch/kill-segment-2" ]]; then
  rm -f "$scratch/kill-segment-2"
  kill -KILL \$\$
fi
exec "$quillmere" "\$@"
FLAKY
chmod +x "$flaky"
touch "$scratch/kill-segment-2"

mkdir submitted-from
submitted=$(cd submitted-from && run "$source_dir/scripts/slurm/submit.sh" -n "$kSegments" \
  -w ../work -o ../joined.mkv -q "$flaky" -- ../main.mkv -q \
  "${options[@]/#clip.mkv/../clip.mkv}") || fail "submitting failed"
echo "slurm test: $submitted" >&2
join=$(join_id "$submitted")
[[ -n "$join" ]] || fail "no join job id in: $submitted"
state=$(wait_for_job "$join")
[[ "$state" == CANCELLED ]] || fail "with segment 2 killed, the join ended '$state', not CANCELLED"
[[ ! -e joined.mkv ]] || fail "a join was written without segment 2"
rerun=$(sed -n 's/^if segments fail: \([^ ]*\) K.*/\1/p' <<<"$submitted")
[[ -x "$rerun" ]] || fail "submit.sh printed no re-run command: $submitted"

# The re-run as printed, from another folder.
resubmitted=$(cd / && run "$rerun" 2) || fail "the re-run failed"
echo "slurm test: $resubmitted" >&2
state=$(wait_for_job "$(join_id "$resubmitted")")
[[ "$state" == COMPLETED ]] || fail "the join after the re-run ended '$state'"
same_as_whole joined.mkv

# The self-contained script of segments --slurm, submitted from elsewhere.
"$quillmere" segments main.mkv "$kSegments" --slurm -o script-joined.mkv -- -q "${options[@]}" \
  >job.sh || fail "segments --slurm failed"
submitted=$(cd / && QUILLMERE=$quillmere run bash "$scratch/job.sh") ||
  fail "the segments --slurm script failed"
state=$(wait_for_job "$(join_id "$submitted")")
[[ "$state" == COMPLETED ]] || fail "the segments --slurm join ended '$state'"
same_as_whole script-joined.mkv
echo "slurm test: segments on Slurm, one killed and run again, and the segments --slurm" \
  "script, each joined into the whole render's 40 frames and its audio" >&2
