#!/usr/bin/env bash
# Quick start: installs what is missing, builds LumoDictGen.exe and starts it under Wine
# on this desktop. Without a display it says so, converts the sample word list with ldic
# instead and shows the command.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=ON >/dev/null
cmake --build build/native -j"$jobs" --target ldic >/dev/null
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/windows -j"$jobs" --target LumoDictGen ldic >/dev/null

if [[ -n "${DISPLAY:-}" ]]; then
  echo "Starting build/windows/app/LumoDictGen.exe under Wine on display $DISPLAY"
  exec env LUMO_WINE_GRAPHICS=x11 scripts/wine-run.sh build/windows/app/LumoDictGen.exe
fi

echo "No display is available (DISPLAY is not set), so the dialog cannot be shown here."
echo "On a desktop, this command starts it: LUMO_WINE_GRAPHICS=x11 scripts/wine-run.sh build/windows/app/LumoDictGen.exe"
echo "scripts/screenshot.sh shows it on a virtual display and saves a picture instead."
echo
echo "Meanwhile, the same conversion from the command line:"
mkdir -p build/sample
cmd=(build/native/cli/ldic convert samples/fruit.txt -o build/sample/fruit.ldic --name Fruit --author LumoDictGen)
echo "  ${cmd[*]}"
"${cmd[@]}"
echo "The package is at $repo/build/sample/fruit.ldic"
