#!/usr/bin/env bash
# Ctrl+C for ldic.exe under Wine, which turns a SIGINT to the program's process into the
# console's CTRL_C_EVENT: convert (of one list and of several at once), dump and export
# stop with status 130, keep what they were replacing and leave nothing temporary. (A Windows test program cannot send the
# event itself: under Wine it has no console to send it through.)
#
#   wine_interrupt_test.sh WINE_RUN LDIC_EXE
set -u
wine_run=$1
ldic=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
seq 1 300000 | awk '{ printf "word%d\tan explanation of some length, number %d\n", $1 * 7919 % 300007, $1 }' >w.txt
"$wine_run" "$ldic" convert -q w.txt -o big.ldic --date D || { echo "no package"; exit 1; }
cp w.txt w2.txt && cp w.txt w3.txt

# Wine's process of the program: its command line begins with the program, then $1
# (wine-run.sh's own, before it hands over to Wine, names the script first).
program_pid() {
  local proc line
  for proc in /proc/[0-9]*; do
    line=$( { tr "\0" " " <"$proc/cmdline"; } 2>/dev/null)
    [[ $line == "$ldic $1"* ]] && { echo "${proc#/proc/}"; return; }
  done
}

failed=0
while IFS='|' read -r label args mark; do
  rm -rf out && mkdir -p out/sd
  for f in out/c.ldic out/d.txt out/sd/big.ifo out/sd/big.idx out/sd/big.dict.dz; do echo earlier >"$f"; done
  # shellcheck disable=SC2086  # the arguments are words
  "$wine_run" "$ldic" $args &
  runner=$!
  pid=
  for _ in $(seq 1 600); do
    pid=$(program_pid "$args") && [[ -n $pid ]] && break
    sleep 0.05
  done
  for _ in $(seq 1 6000); do
    [[ -e $mark ]] && break
    sleep 0.01
  done
  if [[ -z $pid || ! -e $mark ]]; then
    echo "$label: never began to write"
    failed=1
    wait "$runner"
    continue
  fi
  kill -INT "$pid"
  wait "$runner"
  status=$?
  # (A package of several lists that was done before the signal stays, as it should.)
  left=$(find out -name '*.part' -o -name 'LumoDictTemp*' -o -name '*.lumo-new*')
  changed=$(grep -L -x earlier out/c.ldic out/d.txt out/sd/big.ifo out/sd/big.idx out/sd/big.dict.dz)
  if [[ $status != 130 || -n $left || -n $changed ]]; then
    echo "$label: status $status (130 wanted); left: $left; changed: $changed"
    failed=1
  fi
done <<'CASES'
convert|convert w.txt -o out/c.ldic --threads 1|out/LumoDictTemp.des
convert several|convert w.txt w2.txt w3.txt --out-dir out --jobs 2 --threads 1|out/LumoDictTemp.des
dump|dump big.ldic -o out/d.txt|out/d.txt.part
export|export big.ldic --stardict out/sd|out/sd.lumo-new
CASES
[[ $failed == 0 ]] && echo "4 passed, 0 failed"
exit "$failed"
