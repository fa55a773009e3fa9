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
# Paths are taken as given: relative ones are relative to this folder, where
# Slurm starts the jobs. Prints the array's and the join's job ids.
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

# Refuses at once what every segment would refuse (a main with fewer frames
# than segments, an option mistake), and shows where the seams fall.
"$quillmere" segments "$1" "$segments" >&2

mkdir -p "$work/logs"
export QUILLMERE=$quillmere QUILLMERE_SEGMENTS=$segments QUILLMERE_WORK=$work
export QUILLMERE_EXTENSION=$extension QUILLMERE_OUTPUT=$output

array=$(sbatch --parsable "${sbatch_options[@]}" --array="0-$((segments - 1))" \
  --output="$work/logs/segment-%a.log" "$here/segment.sbatch" "$@")
array=${array%%;*}
# A failed segment leaves the join waiting; --kill-on-invalid-dep ends it.
join=$(sbatch --parsable "${sbatch_options[@]}" --dependency="afterok:$array" \
  --kill-on-invalid-dep=yes --output="$work/logs/join.log" "$here/join.sbatch")
join=${join%%;*}
echo "segments: job $array (array 0-$((segments - 1))); join: job $join"
