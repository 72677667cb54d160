#!/usr/bin/env bash
# Searches for inputs that break a parser: builds the fuzz targets of tests/fuzz with
# clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer (build/fuzz), runs
# each for the given seconds from its corpus, and adds every input that failed to
# tests/fuzz/corpus/<target>/, so that the test command replays it from then on.
#
#   scripts/fuzz.sh [--seconds N] [TARGET...]
#
# Targets: word_list package_reader registration stardict_info stardict_dictionary
# mdict_dictionary
# (default: all); N defaults to 60. Inputs that only found new coverage stay in build/fuzz/corpus/<target>.
# Prints, per target, the executions, the coverage reached and the failures found; the
# exit status is 1 when any target failed.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=60
targets=()
while (($#)); do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=(word_list package_reader registration stardict_info stardict_dictionary mdict_dictionary)

bash "$repo/scripts/setup.sh" || exit 1
build=$repo/build/fuzz
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DLUMO_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzz}" >/dev/null || exit 1

failed=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  log=$build/$target.log
  ASAN_OPTIONS=detect_leaks=1 "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" \
    -timeout=20 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$repo/tests/fuzz/corpus/$target" >"$log" 2>&1
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
  found=0
  for input in "$artifacts"/*; do
    [ -f "$input" ] || continue
    cp "$input" "$repo/tests/fuzz/corpus/$target/found-$(basename "$input")"
    found=$((found + 1))
  done
  rm -f "$artifacts"/*
  echo "$target: ${runs:-?} executions, ${cov:-no coverage line}, $found failing inputs (log: $log)"
  ((status == 0 && found == 0)) || failed=1
done
exit "$failed"
