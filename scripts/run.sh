#!/usr/bin/env bash
# Quick start: installs what is missing, builds ldic and converts the sample word list.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

bash scripts/setup.sh
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=OFF >/dev/null
cmake --build build/native -j"$(nproc)" --target ldic >/dev/null

mkdir -p build/sample
build/native/cli/ldic convert samples/fruit.txt -o build/sample/fruit.ldic --name "Fruit" --author "LumoDictGen"
echo "The package is at $repo/build/sample/fruit.ldic"
