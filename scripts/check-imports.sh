#!/usr/bin/env bash
# Checks that Windows programs import only DLLs that every Windows has, so that they run
# from any folder with nothing beside them: no C++ runtime, threads library or zlib DLL.
#
#   scripts/check-imports.sh PROGRAM.exe...
#
# Prints each program's imports; exits 1 when one imports a DLL outside the list below.
set -euo pipefail

# What the programs import today, all part of Windows itself. A new entry here must be a
# DLL of Windows, never one that would have to be shipped.
allowed=(kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll shell32.dll
         shlwapi.dll ole32.dll msvcrt.dll advapi32.dll)

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
((${#})) || { echo "usage: check-imports.sh PROGRAM.exe..." >&2; exit 2; }

status=0
for program in "$@"; do
  imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  if [[ -z "$imports" ]]; then
    echo "$program: no import table found" >&2
    status=1
    continue
  fi
  echo "$program: $(echo $imports)"
  for dll in $imports; do
    if [[ " ${allowed[*]} " != *" $dll "* ]]; then
      echo "$program imports $dll, which is not part of Windows" >&2
      status=1
    fi
  done
done
exit $status
