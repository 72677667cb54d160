#!/usr/bin/env bash
# Starts LumoDictGen.exe under Wine on a virtual X display (Xvfb, with Wine's X11 driver)
# and saves a picture of its window.
#
#   scripts/screenshot.sh [PROGRAM] [OUTPUT.png]
#   scripts/screenshot.sh --installer [SETUP.exe] [OUTPUT.png]
#   scripts/screenshot.sh --installer-pages [--dpi N] [SETUP.exe] [FOLDER]
#   scripts/screenshot.sh --dialog-steps [--dpi N] [PROGRAM] [FOLDER]
#   scripts/screenshot.sh --preview [--dpi N] [PROGRAM] [OUTPUT.png]
#
# PROGRAM defaults to build/windows/app/LumoDictGen.exe, OUTPUT to docs/screenshot.png.
# The program runs in the X11 prefix of scripts/wine-run.sh, with the Chinese locale so
# that the dialog's texts are drawn with a CJK font.
#
# --installer pictures the installer's first page instead: SETUP.exe defaults to the
# newest dist/LumoDictGen-*-setup.exe (scripts/release.sh makes it), OUTPUT to
# docs/installer.png. It runs in a Wine prefix and home of its own under build/, so that
# nothing it might write reaches another prefix or your home; it is closed, not run.
#
# --installer-pages goes through every page of the installer and then of its uninstaller
# as a user pressing Enter does, and saves one picture per page into FOLDER (default
# build/installer-pages/DPI): setup-1.png, setup-2.png, ..., uninstall-1.png, ... The
# installer really installs, into a fresh Wine prefix of its own under build/, whose
# screen has N dots per inch (default 96; 144 is Windows' 150 %). A page that passes by
# on its own (the progress of a quick install) may be missed.
#
# --dialog-steps goes through a first conversion as a user does, in a fresh Wine prefix of
# its own under build/ whose screen has N dots per inch (default 96), where LumoDict's
# settings file exists, so that "转换后添加到Lumo词典" is ticked. It saves into FOLDER
# (default build/dialog-steps/DPI): start.png (the first start), filled.png (the word list
# C:\Lumo\fruit.txt typed in, which fills in the rest), registered.png (after "转换", the
# box alone that says the package was added to LumoDict), done.png (that box closed: the
# status line and "打开所在文件夹"), menu.png (the system menu, whose Wine adds an item of
# its own) and about.png (the About box alone).
#
# --preview types the path of a small word list (samples/fruit.txt and a line it skips)
# into the dialog, opens its preview window and saves a picture of that window alone,
# OUTPUT defaulting to build/preview-screenshot/preview-N.png. It runs in a Wine prefix of
# its own under build/ whose screen has N dots per inch (default 96).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
pages=0
steps=0
dpi=96
preview=0
if [[ "${1:-}" == --dialog-steps ]]; then
  shift
  [[ "${1:-}" == --dpi ]] && { dpi=$2; shift 2; }
  steps=1
  program=${1:-$repo/build/windows/app/LumoDictGen.exe}
  output=${2:-$repo/build/dialog-steps/$dpi}
  rm -rf "$repo/build/dialog-steps/wine-$dpi" "$output"
  export LUMO_WINEPREFIX=$repo/build/dialog-steps/wine-$dpi/prefix
  export HOME=$repo/build/dialog-steps/wine-$dpi/home
  mkdir -p "$HOME" "$output"
elif [[ "${1:-}" == --preview ]]; then
  shift
  [[ "${1:-}" == --dpi ]] && { dpi=$2; shift 2; }
  preview=1
  program=${1:-$repo/build/windows/app/LumoDictGen.exe}
  output=${2:-$repo/build/preview-screenshot/preview-$dpi.png}
  rm -rf "$repo/build/preview-screenshot/wine-$dpi"
  export LUMO_WINEPREFIX=$repo/build/preview-screenshot/wine-$dpi/prefix
  export HOME=$repo/build/preview-screenshot/wine-$dpi/home
  mkdir -p "$HOME"
  list=$repo/build/preview-screenshot/fruit.txt
  { cat "$repo/samples/fruit.txt"; printf 'a line without a separator\n'; } > "$list"
elif [[ "${1:-}" == --installer-pages ]]; then
  shift
  [[ "${1:-}" == --dpi ]] && { dpi=$2; shift 2; }
  pages=1
  program=${1:-$(ls -t "$repo"/dist/LumoDictGen-*-setup.exe 2>/dev/null | head -1)}
  output=${2:-$repo/build/installer-pages/$dpi}
  rm -rf "$repo/build/installer-pages/wine-$dpi" "$output"
  export LUMO_WINEPREFIX=$repo/build/installer-pages/wine-$dpi/prefix
  export HOME=$repo/build/installer-pages/wine-$dpi/home
  mkdir -p "$HOME" "$output"
  [[ -f "$program" ]] || { echo "screenshot.sh: no installer found; run scripts/release.sh first" >&2; exit 1; }
elif [[ "${1:-}" == --installer ]]; then
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
((!pages && !steps && !preview)) || command -v xdotool >/dev/null ||
  { echo "screenshot.sh: xdotool missing (scripts/setup.sh installs it)" >&2; exit 1; }
mkdir -p "$(dirname "$output")"

# A free display number.
display=99
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x960x24 -nolisten tcp >/dev/null 2>&1 &
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
wine_x11() { (cd "$(dirname "$program")" && LUMO_WINE_GRAPHICS=x11 "$repo/scripts/wine-run.sh" "$@"); }
wine_x11 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
if ((pages || steps || preview)); then
  wine_x11 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true  # the next start reads the new DPI
fi

# Whether a window is drawn: the screen is no longer one plain colour.
drawn() { [[ $(import -silent -window root -colors 8 -format '%k' info:- 2>/dev/null || echo 1) -gt 2 ]]; }
wait_drawn() { for _ in $(seq 1 "$1"); do sleep 1; drawn && return 0; done; return 1; }
screen() { import -silent -window root -format '%#' info:- 2>/dev/null; }
# The desktop is black; trimming it leaves the window.
save() { import -silent -window root -trim +repage "$1"; echo "screenshot saved to $1"; }

# Saves each page of the wizard whose window title holds TITLE as NAME-1.png, ...: a
# page, Enter, and the next page once the screen changed, until the window is gone (the
# program the finish page starts is not pictured).
save_pages() {
  local name=$1 title=$2 page=1 before window=
  for _ in $(seq 1 60); do
    sleep 1
    window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1) && [[ -n $window ]] && break
  done
  [[ -n $window ]] || { echo "screenshot.sh: $name showed no window" >&2; return 1; }
  while xdotool search --onlyvisible --name "$title" >/dev/null 2>&1 && ((page <= 12)); do
    sleep 2
    save "$output/$name-$page.png"
    before=$(screen)
    xdotool windowfocus "$window" key Return 2>/dev/null || true
    for _ in $(seq 1 30); do
      sleep 0.5
      [[ $(screen) != "$before" ]] && break
    done
    page=$((page + 1))
  done
}

# The id of the visible window whose title holds $1, once there is one (within $2 seconds).
wait_window() {
  local window
  for _ in $(seq 1 $((${2:-30} * 2))); do
    window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [[ -n $window ]] && { echo "$window"; return 0; }
    sleep 0.5
  done
  echo "screenshot.sh: no window \"$1\" showed" >&2
  return 1
}
# A message box alone: without a window manager it stands in the middle of the screen.
save_window() { import -silent -window "$1" "$2"; echo "screenshot saved to $2"; }
# Waits until the screen differs from $1 (at most 15 s), then lets it settle.
wait_changed() {
  for _ in $(seq 1 30); do
    [[ $(screen) != "$1" ]] && break
    sleep 0.5
  done
  sleep 1.5
}

if ((steps)); then
  # LumoDict's settings file, as an installed LumoDict has it, and the word list.
  appdata=$(wine_x11 cmd.exe /c echo %APPDATA% 2>/dev/null | tr -d '\r')
  appdata=$prefix/drive_c/${appdata#[Cc]:\\}
  appdata=${appdata//\\//}
  mkdir -p "$appdata/Norvane/LumoDict" "$prefix/drive_c/Lumo"
  printf '[Dictionary]\r\nQueryDictNum=0\r\n' >"$appdata/Norvane/LumoDict/LumoDict.ini"
  cp "$repo/samples/fruit.txt" "$prefix/drive_c/Lumo/fruit.txt"
  wine_x11 "$program" >/dev/null 2>&1 &
  program_pid=$!
  window=$(wait_window 'Lumo词典格式转换助手' 60)
  sleep 2
  save "$output/start.png"
  # The word list's box has the focus: typing its path fills in the save path and name.
  xdotool windowfocus "$window" 2>/dev/null || true
  xdotool type --delay 30 'C:\Lumo\fruit.txt'
  sleep 1.5
  save "$output/filled.png"
  before=$(screen)
  xdotool key Return  # "转换", the default button
  box=$(wait_window '提示' 30)
  wait_changed "$before"
  save_window "$box" "$output/registered.png"
  before=$(screen)
  xdotool key Return
  wait_changed "$before"
  save "$output/done.png"
  # The system menu, and "关于" at its end (Up from no item selects the last).
  before=$(screen)
  xdotool windowfocus "$window" 2>/dev/null || true
  xdotool key alt+space
  wait_changed "$before"
  xdotool key Up
  sleep 1
  save "$output/menu.png"
  before=$(screen)
  xdotool key Return
  box=$(wait_window '关于' 30)
  wait_changed "$before"
  save_window "$box" "$output/about.png"
  exit 0
fi

if ((pages)); then
  wine_x11 "$program" >/dev/null 2>&1 &
  program_pid=$!
  save_pages setup 安装
  # The finish page may have started the program: end it before uninstalling.
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  uninstaller=$(find "$prefix/drive_c" -name uninstall.exe | head -1)
  [[ -n "$uninstaller" ]] || { echo "screenshot.sh: the installer installed no uninstall.exe" >&2; exit 1; }
  program=$uninstaller
  wine_x11 "$program" >/dev/null 2>&1 &
  program_pid=$!
  save_pages uninstall 卸载
  exit 0
fi

wine_x11 "$program" >/dev/null 2>&1 &
program_pid=$!
wait_drawn 60 || true
sleep 2
if ((preview)); then
  # The input box has the focus: the list's path, then Tab past "导入..." to "预览...".
  window=$(xdotool search --onlyvisible --name 'Lumo词典格式转换助手' | head -1)
  xdotool windowfocus "$window" type --delay 20 "Z:${list//\//\\}"
  xdotool key --delay 200 Tab Tab space
  for _ in $(seq 1 30); do
    sleep 1
    window=$(xdotool search --onlyvisible --name '^预览$' 2>/dev/null | head -1) && [[ -n $window ]] && break
  done
  [[ -n $window ]] || { echo "screenshot.sh: the preview window did not open" >&2; exit 1; }
  sleep 3
  import -silent -window "$window" "$output"
  echo "screenshot saved to $output"
  exit 0
fi
save "$output"
