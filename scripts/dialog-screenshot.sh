#!/bin/sh
# Shows the options dialog of the built .flt under Xvfb with Wine's X11 graphics driver, in a Wine prefix
# of its own (the tests' prefix keeps the null driver), and saves a picture of it as docs/options-dialog.png.
# Usage: scripts/dialog-screenshot.sh [win32 build directory, default build/win32] [options word, default 0]
# Installs Xvfb, ImageMagick and the X utilities when they are missing (as root; idempotent).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
word=${2:-0}
picture=$root/docs/options-dialog.png

[ -f "$build/kestrovan_vox.flt" ] && [ -f "$build/show_options_dialog.exe" ] ||
  { echo "dialog-screenshot: build the win32 preset into $build first" >&2; exit 1; }

missing=""
for package in xvfb xauth x11-utils imagemagick fonts-wine; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing="$missing $package"
done
if [ -n "$missing" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "dialog-screenshot: missing packages:$missing (run as root)" >&2; exit 1; }
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

export WINEPREFIX="$build/wineprefix-x11" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$root/docs"

# Wine draws the caption buttons with glyphs of the Marlett font ("r" is the close box's cross), which this
# Wine does not find among its own fonts; without it the close box shows a letter "r". The prefix gets it
# from fonts-wine, in the folder of the fonts Windows has installed.
fonts="$WINEPREFIX/drive_c/windows/Fonts"

# Everything that needs the display runs inside one xvfb-run. With no window manager on the virtual
# screen, Wine draws the caption and frame itself.
xvfb-run -a -s "-screen 0 640x480x24" sh -eu -c '
  build=$1 word=$2 picture=$3
  if [ ! -f "$WINEPREFIX/.kvox-x11-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.kvox-x11-ready"
  fi
  mkdir -p "$4"
  cp -n /usr/share/wine/fonts/marlett.ttf "$4/"
  cd "$build"
  # The program presses the dialog'"'"'s close box itself after 10 seconds, so nothing is left running.
  wine show_options_dialog.exe "$word" 10 >/dev/null 2>&1 &
  shown=$!
  window=""
  for attempt in $(seq 1 100); do
    window=$(xwininfo -root -tree 2>/dev/null | sed -n "s/^ *\(0x[0-9a-f]*\) \"Kestrovan VOX\".*/\1/p" | head -n 1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "dialog-screenshot: the dialog did not show" >&2; wineserver -k; exit 1; }
  sleep 2  # let it paint
  import -window "$window" "$picture"
  wait "$shown" || true
  wineserver -w
' dialog-screenshot "$build" "$word" "$picture" "$fonts"

echo "dialog-screenshot: saved $picture"
