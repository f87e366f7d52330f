#!/usr/bin/env bash
# Checks the hardening of the Linux program that a CMake build tree makes:
#
#   bash packaging/hardening.sh TREE [PROGRAM]
#
# PROGRAM is the tree's program as shipped, stripped; TREE/brelum unless
# given. It must be position-independent and bind at once, unless the tree
# links it plain static (where the C library has no start files for
# static-pie), and have RELRO and a stack that is not executable. brelum's
# own code must call the stack protector's and _FORTIFY_SOURCE's checks:
# that is read from its object, main.cpp.o, since a static program holds the
# C library's calls to __stack_chk_fail whether or not brelum's code is
# protected. Names each thing that is missing, and then exits 1.
set -eu

if [ "$#" -lt 1 ] || [ "$#" -gt 2 ]; then
	echo "usage: bash packaging/hardening.sh TREE [PROGRAM]" >&2
	exit 2
fi
tree=$1 program=${2:-$1/brelum} object=$1/CMakeFiles/brelum.dir/main.cpp.o
cache() { sed -n "s/^$1:[A-Z]*=//p" "$tree/CMakeCache.txt"; }
missing=()

headers=$(readelf -hldW "$program")
symbols=$(readelf -sW "$object")
if [ "$(cache BRELUM_STATIC)" != ON ] || [ "$(cache BRELUM_STATIC_PIE)" = 1 ]; then
	grep -q 'Type: *DYN' <<<"$headers" || missing+=("not position-independent")
	grep -q 'BIND_NOW' <<<"$headers" || missing+=("no immediate binding")
fi
grep -q GNU_RELRO <<<"$headers" || missing+=("no RELRO")
grep -Eq 'GNU_STACK +(0x[0-9a-f]+ +){5}RW ' <<<"$headers" || missing+=("an executable stack")
grep -Eq ' UND __stack_chk_fail(_local)?$' <<<"$symbols" || missing+=("no stack protector in main.cpp.o")
grep -Eq ' UND __[a-z]+_chk$' <<<"$symbols" || missing+=("no _FORTIFY_SOURCE checks in main.cpp.o")

for m in "${missing[@]}"; do
	echo "$program: $m" >&2
done
[ "${#missing[@]}" = 0 ]
