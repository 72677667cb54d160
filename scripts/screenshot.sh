#!/usr/bin/env bash
# Starts LumoDictGen.exe under Wine on a virtual X display (Xvfb, with Wine's X11 driver)
# and saves a picture of its window.
#
#   scripts/screenshot.sh [PROGRAM] [OUTPUT.png]
#   scripts/screenshot.sh --installer [SETUP.exe] [OUTPUT.png]
#
# PROGRAM defaults to build/windows/app/LumoDictGen.exe, OUTPUT to docs/screenshot.png.
# The program runs in the X11 prefix of scripts/wine-run.sh, with the Chinese locale so
# that the dialog's texts are drawn with a CJK font.
#
# --installer pictures the installer's first page instead: SETUP.exe defaults to the
# newest dist/LumoDictGen-*-setup.exe (scripts/release.sh makes it), OUTPUT to
# docs/installer.png. It runs in a Wine prefix and home of its own under build/, so that
# nothing it might write reaches another prefix or your home; it is closed, not run.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [[ "${1:-}" == --installer ]]; then
  shift
  program=${1:-$(ls -t "$repo"/dist/LumoDictGen-*-setup.exe 2>/dev/null | head -1)}
  output=${2:-$repo/docs/installer.png}
  export LUMO_WINEPREFIX=$repo/build/installer-screenshot/wine-prefix-x11
  export HOME=$repo/build/installer-screenshot/home
  mkdir -p "$HOME"
  [[ -f "$program" ]] || { echo "screenshot.sh: no installer found; run scripts/release.sh first" >&2; exit 1; }
else
  program=${1:-$repo/build/windows/app/LumoDictGen.exe}
  output=${2:-$repo/docs/screenshot.png}
fi
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
[[ -f "$program" ]] || { echo "screenshot.sh: $program not found; build the Windows tree first" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "screenshot.sh: Xvfb missing (scripts/setup.sh installs it)" >&2; exit 1; }
mkdir -p "$(dirname "$output")"

# A free display number.
display=99
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
program_pid=
prefix=$(LUMO_WINE_GRAPHICS=x11 "$repo/scripts/wine-run.sh" --prefix "$program")
cleanup() {
  [[ -n "$program_pid" ]] && kill "$program_pid" 2>/dev/null || true
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1

export DISPLAY=":$display" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# Xvfb has no window manager: let Wine draw the caption and frame itself.
(cd "$(dirname "$program")" && LUMO_WINE_GRAPHICS=x11 "$repo/scripts/wine-run.sh" reg add \
  'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1) || true
LUMO_WINE_GRAPHICS=x11 "$repo/scripts/wine-run.sh" "$program" >/dev/null 2>&1 &
program_pid=$!

# Wait for the dialog to be drawn: the screen stops being one plain colour.
for _ in $(seq 1 60); do
  sleep 1
  colours=$(import -silent -window root -colors 8 -format '%k' info:- 2>/dev/null || echo 1)
  [[ "$colours" -gt 2 ]] && break
done
sleep 2
# The desktop is black; trimming it leaves the window.
import -silent -window root -trim +repage "$output"
echo "screenshot saved to $output"
