#!/usr/bin/env bash
# The mutated-media runs at a larger scale than the test suite's: every clip
# (AVI, MP4, MKV, JPEG) x damage (truncation, bit flips, header fields) x role
# (main, overlay) with SEEDS seeds each (default 100: 2,400 runs), then a
# summary of exit statuses and peak memory.
#
#   scripts/mutated-media.sh [SEEDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seeds=${1:-100}
cmake --preset default >/dev/null
cmake --build --preset default --target apps_tests quillmere >/dev/null

report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
QUILLMERE_MUTATION_SEEDS=$seeds QUILLMERE_MUTATION_REPORT=$report \
  build/native/tests/apps/apps_tests --gtest_filter='Clips/MutatedMedia.*' --gtest_brief=1 ||
  status=$?

awk '{ runs++; exits[$2]++; if ($3 > peak) { peak = $3; at = $1 } }
     END {
       printf "mutated media: %d runs", runs
       for (code in exits) printf ", exit %s: %d", code, exits[code]
       printf "; largest peak %d KiB (%s)\n", peak, at
     }' "$report"
exit $status
