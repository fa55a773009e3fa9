#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, ASan + UBSan) and runs
# each for a fixed budget from its seed corpus, with its dictionary. A target
# that finds a crash, a leak, undefined behaviour or a failed property stops
# the round; the input that did it is kept in build/fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# The default budget (20 s per target) keeps the round, build included,
# within a few minutes on two cores. The corpus each run grows is kept in
# build/fuzz/corpus/ and reused by the next round.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
read -r -a targets <"$build/fuzz/fuzz_targets.txt"
if (($#)); then
  targets=("$@")
fi

mkdir -p "$build/corpus" "$build/findings" "$build/logs"
failed=()
for target in "${targets[@]}"; do
  name=${target%_fuzzer}
  target=${name}_fuzzer
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  options=(-seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192
           -print_final_stats=1 -artifact_prefix="$build/findings/$name-")
  if [[ -f fuzz/dictionaries/$name.dict ]]; then
    options+=(-dict="fuzz/dictionaries/$name.dict")
  fi
  log="$build/logs/$name.log"
  if "$build/fuzz/$target" "${options[@]}" "$corpus" "$build/fuzz/seeds/$name" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $name: ${runs:-?} runs in ${seconds} s, nothing found"
  else
    echo "fuzz: $name: FOUND something, see $log and $build/findings/" >&2
    failed+=("$name")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
