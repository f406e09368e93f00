#!/bin/sh
# Makes the Wine prefix of a win32 build tree once (about 15 s the first time) and sets Wine's null
# graphics driver, so dialogs run headless.
set -eu
prefix=$1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ ! -f "$prefix/.kvox-ready" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.kvox-ready"
fi
