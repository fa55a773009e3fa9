#!/usr/bin/env bash
# The main job on its built-in default: installs what building the runner
# needs (nothing of the test suite's), builds the runner if stale, and
# renders the demo composite into ./demo-output (or the folder given),
# replacing an earlier demo there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh demo

cmake --preset runner >/dev/null
cmake --build --preset runner --target quillmere
build/runner/apps/quillmere demo -y -o "${1:-demo-output}"
echo "The runner: $PWD/build/runner/apps/quillmere"
