#!/usr/bin/env bash
# How quickly quillmere edit's page answers, measured in the browser with its
# Performance API through the page tests' WebDriver harness: a settings
# change to the new 1080p picture, and scrubbing to random frames of
# 10-minute 1080p H.264 clips with a key frame every 2 s and every 10 s.
#
#   scripts/bench-edit.sh [--changes N] [--seeks N] [--minutes M]
#
# Needs what `scripts/setup.sh test` installs (Chromium, chromedriver,
# python3-selenium, ffmpeg). Making the two clips takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target quillmere >/dev/null
# Debian's own Python, which has python3-selenium.
exec /usr/bin/python3 bench/edit_latency.py --quillmere build/native/apps/quillmere "$@"
