#!/usr/bin/env bash
# Quick start: installs what is missing, builds LumoDictGen.exe and starts it under Wine
# on this desktop, saying at each step what it does. Without a display it says so,
# converts the sample word list with ldic instead and shows the command.
#
# The builds' own output goes to build/run.log; when a step fails, its end is shown.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
log=$repo/build/run.log
: >"$log"
started=$SECONDS

step() { printf '\n== %s\n' "$*"; }
# Stops with the end of the log when a command failed.
fail() {
  printf '\nrun.sh: %s failed; the end of its output (all of it is in %s):\n\n' "$1" "$log" >&2
  tail -n 25 "$log" >&2
  exit 1
}
# Runs a command with its output in the log; on a terminal, shows the build's percentage.
quietly() {
  local what=$1 line
  shift
  echo "\$ $*" >>"$log"
  if [[ -t 1 ]]; then
    rm -f "$log.status"
    { "$@" 2>&1 || echo "$?" >"$log.status"; } | tee -a "$log" | while IFS= read -r line; do
      if [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then printf '\r   %3s%%' "${BASH_REMATCH[1]}"; fi
    done
    printf '\r       \r'
    [[ ! -e "$log.status" ]] || { rm -f "$log.status"; fail "$what"; }
  else
    "$@" >>"$log" 2>&1 || fail "$what"
  fi
}
# The locale the Chinese texts are drawn in: Wine picks its fonts and code page by it.
chinese=(LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8)

step "1/4 Installing what this machine lacks (scripts/setup.sh: apt-get, Wine, mingw-w64, fonts; on a fresh machine this takes several minutes)"
bash scripts/setup.sh || fail "scripts/setup.sh"

step "2/4 Building ldic natively (build/native)"
quietly "configuring build/native" cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=ON
quietly "building ldic" cmake --build build/native -j"$jobs" --target ldic

step "3/4 Building LumoDictGen.exe and ldic.exe with mingw-w64 (build/windows; the first build takes several minutes)"
quietly "configuring build/windows" cmake -S . -B build/windows \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" -DCMAKE_BUILD_TYPE=Release
quietly "building LumoDictGen.exe" cmake --build build/windows -j"$jobs" --target LumoDictGen ldic
echo "   built in $((SECONDS - started)) s: build/windows/app/LumoDictGen.exe"

if [[ -n "${DISPLAY:-}" ]]; then
  step "4/4 Starting LumoDictGen.exe under Wine on display $DISPLAY, in the Chinese locale (the first start prepares Wine's folder build/windows/wine-prefix-x11, about a minute)"
  exec env "${chinese[@]}" LUMO_WINE_GRAPHICS=x11 scripts/wine-run.sh build/windows/app/LumoDictGen.exe
fi

step "4/4 No display is available (DISPLAY is not set), so the dialog cannot be shown here"
echo "On a desktop, this command starts it:"
echo "  ${chinese[*]} LUMO_WINE_GRAPHICS=x11 scripts/wine-run.sh build/windows/app/LumoDictGen.exe"
echo "scripts/screenshot.sh shows it on a virtual display and saves a picture instead."
echo
echo "Meanwhile, the same conversion from the command line:"
mkdir -p build/sample
cmd=(build/native/cli/ldic convert samples/fruit.txt -o build/sample/fruit.ldic --name Fruit --author LumoDictGen)
echo "  ${cmd[*]}"
"${cmd[@]}"
echo "The package is at $repo/build/sample/fruit.ldic"
