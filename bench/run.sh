#!/usr/bin/env bash
# The conversion benchmark: generates the word lists, then times, side by side in one run
# and repeated, `ldic convert` with one thread and with its default threads, the
# compression floor (the layout's chunked level-9 compression of the same explanations,
# single-threaded, from memory), and where installed `gzip -9` and `pigz -9` on those
# explanations and StarDict's `tabfile` (which runs `dictzip` itself) on the word list,
# and `ldic convert` of the dictionary tabfile made, against that of the word list.
# Then the per-phase figures of the pipeline (lumo_bench phases), and natively the bare
# data movement of the list's shape (lumo_bench bounds) against the floor. Prints Markdown
# tables.
#
#   bench/run.sh [--lines "100000 1000000"] [--short LINES] [--repeat 3] [--build DIR] [--work DIR]
#   bench/run.sh --windows [the same options] [--windows-build DIR]
#   bench/run.sh --cancel [--lines 1000000] [--times 20] [--seed 1] [--within SECONDS]
#
# --short LINES adds a list of LINES short lines (lumo_bench gen --short) to the tables.
# --windows times instead the Windows programs under Wine (a Release cross build in
# build-bench-win/, with its own Wine prefix): ldic.exe with one thread and its default,
# against the floor measured by lumo_bench.exe (the zlib ldic.exe links) and against the
# native ldic; Wine's own cost of starting a program (lumo_bench.exe idle); the dialog from
# Convert to "转换完成" (lumo_dialog_bench.exe); and the packages of ldic.exe compared byte
# for byte with the native ones. Peak memory under Wine is that of the program's process
# less that of the idle program.
#
# --cancel measures instead how quickly a cancelled conversion stops: lumo_bench cancel
# cancels the real job at --times random moments of a whole run (of its first SECONDS
# only, with --within) and prints each time from the cancel to the worker's end, with
# the median and maximum.
#
# Timings are wall-clock seconds; the table gives the median of the repeats and, to show
# the noise, their spread (min–max), and the median CPU seconds (user + system), which
# other programs' load disturbs far less than wall-clock time. Peak memory is the maximum
# resident set size that /usr/bin/time reports. Ratios are of medians from the same run.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lines_list="100000 1000000"
repeat=3
cancel=0
times=20
seed=1
within=0
build="$repo/build-bench"
windows=0
windows_build="$repo/build-bench-win"
short_lines=""
work="${TMPDIR:-/tmp}/lumo-bench"

while [ $# -gt 0 ]; do
  case "$1" in
    --lines) lines_list="$2"; shift 2 ;;
    --short) short_lines="$2"; shift 2 ;;
    --windows) windows=1; shift ;;
    --windows-build) windows_build="$2"; shift 2 ;;
    --repeat) repeat="$2"; shift 2 ;;
    --cancel) cancel=1; shift ;;
    --times) times="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --within) within="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    -h|--help) sed -n '2,33p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

mkdir -p "$work"
work=$(cd "$work" && pwd)
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ldic lumo_bench >/dev/null
ldic="$build/cli/ldic"
lb="$build/bench/lumo_bench"
if ((windows)); then
  cmake -S "$repo" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$windows_build" -j2 --target ldic lumo_bench lumo_dialog_bench >/dev/null
  wine_run="$repo/scripts/wine-run.sh"
  ldic_exe="$windows_build/cli/ldic.exe"
  lb_exe="$windows_build/bench/lumo_bench.exe"
  dialog_exe="$windows_build/bench/lumo_dialog_bench.exe"
  "$wine_run" --init "$windows_build"
  # The prefix's Wine session stays up between the runs (so that each pays only a
  # program's start) and ends with the benchmark.
  trap 'WINEPREFIX="$("$wine_run" --prefix "$ldic_exe")" wineserver -k 2>/dev/null || true' EXIT
fi
# A path as the Windows programs see it under Wine: drive Z: is the root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
tabfile=""
for candidate in /usr/lib/stardict-tools/tabfile "$(command -v tabfile || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then tabfile=$candidate; break; fi
done

# timed NAME CMD...: runs CMD under /usr/bin/time; appends "seconds peakKiB cpuSeconds"
# to $work/NAME.times. Fails the benchmark when the command fails.
timed() {
  local name=$1; shift
  local out="$work/.time"
  if ! /usr/bin/time -f "%e %M %U %S" -o "$out" "$@" >/dev/null 2>"$work/.stderr"; then
    echo "run.sh: $name failed:" >&2; cat "$work/.stderr" >&2; exit 1
  fi
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$out" >>"$work/$name.times"
}

# wine_timed NAME PROGRAM ARGS...: timed, for a Windows program under Wine. /usr/bin/time
# sees the program's own process (Wine's loader becomes it), not the wineserver.
wine_timed() {
  local name=$1; shift
  timed "$name" "$wine_run" "$@"
}

# stats NAME: "median min max peakMiB medianCpu" of the recorded runs.
stats() {
  local cpu
  cpu=$(awk '{ print $3 }' "$work/$1.times" | sort -n |
    awk '{ c[NR] = $1 } END { printf "%.3f", (NR % 2) ? c[(NR + 1) / 2] : (c[NR / 2] + c[NR / 2 + 1]) / 2 }')
  sort -n "$work/$1.times" | awk -v cpu="$cpu" '{ t[NR] = $1; if ($2 > m) m = $2 }
    END { med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2;
          printf "%.3f %.3f %.3f %.1f %s\n", med, t[1], t[NR], m / 1024, cpu }'
}

if ((cancel)); then
  for lines in $lines_list; do
    list="$work/wordlist-$lines.txt"
    [ -s "$list" ] || "$lb" gen "$lines" "$list" 2>/dev/null
    echo "# Cancel latency, $lines lines ($(date -u +%Y-%m-%d), $(nproc) cores)"
    "$lb" cancel "$list" --times "$times" --seed "$seed" --within "$within" --work "$work"
  done
  exit 0
fi

nproc_count=$(nproc)
echo "# LumoDictGen conversion benchmark$( ((windows)) && echo ": the Windows build under Wine")"
echo
echo "$(date -u +%Y-%m-%d), $(uname -m), $nproc_count cores, zlib level 9; $repeat repeats; median seconds."
((windows)) && echo "Wine: $(wine --version 2>/dev/null || echo unknown); ldic.exe, lumo_bench.exe and the dialog's driver from a Release cross build (mingw-w64)."

# The lists: LINES of the mixed generator for each of --lines, and short:LINES for --short.
lists=$lines_list
[ -z "$short_lines" ] || lists="$lists short:$short_lines"

for token in $lists; do
  lines=${token#short:}
  if [ "$token" != "$lines" ]; then
    list="$work/wordlist-short-$lines.txt"
    [ -s "$list" ] || "$lb" gen "$lines" "$list" --short 2>/dev/null
    what="$lines short lines"
  else
    list="$work/wordlist-$lines.txt"
    [ -s "$list" ] || "$lb" gen "$lines" "$list" 2>/dev/null
    what="$lines lines"
  fi
  list_bytes=$(stat -c %s "$list")
  data="$work/explanations-${token/:/-}.des"
  rm -f "$work"/*.times

  # The phases, once with each thread setting; the first also keeps the explanations.
  "$lb" phases "$list" --threads 1 --work "$work" --keep-data "$data" >"$work/phases-1.tsv" 2>/dev/null
  if ((windows)); then
    "$wine_run" "$lb_exe" phases "$(winpath "$list")" --threads 1 --work "$(winpath "$work")" \
      >"$work/phases-1.tsv" 2>/dev/null
    "$wine_run" "$lb_exe" phases "$(winpath "$list")" --work "$(winpath "$work")" \
      >"$work/phases-default.tsv" 2>/dev/null
  else
    "$lb" phases "$list" --work "$work" >"$work/phases-default.tsv" 2>/dev/null
    "$lb" bounds "$list" --work "$work" >"$work/bounds.tsv" 2>/dev/null
  fi
  data_bytes=$(stat -c %s "$data")

  sd="$work/stardict-$lines"
  mkdir -p "$sd"
  identical=0
  for ((r = 1; r <= repeat; r++)); do
    # lumo_bench floor prints the compression time alone; its peak is not of interest.
    "$lb" floor "$data" 2>/dev/null | awk '{ print $1, 0, $2 }' >>"$work/floor.times"
    # Every tool writes fresh files: replacing an existing file costs a flush on some file
    # systems (ext4 forces the new data out before a rename over an old file).
    rm -f "$work/out-1.ldic" "$work/out-n.ldic" "$work/out-w1.ldic" "$work/out-wn.ldic" "$work/out-dialog.ldic"
    timed ldic1 "$ldic" convert "$list" -o "$work/out-1.ldic" --threads 1 --date bench
    timed ldicN "$ldic" convert "$list" -o "$work/out-n.ldic" --date bench
    cmp -s "$work/out-1.ldic" "$work/out-n.ldic" || { echo "run.sh: packages differ by thread count" >&2; exit 1; }
    if ((windows)); then
      wine_timed wine "$lb_exe" idle
      "$wine_run" "$lb_exe" floor "$(winpath "$data")" 2>/dev/null | awk '{ print $1, 0, $2 }' >>"$work/floorW.times"
      wine_timed ldicW1 "$ldic_exe" convert "$(winpath "$list")" -o "$(winpath "$work/out-w1.ldic")" --threads 1 --date bench
      wine_timed ldicWN "$ldic_exe" convert "$(winpath "$list")" -o "$(winpath "$work/out-wn.ldic")" --date bench
      for out in out-w1 out-wn; do
        cmp -s "$work/out-1.ldic" "$work/$out.ldic" ||
          { echo "run.sh: ldic.exe's package ($out) differs from the native one" >&2; exit 1; }
        identical=$((identical + 1))
      done
      # The dialog's own clock, from the click on Convert to the status "转换完成".
      "$wine_run" "$dialog_exe" "$(winpath "$list")" "$(winpath "$work/out-dialog.ldic")" 2>"$work/.stderr" |
        awk '{ print $1, 0, 0 }' >>"$work/dialog.times"
      [ -s "$work/out-dialog.ldic" ] || { echo "run.sh: the dialog wrote no package:" >&2; cat "$work/.stderr" >&2; exit 1; }
      continue
    fi
    if [ -n "$tabfile" ]; then
      rm -f "$sd"/*; ln -sf "$list" "$sd/words.txt"
      timed tabfile "$tabfile" "$sd/words.txt"
      if [ -f "$sd/words.dict" ]; then timed tabfile dictzip "$sd/words.dict"; fi
      # The same entries brought in as a StarDict dictionary rather than a word list.
      rm -f "$work/out-sd.ldic"
      timed ldicSD "$ldic" convert "$sd/words.ifo" -o "$work/out-sd.ldic" --threads 1 --date bench
    fi
    if command -v gzip >/dev/null; then timed gzip gzip -9 -k -f -c "$data"; fi
    if command -v pigz >/dev/null; then timed pigz pigz -9 -k -f -c "$data"; fi
  done

  read -r floor_s _ _ _ floor_cpu < <(stats floor)
  read -r one_s _ _ _ one_cpu < <(stats ldic1)
  read -r def_s _ _ _ _ < <(stats ldicN)
  echo
  echo "## $what: word list $(awk -v b="$list_bytes" 'BEGIN{printf "%.1f", b/1e6}') MB, explanations $(awk -v b="$data_bytes" 'BEGIN{printf "%.1f", b/1e6}') MB, package $(stat -c %s "$work/out-1.ldic" | awk '{printf "%.1f", $1/1e6}') MB"
  echo
  # row LABEL NAME SHOWPEAK FLOOR ONE [NATIVE] [PEAK_LESS_KIB]: one line of the table; the
  # ratios are to FLOOR, ONE and (when given) NATIVE seconds, "–" for an empty one.
  row() {
    local label=$1 name=$2 showpeak=$3 f=$4 o=$5 n=${6:-} less=${7:-0}
    [ -s "$work/$name.times" ] || return 0
    read -r med lo hi peak cpu < <(stats "$name")
    awk -v l="$label" -v m="$med" -v lo="$lo" -v hi="$hi" -v p="$peak" -v b="$list_bytes" \
        -v c="$cpu" -v f="$f" -v o="$o" -v n="$n" -v showpeak="$showpeak" -v less="$less" \
        -v windows="$windows" 'function ratio(x) { return x == "" ? "–" : sprintf("%.2f", m / x) }
      BEGIN {
      printf "| %s | %.2f | %.2f–%.2f | %s | %s | %s | %s | %s |", l, m, lo, hi,
        (f == "" && o == "" ? "–" : sprintf("%.1f", b / 1e6 / m)), (showpeak ? sprintf("%.0f", p - less / 1024) : "–"),
        (c > 0 ? sprintf("%.2f", c) : "–"), ratio(f), ratio(o)
      if (windows) printf " %s |", ratio(n)
      printf "\n" }'
  }
  if ((windows)); then
    read -r wine_s _ _ wine_peak wine_cpu < <(stats wine)
    read -r floorw_s _ _ _ floorw_cpu < <(stats floorW)
    read -r onew_s _ _ _ onew_cpu < <(stats ldicW1)
    read -r defw_s _ _ _ _ < <(stats ldicWN)
    read -r dialog_s _ _ _ _ < <(stats dialog)
    wine_kib=$(awk -v p="$wine_peak" 'BEGIN { printf "%d", p * 1024 }')
    echo "Windows rows: peak memory less that of the idle program under Wine ($(printf '%.0f' "$wine_peak") MiB); \"vs its\" columns are to the same build's floor and one-thread run."
    echo
    echo "| run | seconds (median) | min–max | MB/s of word list | peak MiB | CPU s | vs its floor | vs its --threads 1 | vs native |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
    row "Wine: an idle program started and ended (lumo_bench.exe idle)" wine 1 "" "" "" 0
    row "compression floor, native (1 thread, in memory)" floor 0 "$floor_s" "$one_s"
    row "compression floor, lumo_bench.exe under Wine" floorW 0 "$floorw_s" "$onew_s" "$floor_s"
    row "ldic convert --threads 1, native" ldic1 1 "$floor_s" "$one_s"
    row "ldic.exe convert --threads 1 under Wine" ldicW1 1 "$floorw_s" "$onew_s" "$one_s" "$wine_kib"
    row "ldic convert (default: $nproc_count threads), native" ldicN 1 "$floor_s" "$one_s"
    row "ldic.exe convert (default) under Wine" ldicWN 1 "$floorw_s" "$onew_s" "$def_s" "$wine_kib"
    row "dialog: Convert to 转换完成 (default threads, its own clock)" dialog 0 "$floorw_s" "$onew_s"
    echo
    awk -v f="$floorw_s" -v o="$onew_s" -v d="$defw_s" -v fc="$floorw_cpu" -v oc="$onew_cpu" \
        -v w="$wine_s" -v g="$dialog_s" -v nf="$floor_s" -v no="$one_s" -v nd="$def_s" \
        -v same="$identical" -v runs="$((2 * repeat))" 'BEGIN {
      printf "Targets: ldic.exe --threads 1 / lumo_bench.exe floor = %.2f wall, %.2f CPU (at most 1.10); ", o / f, oc / fc
      printf "ldic.exe default / --threads 1 = %.2f (at most 0.60); ", d / o
      printf "dialog / (ldic.exe default less Wine'\''s %.2f s start) = %.2f (at most 1.10).\n", w, g / (d - w)
      printf "Windows / native: floor %.2f, --threads 1 %.2f, default %.2f; ", f / nf, o / no, d / nd
      printf "ldic.exe packages byte-identical to the native ones: %d of %d.\n", same, runs }'
  else
    echo "| run | seconds (median) | min–max | MB/s of word list | peak MiB | CPU s | vs floor | vs ldic --threads 1 |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|"
    row "compression floor (1 thread, in memory)" floor 0 "$floor_s" "$one_s"
    row "ldic convert --threads 1" ldic1 1 "$floor_s" "$one_s"
    row "ldic convert (default: $nproc_count threads)" ldicN 1 "$floor_s" "$one_s"
    if [ -s "$work/tabfile.times" ]; then
      # tabfile runs dictzip itself; the two are one job.
      row "StarDict tabfile + dictzip" tabfile 1 "$floor_s" "$one_s"
      row "ldic convert --threads 1 of tabfile's dictionary" ldicSD 1 "$floor_s" "$one_s"
    fi
    row "gzip -9 (explanations only)" gzip 1 "$floor_s" "$one_s"
    row "pigz -9 (explanations only, $nproc_count threads)" pigz 1 "$floor_s" "$one_s"
    echo
    awk -v f="$floor_s" -v o="$one_s" -v d="$def_s" -v fc="$floor_cpu" -v oc="$one_cpu" 'BEGIN {
      printf "Targets: --threads 1 / floor = %.2f wall, %.2f CPU (at most 1.05); default / --threads 1 = %.2f (at most 0.55)", o / f, oc / fc, d / o }'
    if [ -s "$work/tabfile.times" ]; then
      read -r sd_s _ _ _ < <(stats tabfile)
      awk -v s="$sd_s" -v d="$def_s" 'BEGIN { printf "; tabfile+dictzip / default = %.2f (at least 2.2)", s / d }'
      read -r dict_s _ _ _ dict_cpu < <(stats ldicSD)
      awk -v s="$dict_s" -v o="$one_s" -v sc="$dict_cpu" -v oc="$one_cpu" 'BEGIN {
        printf "; StarDict dictionary / word list, --threads 1 = %.2f wall, %.2f CPU (at most 1.10)", s / o, sc / oc }'
    fi
    echo "."
    echo
    # What any conversion of this list pays besides compression, set against the room the
    # one-thread aim leaves.
    awk -F '\t' -v f="$floor_s" '{ part[NR] = sprintf("%s %.3f", $1, $2); total = $2 }
      END { printf "Bare data movement for this list (lumo_bench bounds, one run; no parsing, checking or package): "
        for (i = 1; i < NR; i++) printf "%s%s", part[i], (i < NR - 1 ? ", " : "")
        printf "; together %.2f s = %.3f of the floor, where --threads 1 at 1.05 leaves 0.05 for all but compression.\n", total, total / f }' \
      "$work/bounds.tsv"
  fi
  echo
  if ((windows)); then
    echo "Phases (lumo_bench.exe phases under Wine, one run each; read+parse and sort are parts of read+parse+sort; peak only of the whole process, Wine's included):"
  else
    echo "Phases (lumo_bench phases, one run each; read+parse and sort are parts of read+parse+sort):"
  fi
  echo
  echo "| phase | s (1 thread) | MB/s | peak MiB | s (default) | MB/s | peak MiB |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
  awk -F '\t' 'NR == FNR { other[$1] = $0; next }
    ($1 in other) { split(other[$1], d, "\t");
      p1 = ($5 < 0) ? "–" : sprintf("%.0f", $5); p2 = (d[5] < 0) ? "–" : sprintf("%.0f", d[5]);
      printf "| %s | %.3f | %.1f | %s | %.3f | %.1f | %s |\n", $1, $2, $3, p1, d[2], d[3], p2 }' \
    "$work/phases-default.tsv" "$work/phases-1.tsv"
done
rm -f "$work/.time" "$work/.stderr" "$work"/out-*.ldic
