#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own, headless Wine prefix. CMake uses
# it as the Windows tree's CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs every Windows test
# program through it; anyone may use it by hand the same way:
#
#   scripts/wine-run.sh build/windows/app/LumoDictGen.exe [ARGS...]
#   scripts/wine-run.sh --init BUILD_DIR      prepare BUILD_DIR's prefix, run nothing
#   scripts/wine-run.sh --prefix PROGRAM      print the prefix PROGRAM would run in
#
# The prefix is, in this order: $LUMO_WINEPREFIX; <build tree>/wine-prefix, where the build
# tree is the nearest folder above the program (or, for a program given without a path,
# above the current folder) that holds a CMakeCache.txt; $WINEPREFIX; build/windows/wine-prefix
# in the repository. So each build tree has its own prefix and tests never touch ~/.wine.
#
# On first use the prefix is created (wineboot --init), switched to the null graphics driver
# (HKCU\Software\Wine\Drivers, Graphics=null: windows and message boxes work without any X
# display) and left to settle (wineserver -w) before a program runs: a program started while
# the driver setting is still in flight can find no display and fail. A lock makes
# concurrent first uses wait for one another.
#
# LUMO_WINE_GRAPHICS=x11 runs the program with the X11 driver instead, on $DISPLAY (an Xvfb
# display, say, for screenshots), in a second prefix beside the first (wine-prefix-x11), so
# that the tests' prefix keeps the null driver.
#
# Wine's own chatter is silenced (WINEDEBUG=-all), and the Mono and Gecko installers, which
# would otherwise ask on first start, are switched off. The program's exit status is passed
# on. Set LANG (and LC_ALL) as you would for a Linux program to choose the ANSI code page:
# LANG=zh_CN.UTF-8 gives code page 936. The Wine session stays up for LUMO_WINE_PERSIST
# seconds (default 60) after the last program, so that programs run in a row start fast;
# "WINEPREFIX=<prefix> wineserver -k" ends it at once.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(dirname "$script_dir")

# The nearest folder at or above $1 that holds a CMakeCache.txt, or nothing.
find_build_tree() {
  local dir
  dir=$(cd "$1" 2>/dev/null && pwd) || return 0
  while [[ -n "$dir" && "$dir" != "/" ]]; do
    if [[ -f "$dir/CMakeCache.txt" ]]; then
      printf '%s\n' "$dir"
      return 0
    fi
    dir=$(dirname "$dir")
  done
}

# The prefix for a program path (or a build folder).
choose_prefix() {
  local suffix=""
  [[ "$graphics" == null ]] || suffix="-$graphics"
  if [[ -n "${LUMO_WINEPREFIX:-}" ]]; then
    printf '%s\n' "$LUMO_WINEPREFIX"
    return
  fi
  local start tree
  if [[ -d "$1" ]]; then
    start=$1
  elif [[ "$1" == */* ]]; then
    start=$(dirname "$1")
  else
    start=$PWD
  fi
  tree=$(find_build_tree "$start")
  if [[ -n "$tree" ]]; then
    printf '%s/wine-prefix%s\n' "$tree" "$suffix"
  elif [[ -n "${WINEPREFIX:-}" ]]; then
    printf '%s\n' "$WINEPREFIX"
  else
    printf '%s/build/windows/wine-prefix%s\n' "$repo_dir" "$suffix"
  fi
}

# Debian's /usr/bin/wine picks the 64-bit loader when there is no 32-bit Wine; wine64 is
# the loader itself on systems that name it so.
find_wine() {
  local candidate
  for candidate in wine wine64 /usr/lib/wine/wine64; do
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return
    fi
  done
  echo "wine-run.sh: Wine is not installed (run scripts/setup.sh)" >&2
  exit 127
}

find_wineserver() {
  local candidate
  for candidate in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return
    fi
  done
  echo "wine-run.sh: wineserver not found" >&2
  exit 127
}

# Bump when the preparation below changes, so that existing prefixes are prepared again.
readonly prefix_version=1

prepare_prefix() {
  local marker="$WINEPREFIX/.lumo-prefix-ready"
  [[ -f "$marker" && "$(cat "$marker")" == "$prefix_version" ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [[ ! -f "$marker" || "$(cat "$marker")" != "$prefix_version" ]]; then
    echo "wine-run.sh: preparing Wine prefix $WINEPREFIX" >&2
    # No display during preparation: the null driver is not set yet, and an X display
    # that happens to be around must not become part of the prefix.
    env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot --init </dev/null >/dev/null 2>&1 || {
      echo "wine-run.sh: wineboot --init failed for $WINEPREFIX" >&2
      exit 1
    }
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$graphics" /f \
      </dev/null >/dev/null 2>&1 || {
      echo "wine-run.sh: could not select the $graphics graphics driver in $WINEPREFIX" >&2
      exit 1
    }
    # Let every process of the prefix end and the registry reach the disk.
    "$wineserver" -w
    printf '%s\n' "$prefix_version" >"$marker"
  fi
  flock -u 9
  exec 9>&-
}

if [[ $# -eq 0 ]]; then
  echo "usage: wine-run.sh PROGRAM [ARGS...] | --init BUILD_DIR | --prefix PROGRAM" >&2
  exit 2
fi

graphics=${LUMO_WINE_GRAPHICS:-null}
case "$graphics" in
  null | x11) ;;
  *) echo "wine-run.sh: LUMO_WINE_GRAPHICS must be null or x11" >&2; exit 2 ;;
esac

mode=run
case "$1" in
  --init) mode=init; shift ;;
  --prefix) mode=prefix; shift ;;
esac
target=${1:-$PWD}

WINEPREFIX=$(choose_prefix "$target")
if [[ "$mode" == prefix ]]; then
  printf '%s\n' "$WINEPREFIX"
  exit 0
fi

# Wine stores Windows file names in the Unix locale's character set: in the plain C locale
# a file named in Chinese cannot be created at all. Such a locale becomes C.UTF-8, which
# leaves the ANSI code page as it was (1252).
ctype=${LC_ALL:-${LC_CTYPE:-${LANG:-}}}
case "$ctype" in
  "" | C | POSIX)
    if [[ -n "${LC_ALL:-}" ]]; then
      export LC_ALL=C.UTF-8
    else
      export LC_CTYPE=C.UTF-8
    fi
    ;;
esac

export WINEPREFIX
export WINEDEBUG=-all
# Disable the .NET and HTML engines (their installers would prompt) and the menu builder,
# which would write desktop entries into the user's home.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
export WINEARCH=win64

wine=$(find_wine)
wineserver=$(find_wineserver)
prepare_prefix

# Keep the prefix's Wine session running between programs. The first program of a session
# starts Wine's own background processes (services, devices, the desktop), and they would
# inherit its output: ctest would then wait about a second after every test until they have
# gone. So a new session is started here, persisting for $LUMO_WINE_PERSIST seconds after
# its last program, with its background processes writing to /dev/null. When a session is
# already running, "wineserver -p" refuses at once and nothing more is needed.
if "$wineserver" -p"${LUMO_WINE_PERSIST:-60}" </dev/null >/dev/null 2>&1; then
  "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
fi

if [[ "$mode" == init ]]; then
  exit 0
fi
exec "$wine" "$@"
