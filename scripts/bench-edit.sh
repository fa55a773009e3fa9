#!/usr/bin/env bash
# How quickly quillmere edit answers the page, and how much memory it takes:
# over the loopback interface with the page's own requests (a settings
# change and a drag release to the new 1080p picture, a scrub to a random
# frame of a 1080p H.264 main with a 2 s GOP, playback at a 960-wide
# preview, the process's peak memory), printed as a table.
#
#   scripts/bench-edit.sh [--changes N] [--seeks N] [--minutes M] [--play N] [--folder DIR]
#   scripts/bench-edit.sh --browser [--changes N] [--seeks N] [--minutes M]
#
# --browser measures in the page itself instead, with the browser's
# Performance API (Chromium, chromedriver and python3-selenium, as
# `scripts/setup.sh test` installs). QUILLMERE=PROGRAM measures another
# build of the runner instead of building this one. Making the main takes
# a minute or more; --folder keeps it for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
program=${QUILLMERE:-}
if [[ -z $program ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target quillmere >/dev/null
  program=build/native/apps/quillmere
fi
bench=bench/edit_speed.py
if [[ ${1:-} == --browser ]]; then
  shift
  bench=bench/edit_latency.py
fi
# Debian's own Python, which has python3-selenium for the shared harness.
exec /usr/bin/python3 "$bench" --quillmere "$program" "$@"
