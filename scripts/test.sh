#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the 32-bit Windows
# module and the native build (only what is stale), then runs every test,
# the ones that load the real module under Wine included, builds the Debian
# package and runs the runner from it, and finally runs the native tests
# once more under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (the Wine tests run the unsanitised Windows build, so they
# are left out of that second round). Last, when clang is installed
# (setup installs it), a short fuzzing round: each libFuzzer target for a
# fixed time from its seed corpus (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --preset default >/dev/null
cmake --build --preset default
# The native tests two at a time (each works in a scratch folder of its
# own); the Wine tests one at a time, as they share a Wine prefix.
ctest --preset default -LE wine -j2 "$@"
ctest --preset default -L wine "$@"
scripts/package-test.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -LE wine -j2 "$@"
if command -v clang++-14 >/dev/null; then
  scripts/fuzz.sh "${QUILLMERE_FUZZ_SECONDS:-20}"
else
  echo "test: clang++-14 not installed; the fuzzing round is skipped" >&2
fi
