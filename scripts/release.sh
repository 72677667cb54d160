#!/usr/bin/env bash
# Builds the Windows release into dist/:
#
#   LumoDictGen-<version>-setup.exe     the installer (NSIS, installer/LumoDictGen.nsi)
#   LumoDictGen-<version>-portable.zip  LumoDictGen.exe, ldic.exe, 使用说明.html, LICENSE.txt,
#                                       fruit.txt
#   SHA256SUMS                          the checksums of both
#
#   bash scripts/release.sh [--from BUILD_DIR] [--out DIR]
#
# By default the programs are built afresh in build/release (mingw-w64, Release, no tests),
# so that nothing of a development tree leaks into a release; --from takes them from an
# existing Windows tree instead (the installer's tests do, to test the programs they built).
# <version> is the project's, from CMakeLists.txt. Every date in the release is the last
# commit's (SOURCE_DATE_EPOCH, unless set), so that the same commit gives the same zip.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

from=
out=$repo/dist
while (($#)); do
  case "$1" in
    --from) from=$(cd "$2" && pwd); shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h | --help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "release.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
jobs=${LUMO_JOBS:-$(nproc 2>/dev/null || echo 2)}

if [[ -z "$from" ]]; then
  bash scripts/setup.sh
  if [[ -n "$(git status --porcelain 2>/dev/null)" ]]; then
    echo "release.sh: note: the working tree has uncommitted changes; they are built too" >&2
  fi
  from=$repo/build/release
  rm -rf "$from"
  cmake -S . -B "$from" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$from" -j "$jobs" --target LumoDictGen ldic
fi
[[ -f "$from/release.env" && -f "$from/app/LumoDictGen.exe" && -f "$from/cli/ldic.exe" ]] || {
  echo "release.sh: $from holds no built LumoDictGen.exe and ldic.exe" >&2
  exit 1
}
# shellcheck source=/dev/null
source "$from/release.env"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export TZ=UTC
base=LumoDictGen-$LUMO_VERSION
setup=$base-setup.exe
portable=$base-portable.zip

# The staged files, exactly as a user gets them. The programs lose their symbols (not
# their resources); the user guide becomes one HTML page with its pictures inside, and the
# licence Windows text.
stage=$from/release-stage/$base
rm -rf "$from/release-stage"
mkdir -p "$stage"
x86_64-w64-mingw32-strip --strip-all -o "$stage/LumoDictGen.exe" "$from/app/LumoDictGen.exe"
x86_64-w64-mingw32-strip --strip-all -o "$stage/ldic.exe" "$from/cli/ldic.exe"
/usr/bin/python3 scripts/guide-html.py "docs/使用说明.md" "$stage/使用说明.html"
# The licence goes with every copy, as it asks; plain ASCII, so no byte-order mark.
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
cp samples/fruit.txt "$stage/fruit.txt"
chmod 644 "$stage"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/* "$stage"

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/$setup" "$out/$portable" "$out/SHA256SUMS"

makensis -INPUTCHARSET UTF8 -V2 -DVERSION="$LUMO_VERSION" -DVERSION_QUAD="$LUMO_VERSION_QUAD" \
  -DCOPYRIGHT="$LUMO_LEGAL_COPYRIGHT" -DSTAGE="$stage" -DOUTFILE="$out/$setup" installer/LumoDictGen.nsi

# The zip: one folder, entries in name order, no Unix extra fields (-X), the staged dates.
(cd "$from/release-stage" && find "$base" | LC_ALL=C sort | zip -q -X -9 -D -@ "$out/$portable")

(cd "$out" && sha256sum "$setup" "$portable" >SHA256SUMS)
echo "release $LUMO_VERSION in $out:"
(cd "$out" && ls -l "$setup" "$portable" SHA256SUMS && cat SHA256SUMS)
