#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine on a virtual X display, with a
# Wine prefix of its own inside the build folder.
# Usage: run-wine.sh PREFIX_DIR PROGRAM [ARGUMENTS...]
set -euo pipefail
prefix=$1
shift
mkdir -p "$prefix"
export WINEPREFIX
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # First use: create the prefix once, quietly.
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
if [ ! -f "$WINEPREFIX/.windows-unmanaged" ]; then
  # There is no window manager on the virtual display: windows that wait for
  # one to withdraw them stall for seconds each time they close.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
    wineserver -w && touch "$WINEPREFIX/.windows-unmanaged" || true
fi
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
