#!/usr/bin/env bash
# Tests the Windows installer under Wine, as a user meets it: builds the release from a
# Windows tree's programs (scripts/release.sh --from), then in a fresh Wine prefix of its
# own installs, upgrades, runs and uninstalls it, per machine and per user.
#
#   bash scripts/installer-test.sh [WINDOWS_BUILD_DIR]     (default build/windows)
#
# Prints one line per check and exits 1 when any failed. scripts/test.sh runs it.
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$repo/build/windows}" && pwd) || exit 1
work=$build/installer-test
probe=$build/tests/release/lumo_release_probe.exe
name="Lumo词典格式转换助手"
guide=使用说明.html
guide_link="$name 使用说明.lnk"
# In the order of listing below (LC_ALL=C sorts by bytes).
installed_files="./LICENSE.txt ./LumoDictGen.exe ./fruit.txt ./ldic.exe ./uninstall.exe ./$guide "
settings_key='HKCU\Software\LumoDictGen'
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\LumoDictGen'

failures=0
pass() { printf '  ok    %s\n' "$1"; }
fail() { printf '  FAIL  %s\n' "$1"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

rm -rf "$work"
mkdir -p "$work"
bash "$repo/scripts/release.sh" --from "$build" --out "$work/dist" >"$work/release.log" 2>&1 || {
  cat "$work/release.log"
  echo "installer-test.sh: the release could not be built" >&2
  exit 1
}
source "$build/release.env"
setup=$work/dist/LumoDictGen-$LUMO_VERSION-setup.exe
stage=$build/release-stage/LumoDictGen-$LUMO_VERSION
# An older release of the same files, to upgrade from.
makensis -INPUTCHARSET UTF8 -V1 -DVERSION=0.9.0 -DVERSION_QUAD=0.9.0.0 -DSTAGE="$stage" \
  -DCOPYRIGHT="$LUMO_LEGAL_COPYRIGHT" -DOUTFILE="$work/old-setup.exe" "$repo/installer/LumoDictGen.nsi" || exit 1

# A fresh prefix, nobody's but this test's. Wine links the prefix's Desktop and Documents
# to folders of $HOME: a home of the test's own keeps the shortcuts and files made here
# out of the real one.
export LUMO_WINEPREFIX=$work/wine-prefix
export HOME=$work/home
mkdir -p "$HOME"
prefix=$LUMO_WINEPREFIX
wine_run() { "$repo/scripts/wine-run.sh" "$@" </dev/null; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# The Unix path of a Windows path in the prefix (C: only).
unixpath() { local p=${1#[Cc]:}; p=${p//\\//}; printf '%s/drive_c%s' "$prefix" "$p"; }
# reg writes in the console's ANSI code page: the Chinese one, read back as UTF-8.
reg_query() { LC_ALL=zh_CN.UTF-8 wine_run reg query "$@" 2>/dev/null | iconv -f GB18030 -t UTF-8 | tr -d '\r'; }
reg_value() { # reg_value HKLM|HKCU VALUE
  reg_query "$1\\$key" /v "$2" |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
entries() { # how many uninstaller entries name the program, in both hives
  local count=0 hive
  for hive in HKLM HKCU; do
    reg_query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s |
      grep -q "DisplayName.*$name" && count=$((count + 1))
  done
  echo "$count"
}
# Waits for an uninstaller: it runs from a copy in %TEMP% that outlives the first process;
# its last step removes the registry entry.
wait_uninstalled() {
  for _ in $(seq 1 60); do
    [[ -z "$(reg_value "$1" DisplayName)" ]] && { sleep 1; return 0; }
    sleep 0.5
  done
  return 1
}
listing() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' '); }
# Whether a shortcut leads to a file of this name (Wine writes the target in UTF-16LE).
links_to() { python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$1" "$2"; }
# The settings the dialog keeps for its user, as it would have written them.
remember_settings() { wine_run reg add "$settings_key" /v Author /d Tests /f >/dev/null 2>&1; }
settings_kept() { wine_run reg query "$settings_key" >/dev/null 2>&1; }
settings_gone() { ! settings_kept; }

wine_run "$probe" --help >/dev/null 2>&1 # prepares the prefix
appdata=$(unixpath "$(wine_run cmd.exe /c echo %APPDATA% | tr -d '\r')")
profile=$(unixpath "$(wine_run cmd.exe /c echo %USERPROFILE% | tr -d '\r')")
documents=$profile/Documents
desktop_user=$profile/Desktop
localappdata=$(unixpath "$(wine_run cmd.exe /c echo %LOCALAPPDATA% | tr -d '\r')")
start_all=$(unixpath "$(wine_run cmd.exe /c echo %ProgramData% | tr -d '\r')")/Microsoft/Windows/"Start Menu"/Programs
start_user=$appdata/Microsoft/Windows/"Start Menu"/Programs
desktop_all=$(unixpath "$(wine_run cmd.exe /c echo %PUBLIC% | tr -d '\r')")/Desktop

# The user's own things, which no uninstall may touch.
mkdir -p "$appdata/Norvane/LumoDict" "$documents"
printf '[Dictionary]\r\nQueryDictNum=1\r\n' >"$appdata/Norvane/LumoDict/LumoDict.ini"
cp "$repo/samples/fruit.txt" "$documents/mine.txt"
cp "$appdata/Norvane/LumoDict/LumoDict.ini" "$work/ini.before"

echo "== the release's user guide"
check "$guide embeds every picture of the guide" \
  [ "$(grep -o '<img [^>]*src="data:image/png;base64,' "$stage/$guide" | wc -l)" -eq "$(grep -c '!\[' "$repo/docs/使用说明.md")" \
    -a "$(grep -c '<img ' "$stage/$guide")" -eq "$(grep -c '!\[' "$repo/docs/使用说明.md")" ]
check "the portable zip holds it under its UTF-8 name, as released" python3 -c '
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    entry = z.getinfo(sys.argv[2])
    sys.exit(not entry.flag_bits & 0x800 or z.read(entry) != open(sys.argv[3], "rb").read())' \
  "$work/dist/LumoDictGen-$LUMO_VERSION-portable.zip" "LumoDictGen-$LUMO_VERSION/$guide" "$stage/$guide"

echo "== per machine: install $LUMO_VERSION over 0.9.0"
wine_run "$work/old-setup.exe" /S
check "0.9.0 installs silently" [ $? -eq 0 ]
check "0.9.0 is registered" [ "$(reg_value HKLM DisplayVersion)" = 0.9.0 ]
# Releases before the guide installed the developers' README in its place.
echo 'the README of an earlier release' >"$(unixpath "$(reg_value HKLM InstallLocation)")/README.txt"
wine_run "$setup" /S
check "$LUMO_VERSION installs silently over it" [ $? -eq 0 ]
instdir=$(reg_value HKLM InstallLocation)
dir=$(unixpath "$instdir")
check "installed into Program Files ($instdir)" [ "$instdir" = 'C:\Program Files\LumoDictGen' ]
check "the installed files, nothing else (an earlier release's README.txt is gone)" \
  [ "$(listing "$dir")" = "$installed_files" ]
for f in LumoDictGen.exe ldic.exe "$guide" LICENSE.txt fruit.txt; do
  check "$f as released" cmp -s "$stage/$f" "$dir/$f"
done
check "Start-menu shortcut for all users" [ -f "$start_all/$name.lnk" ]
check "Start-menu shortcut to the guide for all users" links_to "$start_all/$guide_link" "$guide"
check "desktop shortcut for all users" [ -f "$desktop_all/$name.lnk" ]
check "one uninstaller entry after the upgrade" [ "$(entries)" = 1 ]
check "DisplayVersion is $LUMO_VERSION" [ "$(reg_value HKLM DisplayVersion)" = "$LUMO_VERSION" ]
check "DisplayName" [ "$(reg_value HKLM DisplayName)" = "$name" ]
check "Publisher" [ "$(reg_value HKLM Publisher)" = "$LUMO_PUBLISHER" ]
check "DisplayIcon" [ "$(reg_value HKLM DisplayIcon)" = "$instdir\\LumoDictGen.exe,0" ]
check "UninstallString" [ "$(reg_value HKLM UninstallString)" = "\"$instdir\\uninstall.exe\" /AllUsers" ]
quiet=$(reg_value HKLM QuietUninstallString)
check "QuietUninstallString" [ "$quiet" = "\"$instdir\\uninstall.exe\" /AllUsers /S" ]
size=$(reg_value HKLM EstimatedSize)
check "EstimatedSize ($((size)) KiB) counts the files" \
  [ $((size)) -ge $(($(du -sk --apparent-size "$dir" | cut -f1) - 8)) ]

echo "== the installed programs"
wine_run "$probe" dialog "$instdir\\LumoDictGen.exe" 2>&1 | tr -d "\r" >"$work/probe.log"
status=${PIPESTATUS[0]}
check "LumoDictGen.exe shows its dialog, holds the mutex and closes on Esc ($(tr '\n' ';' <"$work/probe.log"))" [ "$status" -eq 0 ]
meta=(--name Fruit --author Tests --lumo 12345 --version 1.0 --date 2026-01-02 -q)
wine_run "$instdir\\ldic.exe" convert "$(winpath "$repo/samples/fruit.txt")" -o "$(winpath "$work/installed.ldic")" "${meta[@]}"
wine_run "$build/cli/ldic.exe" convert "$(winpath "$repo/samples/fruit.txt")" -o "$(winpath "$work/built.ldic")" "${meta[@]}"
check "the installed ldic.exe makes the build tree's package" cmp -s "$work/installed.ldic" "$work/built.ldic"
check "ldic.exe --version says $LUMO_VERSION" \
  [ "$(wine_run "$instdir\\ldic.exe" --version | tr -d '\r')" = "ldic $LUMO_VERSION" ]

echo "== while LumoDictGen.exe runs"
wine_run "$probe" dialog "$instdir\\LumoDictGen.exe" "$(winpath "$work/old-setup.exe")" /S 2>&1 | tr -d "\r" >"$work/probe.log"
check "a silent install refuses, status 2 ($(tr '\n' ';' <"$work/probe.log"))" grep -qx 'command exit: 2' "$work/probe.log"
check "and leaves the installation as it was" [ "$(reg_value HKLM DisplayVersion)" = "$LUMO_VERSION" ]
wine_run "$probe" dialog "$instdir\\LumoDictGen.exe" "$instdir\\uninstall.exe" /S "_?=$instdir" 2>&1 | tr -d "\r" >"$work/probe.log"
check "a silent uninstall refuses, status 2" grep -qx 'command exit: 2' "$work/probe.log"
check "and removes nothing" [ -f "$dir/LumoDictGen.exe" -a "$(entries)" = 1 ]

echo "== per machine: uninstall"
echo '(a package the user saved here)' >"$dir/mine.ldic"
remember_settings
check "(the program's settings, as the dialog keeps them)" settings_kept
eval "set -- $quiet"
wine_run "$@"
check "the quiet uninstall command runs" [ $? -eq 0 ]
check "the uninstaller finishes" wait_uninstalled HKLM
check "every installed file is gone, the user's package stays" [ "$(listing "$dir")" = "./mine.ldic " ]
check "the Start-menu shortcuts are gone" [ ! -e "$start_all/$name.lnk" -a ! -e "$start_all/$guide_link" ]
check "the program's settings are gone" settings_gone
check "the desktop shortcut is gone" [ ! -e "$desktop_all/$name.lnk" ]
check "no uninstaller entry" [ "$(entries)" = 0 ]
check "LumoDict.ini untouched" cmp -s "$work/ini.before" "$appdata/Norvane/LumoDict/LumoDict.ini"
check "the user's Documents untouched" cmp -s "$repo/samples/fruit.txt" "$documents/mine.txt"
rm -rf "$dir"

echo "== per user"
wine_run "$setup" /S /CurrentUser
check "installs silently for the current user" [ $? -eq 0 ]
instdir=$(reg_value HKCU InstallLocation)
dir=$(unixpath "$instdir")
check "into the user's programs folder ($instdir)" [ "$dir" = "$localappdata/Programs/LumoDictGen" ]
check "the installed files" \
  [ "$(listing "$dir")" = "$installed_files" ]
check "the user's Start-menu shortcut" [ -f "$start_user/$name.lnk" ]
check "the user's Start-menu shortcut to the guide" links_to "$start_user/$guide_link" "$guide"
check "the user's desktop shortcut" [ -f "$desktop_user/$name.lnk" ]
check "nothing registered per machine" [ -z "$(reg_value HKLM DisplayName)" ]
wine_run "$setup" /S /AllUsers
check "an install asked for all users upgrades the user's installation" [ $? -eq 0 ]
check "still one uninstaller entry, the user's" [ "$(entries)" = 1 -a -n "$(reg_value HKCU DisplayName)" ]
quiet=$(reg_value HKCU QuietUninstallString)
remember_settings
eval "set -- $quiet"
wine_run "$@"
check "the uninstaller finishes" wait_uninstalled HKCU
check "its folder is gone" [ ! -e "$dir" ]
check "its shortcuts are gone" \
  [ ! -e "$start_user/$name.lnk" -a ! -e "$start_user/$guide_link" -a ! -e "$desktop_user/$name.lnk" ]
check "the program's settings are gone" settings_gone
check "no uninstaller entry" [ "$(entries)" = 0 ]
check "LumoDict.ini untouched" cmp -s "$work/ini.before" "$appdata/Norvane/LumoDict/LumoDict.ini"

WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
if ((failures)); then
  echo "installer-test.sh: $failures checks failed"
  exit 1
fi
echo "installer-test.sh: all checks passed"
