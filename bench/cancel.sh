#!/usr/bin/env bash
# How quickly a cancelled conversion stops: generates a word list (1,000,000 lines by
# default), then has lumo_bench cancel the real job at random moments of a whole run and
# print the time from each cancel to the worker's end, with the median and maximum.
#
#   bench/cancel.sh [--lines 1000000] [--times 20] [--seed 1] [--within SECONDS]
#                   [--build DIR] [--work DIR]
#
# --within draws the moments from the run's first SECONDS only (reading and sorting).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lines=1000000
times=20
seed=1
within=0
build="$repo/build-bench"
work="${TMPDIR:-/tmp}/lumo-bench"

while [ $# -gt 0 ]; do
  case "$1" in
    --lines) lines="$2"; shift 2 ;;
    --times) times="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --within) within="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "cancel.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

mkdir -p "$work"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target lumo_bench >/dev/null
lb="$build/bench/lumo_bench"
list="$work/words-$lines.txt"
[ -f "$list" ] || "$lb" gen "$lines" "$list"
"$lb" cancel "$list" --times "$times" --seed "$seed" --within "$within" --work "$work"
