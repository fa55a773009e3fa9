#!/usr/bin/env bash
# The main job on its built-in default: installs what is missing, builds the
# runner if stale, and renders the demo composite into ./demo-output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset default >/dev/null
cmake --build --preset default --target quillmere
build/native/apps/quillmere demo -y -o "${1:-demo-output}"
