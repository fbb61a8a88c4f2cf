#!/usr/bin/env bash
# Checks the Windows plug-in against the Linux one:
#  - the DLL exports exactly <Class>_create and <Class>_getAPIVersion for every class
#    the .so exports, and nothing else (the .so is held to the same rule);
#  - it imports only from DLLs every Windows has (no MinGW runtime DLLs);
#  - its load hook is linked in (it imports DisableThreadLibraryCalls).
#
#   scripts/check-dll-exports.sh path/to/vesperShaders64.dll path/to/libvesperShaders64.so
set -euo pipefail
dll=$1
so=$2
objdump=${MINGW_OBJDUMP:-x86_64-w64-mingw32-objdump}
allowed_imports="kernel32.dll msvcrt.dll"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$objdump" -p "$dll" >"$work/pe.txt"

# Named exports of the DLL, from the export table listing.
awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
     on && /^[ \t]*\[/ {print $NF; next}
     on {on = 0}' "$work/pe.txt" | sort >"$work/dll"
nm -D --defined-only "$so" | awk '{print $NF}' | sort >"$work/so"
sed -n 's/_create$//p' "$work/so" | while read -r class; do
  printf '%s_create\n%s_getAPIVersion\n' "$class" "$class"
done | sort >"$work/expected"

status=0
if [ ! -s "$work/expected" ]; then
  echo "check-dll-exports: $so exports no classes" >&2
  status=1
fi
if ! diff -u --label "expected (classes of $so)" --label "$so" "$work/expected" "$work/so"; then
  echo "check-dll-exports: the .so exports more or less than the factories and version queries" >&2
  status=1
fi
if ! diff -u --label "expected (classes of $so)" --label "$dll" "$work/expected" "$work/dll"; then
  echo "check-dll-exports: the DLL's exports differ from the .so's classes" >&2
  status=1
fi

sed -n 's/^[ \t]*DLL Name: //p' "$work/pe.txt" | tr 'A-Z' 'a-z' | sort -u >"$work/imports"
while read -r imported; do
  case " $allowed_imports " in
    *" $imported "*) ;;
    *) echo "check-dll-exports: $dll needs $imported (not on a plain Windows)" >&2; status=1 ;;
  esac
done <"$work/imports"
if ! grep -q '[[:space:]]DisableThreadLibraryCalls$' "$work/pe.txt"; then
  echo "check-dll-exports: $dll does not call DisableThreadLibraryCalls (load hook missing)" >&2
  status=1
fi

if [ "$status" -eq 0 ]; then
  echo "dll exports ok: $(($(wc -l <"$work/dll") / 2)) classes, imports: $(tr '\n' ' ' <"$work/imports")"
fi
exit "$status"
