#!/usr/bin/env bash
# One Wine test: skipped (exit 77) when the Windows program was not built.
# Usage: wine-test.sh PREFIX_DIR PROGRAM [ARGUMENTS...]
set -euo pipefail
prefix=$1
program=$2
if [ ! -f "$program" ]; then
  echo "skipped: $program has not been built (cmake --preset win32)" >&2
  exit 77
fi
shift
exec "$(dirname "$0")/run-wine.sh" "$prefix" "$@"
