#!/usr/bin/env bash
# An MDict dictionary brought in, against the same entries as a word list and against
# PyGlossary reading the dictionary into a TAB file; prints a Markdown table.
#
#   bench/mdict.sh [--entries N] [--repeat R] [--build DIR] [--work DIR]
#
# The dictionary comes from `lumo_bench mdict` (bench/mdict_gen.h): N keys (200,000 by
# default) of HTML records, zlib blocks, one key in twenty a link. Its equivalent word list
# is what the dictionary converts to: `ldic dump` of its package, which converts back to a
# byte-identical package (checked). Every run is timed whole with /usr/bin/time (wall
# clock, CPU and peak resident memory). PyGlossary (Debian python3-pyglossary) runs when
# installed. The aims: the dictionary at most 1.2 times the word list (--threads 1 and the
# default), PyGlossary at least 10 times ldic's default, and ldic's peak memory on the
# dictionary at most 1.3 times its records' bytes, decompressed, and 32 MiB.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

entries=200000
repeat=3
build=build-bench
work=build-bench/mdict-work
while (($#)); do
  case $1 in
    --entries) entries=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "usage: bench/mdict.sh [--entries N] [--repeat R] [--build DIR] [--work DIR]" >&2; exit 2 ;;
  esac
done

if [ ! -x "$build/cli/ldic" ] || [ ! -x "$build/bench/lumo_bench" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target ldic lumo_bench >/dev/null
fi
ldic=$build/cli/ldic
lb=$build/bench/lumo_bench
mkdir -p "$work"
rm -f "$work"/*.times

mdx=$work/bench-$entries.mdx
list=$work/bench-$entries.txt
[ -s "$mdx" ] || "$lb" mdict "$entries" "$mdx"
if [ ! -s "$list" ]; then
  "$ldic" convert "$mdx" -o "$work/from-mdx.ldic" --date bench -q
  "$ldic" dump "$work/from-mdx.ldic" -o "$list" -q
fi
# The records' bytes, decompressed: the record section's numbers tell them.
records=$(python3 - "$mdx" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = 4 + struct.unpack('>I', data[:4])[0] + 4
keys = struct.unpack('>5Q', data[at:at + 40])
at += 44 + keys[3] + keys[4]
count, _, size, _ = struct.unpack('>4Q', data[at:at + 32])
index = data[at + 32:at + 32 + size]
print(sum(struct.unpack('>Q', index[i + 8:i + 16])[0] for i in range(0, size, 16)))
EOF
)

# timed NAME COMMAND...: one run's "seconds peakKiB cpuSeconds" appended to NAME.times.
timed() {
  local name=$1; shift
  /usr/bin/time -f '%e %M %U %S' -o "$work/.time" "$@" >/dev/null 2>"$work/.stderr" ||
    { echo "mdict.sh: $name failed:" >&2; cat "$work/.stderr" >&2; exit 1; }
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/.time" >>"$work/$name.times"
}

# median NAME: "seconds peakMiB cpu" (medians; the peak the largest).
median() {
  sort -n "$work/$1.times" | awk '{ t[NR] = $1; c[NR] = $3; if ($2 > m) m = $2 }
    END { i = int((NR + 1) / 2); printf "%.2f %.1f %.2f\n", t[i], m / 1024, c[i] }'
}

pyglossary=$(command -v pyglossary || true)
for ((r = 1; r <= repeat; r++)); do
  for threads in 1 default; do
    args=(--date bench -q); [ "$threads" = 1 ] && args+=(--threads 1)
    rm -f "$work/list.ldic" "$work/mdx.ldic"
    timed "list-$threads" "$ldic" convert "$list" -o "$work/list.ldic" --name "Benchmark Dictionary" "${args[@]}"
    timed "mdx-$threads" "$ldic" convert "$mdx" -o "$work/mdx.ldic" "${args[@]}"
    cmp -s "$work/list.ldic" "$work/mdx.ldic" ||
      { echo "mdict.sh: the dictionary and its word list give different packages" >&2; exit 1; }
  done
  if [ -n "$pyglossary" ] && ((r == 1)); then
    rm -f "$work/pyglossary.txt"
    timed pyglossary "$pyglossary" "$mdx" "$work/pyglossary.txt" --read-format=OctopusMdict \
      --write-format=Tabfile --ui=cmd --no-progress-bar --no-color
  fi
done

echo "# MDict input: $entries keys, $(stat -c %s "$mdx" | awk '{ printf "%.1f", $1 / 1e6 }') MB .mdx," \
  "records $(awk -v b="$records" 'BEGIN { printf "%.1f", b / 1e6 }') MB decompressed," \
  "word list $(stat -c %s "$list" | awk '{ printf "%.1f", $1 / 1e6 }') MB ($(date -u +%Y-%m-%d), $(nproc) cores, $repeat repeats)"
echo
echo "| run | seconds (median) | CPU s | peak MiB |"
echo "|---|---:|---:|---:|"
for name in list-1 mdx-1 list-default mdx-default pyglossary; do
  [ -s "$work/$name.times" ] || continue
  read -r s m c < <(median "$name")
  echo "| $name | $s | $c | $m |"
done
echo
read -r l1 _ _ < <(median list-1)
read -r m1 peak1 _ < <(median mdx-1)
read -r ld _ _ < <(median list-default)
read -r md peakd _ < <(median mdx-default)
awk -v l1="$l1" -v m1="$m1" -v ld="$ld" -v md="$md" -v p1="$peak1" -v pd="$peakd" -v rec="$records" 'BEGIN {
  limit = 1.3 * rec / 1048576 + 32
  printf "Dictionary / word list: --threads 1 %.2f, default %.2f (at most 1.2). ", m1 / l1, md / ld
  printf "Peak %.0f and %.0f MiB against 1.3 x records + 32 MiB = %.0f MiB.", (p1 > pd ? p1 : pd), pd, limit }'
if [ -s "$work/pyglossary.times" ]; then
  read -r pg _ _ < <(median pyglossary)
  awk -v pg="$pg" -v md="$md" 'BEGIN { printf " PyGlossary / ldic default: %.1f (at least 10).", pg / md }'
fi
echo
rm -f "$work/.time" "$work/.stderr"
