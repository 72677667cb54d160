#!/usr/bin/env bash
# Runs every test of LumoDictGen: the one command for developers and CI.
#
#   bash scripts/test.sh
#
# 1. scripts/setup.sh installs what the machine lacks (idempotent; needs root or sudo
#    the first time).
# 2. The native tree build/native (Debug, AddressSanitizer and UndefinedBehaviorSanitizer):
#    configure, build, ctest.
# 3. The Windows tree build/windows (mingw-w64, Release): configure, build, prepare its
#    Wine prefix, ctest one test at a time under Wine.
# 4. The sample word list converted by the Linux ldic and by ldic.exe under Wine: the two
#    packages must be byte-identical.
# 5. The installer made from the Windows tree's programs (scripts/installer-test.sh):
#    installed, upgraded, run and uninstalled under Wine in a fresh prefix of its own.
# Every step runs even when an earlier one failed (a tree whose build failed is not
# tested); the summary at the end lists each step, and the exit status is non-zero when
# any step failed.
#
# Environment: LUMO_JOBS (parallel build and native test jobs, default: the number of
# cores), LUMO_SANITIZE=OFF to build the native tree without sanitizers, LUMO_NATIVE_DIR
# and LUMO_WINDOWS_DIR to use other build folders.
set -uo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_dir" || exit 1
exec </dev/null

jobs=${LUMO_JOBS:-$(nproc 2>/dev/null || echo 2)}
sanitize=${LUMO_SANITIZE:-ON}
native_dir=${LUMO_NATIVE_DIR:-$repo_dir/build/native}
windows_dir=${LUMO_WINDOWS_DIR:-$repo_dir/build/windows}

summary=()
failed=0
start_all=$SECONDS

# step NAME COMMAND...: runs a step, records its result and time; returns its status.
step() {
  local name=$1
  shift
  local start=$SECONDS status
  printf '\n==== %s\n' "$name"
  "$@"
  status=$?
  local took=$((SECONDS - start))
  if ((status == 0)); then
    summary+=("$(printf '  %-44s ok      %4ds' "$name" "$took")")
  else
    summary+=("$(printf '  %-44s FAILED  %4ds  (exit %d)' "$name" "$took" "$status")")
    failed=1
  fi
  return "$status"
}

skip() {
  summary+=("$(printf '  %-44s skipped       (%s)' "$1" "$2")")
  failed=1
}

native_configure() {
  cmake -S "$repo_dir" -B "$native_dir" -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE="$sanitize"
}

windows_configure() {
  cmake -S "$repo_dir" -B "$windows_dir" \
    -DCMAKE_TOOLCHAIN_FILE="$repo_dir/cmake/toolchain-mingw64.cmake" -DCMAKE_BUILD_TYPE=Release
}

native_test() {
  # halt_on_error: an undefined-behaviour finding fails its test instead of only
  # printing a line in a test that passes.
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    ctest --test-dir "$native_dir" --output-on-failure -j "$jobs"
}

windows_test() {
  # One test at a time: they share the tree's Wine prefix and its desktop. Wine's desktop
  # has been seen, rarely, not to show a dialog within its time limit; a test that fails
  # gets two more runs (ctest reports each failed run) so that such a hiccup does not fail
  # the whole run, while a real fault, which fails every time, still does.
  ctest --test-dir "$windows_dir" --output-on-failure -j 1 --repeat until-pass:3
}

# The same word list and metadata must give the same package bytes from both builds.
compare_packages() {
  local sample=$repo_dir/samples/fruit.txt
  local linux_ldic=$native_dir/cli/ldic windows_ldic=$windows_dir/cli/ldic.exe
  local out=$windows_dir/cross-compare
  rm -rf "$out" && mkdir -p "$out" || return 1
  cp "$sample" "$out/words.txt" || return 1
  local -a meta=(--name "Fruit" --author "LumoDictGen tests" --lumo 12345 --version 1.0
                 --date "2026-01-02")
  "$linux_ldic" convert "$out/words.txt" -o "$out/linux.ldic" "${meta[@]}" || return 1
  "$repo_dir/scripts/wine-run.sh" "$windows_ldic" convert "$out/words.txt" \
    -o "$out/windows.ldic" "${meta[@]}" || return 1
  if cmp "$out/linux.ldic" "$out/windows.ldic"; then
    echo "identical: $(stat -c %s "$out/linux.ldic") bytes"
  else
    echo "the Linux and Windows packages differ" >&2
    return 1
  fi
}

step "setup (scripts/setup.sh)" bash "$repo_dir/scripts/setup.sh"

native_ok=0
if step "native: configure (Debug, sanitizers $sanitize)" native_configure &&
   step "native: build" cmake --build "$native_dir" -j "$jobs"; then
  native_ok=1
  step "native: tests" native_test
else
  skip "native: tests" "build failed"
fi

windows_ok=0
if step "windows: configure (mingw-w64, Release)" windows_configure &&
   step "windows: build" cmake --build "$windows_dir" -j "$jobs"; then
  if step "windows: Wine prefix" "$repo_dir/scripts/wine-run.sh" --init "$windows_dir"; then
    windows_ok=1
    step "windows: tests under Wine" windows_test
  else
    skip "windows: tests under Wine" "no Wine prefix"
  fi
else
  skip "windows: tests under Wine" "build failed"
fi

if ((native_ok && windows_ok)) && [[ -f "$repo_dir/samples/fruit.txt" ]]; then
  step "packages identical (Linux ldic, ldic.exe)" compare_packages
else
  skip "packages identical (Linux ldic, ldic.exe)" "a build is missing"
fi

if ((windows_ok)); then
  step "windows: installer under Wine" \
    bash "$repo_dir/scripts/installer-test.sh" "$windows_dir"
else
  skip "windows: installer under Wine" "no Windows build"
fi

# End the prefix's Wine session, so that no Wine process outlives the run.
if [[ -d "$windows_dir/wine-prefix" ]]; then
  WINEPREFIX=$windows_dir/wine-prefix wineserver -k 2>/dev/null || true
fi

printf '\n==== Summary (%ds)\n' "$((SECONDS - start_all))"
printf '%s\n' "${summary[@]}"
if ((failed)); then
  printf 'RESULT: FAILED\n'
  exit 1
fi
printf 'RESULT: all tests passed\n'
