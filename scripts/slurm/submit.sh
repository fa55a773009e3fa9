#!/usr/bin/env bash
# Submits one quillmere render to Slurm as N segments: a job array of N
# tasks (segment.sbatch), each rendering its own segment into a shared work
# folder, and a join job (join.sbatch) that runs once all of them have
# succeeded and writes the finished video.
#
#   scripts/slurm/submit.sh -n N -w WORK -o OUT [-q QUILLMERE] [-s SBATCH_OPTION]... \
#       -- MAIN [render options]
#
#   -n N              the number of segments (quillmere segments MAIN N shows them)
#   -w WORK           a folder every node sees (segments and logs go there)
#   -o OUT            the finished video
#   -q QUILLMERE      the runner, as the nodes find it (default: quillmere)
#   -s SBATCH_OPTION  an option for both sbatch calls (--partition=..., --time=...);
#                     repeatable
#
# The jobs start in the folder submit.sh was run from, so relative paths in
# the render options mean what they mean here. Prints the array's and the
# join's job ids, and writes WORK/resubmit.sh: run with the indices of
# failed segments ("3" or "3,5"), from anywhere, it submits those segments
# again and a join that waits for them.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
usage() {
  sed -n '6,8p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

segments= work= output= quillmere=quillmere
sbatch_options=()
while getopts 'n:w:o:q:s:h' option; do
  case "$option" in
    n) segments=$OPTARG ;;
    w) work=$OPTARG ;;
    o) output=$OPTARG ;;
    q) quillmere=$OPTARG ;;
    s) sbatch_options+=("$OPTARG") ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[[ -n "$segments" && -n "$work" && -n "$output" && $# -ge 1 ]] || usage
[[ "$segments" =~ ^[1-9][0-9]*$ ]] || { echo "submit: -n takes a positive whole number" >&2; exit 2; }

extension=
[[ "$(basename "$output")" == *.* ]] && extension=".${output##*.}"
[[ -n "$extension" ]] || { echo "submit: $output has no extension to choose its container by" >&2; exit 2; }

mkdir -p "$work/logs"
work=$(cd "$work" && pwd)
# Refuses at once what every segment would refuse (a main with fewer frames
# than segments, an option mistake), shows where the seams fall, and writes
# the manifest from which each segment reads only its part of the main.
"$quillmere" segments "$1" "$segments" --manifest "$work/manifest.json" -- "${@:2}" >&2

output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
# The runner as the nodes find it: a relative path is made absolute, a bare
# name is looked up on the nodes' PATH.
[[ "$quillmere" == */* ]] && quillmere=$(cd "$(dirname "$quillmere")" && pwd)/$(basename "$quillmere")

# Everything a submission needs, kept in the work folder, so that a re-run
# of some segments is one command from any folder, long after this shell.
resubmit="$work/resubmit.sh"
{
  echo '#!/usr/bin/env bash'
  echo '# Submits segments of this job again (all: 0-N-1, or some: "3", "3,5"),'
  echo '# and a join that waits for them. Written by submit.sh.'
  echo 'set -euo pipefail'
  printf 'tasks=${1:?give the indices of the segments to run again, e.g. 3 or 3,5}\n'
  printf 'export QUILLMERE=%q QUILLMERE_SEGMENTS=%q QUILLMERE_WORK=%q\n' \
    "$quillmere" "$segments" "$work"
  printf 'export QUILLMERE_EXTENSION=%q QUILLMERE_OUTPUT=%q\n' "$extension" "$output"
  printf 'export QUILLMERE_MANIFEST=%q\n' "$work/manifest.json"
  printf 'options=(' && printf ' %q' "${sbatch_options[@]}" --chdir="$PWD" && echo ' )'
  printf 'arguments=(' && printf ' %q' "$@" && echo ' )'
  printf 'here=%q\n' "$here"
  cat <<'SUBMIT'
array=$(sbatch --parsable "${options[@]}" --array="$tasks" \
  --output="$QUILLMERE_WORK/logs/segment-%a.log" "$here/segment.sbatch" "${arguments[@]}")
array=${array%%;*}
# A failed segment leaves the join waiting; --kill-on-invalid-dep ends it.
join=$(sbatch --parsable "${options[@]}" --dependency="afterok:$array" \
  --kill-on-invalid-dep=yes --output="$QUILLMERE_WORK/logs/join.log" "$here/join.sbatch")
join=${join%%;*}
echo "segments: job $array (array $tasks); join: job $join"
SUBMIT
} >"$resubmit"
chmod +x "$resubmit"

"$resubmit" "0-$((segments - 1))"
echo "if segments fail: $resubmit K[,K...] runs them again, then the join"
