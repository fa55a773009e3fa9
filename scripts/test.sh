#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the 32-bit Windows
# module and the native build (only what is stale), then runs every test,
# the ones that load the real module under Wine included, builds the Debian
# package and runs the runner from it, and finally runs the native tests
# once more under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (the Wine tests run the unsanitised Windows build, so they
# are left out of that second round).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default "$@"
scripts/package-test.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -LE wine "$@"
