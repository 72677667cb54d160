#!/usr/bin/env bash
# Checks that every include of the project's own headers points down the layers:
#   common -> platform -> textio -> package -> stardict, mdict -> core, host -> service -> app, cli
# (the foreign formats side by side, core and host side by side, app and cli side by side), and that no Windows header is
# included outside platform/win32/ and app/. Prints each offending line; exit status 1
# when there is any.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 2

declare -A allowed=(
  [common]="common"
  [platform]="common platform"
  [textio]="common platform textio"
  [package]="common platform textio package"
  [stardict]="common platform textio package stardict"
  [mdict]="common platform textio package mdict"
  [core]="common platform textio package stardict mdict core"
  [host]="common platform textio package stardict mdict host"
  [service]="common platform textio package stardict mdict core host service"
  [app]="common platform textio package stardict mdict core host service app"
  [cli]="common platform textio package stardict mdict core host service cli"
)

status=0
for folder in "${!allowed[@]}"; do
  [[ -d $folder ]] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$hit")
    [[ " ${allowed[$folder]} " == *" $target "* ]] && continue
    echo "layer: $hit ($folder may not include $target/)"
    status=1
  done < <(grep -rnE '^\s*#\s*include "[^/"]+/' "$folder" --include='*.h' --include='*.cpp')
  if [[ $folder != app ]]; then
    while IFS= read -r hit; do
      [[ $hit == platform/win32/* ]] && continue
      echo "windows header outside platform/win32 and app: $hit"
      status=1
    done < <(grep -rniE '^\s*#\s*include <(windows|winbase|winuser|shlobj|shlwapi|commctrl)\.h>' \
               "$folder" --include='*.h' --include='*.cpp')
  fi
done
exit $status
