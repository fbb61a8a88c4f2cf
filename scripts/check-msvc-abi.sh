#!/usr/bin/env bash
# Checks that a host built with MSVC (or clang-cl) sees the same virtual-table slots
# as GCC, Clang and MinGW: clang lays out every interface of the host contract
# under both C++ ABIs and the slot indices must agree. The record layouts are
# checked too, by the contract's static_asserts compiled for the MSVC target, and
# no slot may return a struct by value.
set -euo pipefail
cd "$(dirname "$0")/.."
probe=tests/windows/msvc_abi
cxx=${CLANGXX:-clang++}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Slot indices, one line per slot: "<class> | <index> | <function>", sorted.
indices() {
  "$cxx" -target "$1" -std=c++17 -nostdinc -isystem "$probe/shim" -Iinclude \
    -Xclang -fdump-vtable-layouts -S -o /dev/null "$probe/probe.cpp" >"$work/$1.dump"
  awk '/^VF?Table indices for / {cls = $4; next}
       cls != "" && /^ *[0-9]+ \|/ {print cls " " $0; next}
       {cls = ""}' "$work/$1.dump" | sed 's/  */ /g' | sort -u
}

indices x86_64-linux-gnu >"$work/itanium"
indices x86_64-pc-windows-msvc >"$work/msvc"
classes=$(cut -d' ' -f1 "$work/msvc" | sort -u | wc -l)
if [ "$classes" -ne 7 ]; then
  echo "check-msvc-abi: expected the tables of 7 interfaces, found $classes" >&2
  exit 1
fi
if ! diff -u --label "Itanium ABI (GCC, Clang, MinGW)" --label "MSVC ABI" "$work/itanium" "$work/msvc"; then
  echo "check-msvc-abi: an MSVC-built host would call different slots" >&2
  exit 1
fi
# Compilers disagree on how a member function returns a class type, so no slot
# may return one by value.
if grep -E '\| (const )?pxs::[A-Za-z0-9_]+ pxs::' "$work/msvc"; then
  echo "check-msvc-abi: the slots above return a struct by value" >&2
  exit 1
fi
echo "msvc abi ok: $(wc -l <"$work/msvc") slots of $classes interfaces agree"
