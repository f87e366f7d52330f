#!/usr/bin/env bash
# Makes brelum's release, every file tested as it ships:
#
#   bash packaging/release.sh [--only-testable] [--without TARGET]... OUTDIR
#
# The targets are named as their trees below: static-x86_64, deb-amd64,
# win64, win32 and so on; --without leaves one out. No release is made with
# a file that cannot be tested here, such as the win32 zip where wine cannot
# run 32-bit programs: its target must be left out, or --only-testable
# leaves out each Windows target that wine cannot run, saying why.
#
#   bash packaging/release.sh --untested [--without TARGET]... OUTDIR
#
# builds and packs the same files without testing any, for comparing with a
# tested release of the same commit, byte for byte.
# Either is made only from committed work: a checkout whose tracked files
# have uncommitted changes is refused, naming them, before anything is
# built. Untracked files, such as build trees, do not count.
# The Linux targets are those of packaging/targets. Each program is built
# with warnings as errors and its tests run on its own architecture: Linux
# programs under qemu-user, on the CPU that packaging/targets names, and
# Windows programs under wine. Then each package is opened again and the
# program in it tested. OUTDIR gets the tarballs, the Debian packages, the
# zips and SHA256SUMS, and nothing else.
# Times inside the archives are SOURCE_DATE_EPOCH, the last commit's time
# unless set, so that two releases of one commit are the same bytes. It
# needs what .ci/run installs, root, and git. Two targets are made at a
# time, since most of a target's time is its tests waiting.
set -eu

fail() {
	echo "release.sh: $*" >&2
	exit 1
}

without=" " testable="" untested=""
while [ "$#" -gt 1 ]; do
	case $1 in
	--only-testable) testable=1 ;;
	--untested) untested=1 ;;
	--without)
		[ "$#" -gt 2 ] || break
		without="$without$2 "
		shift
		;;
	*) break ;;
	esac
	shift
done
if [ "$#" != 1 ] || [[ $1 == -* ]] || [ "$testable$untested" = 11 ]; then
	echo "usage: bash packaging/release.sh [--only-testable | --untested] [--without TARGET]... OUTDIR" >&2
	exit 2
fi
src=$(cd "$(dirname "$0")/.." && pwd)
changed=$(git -C "$src" status --porcelain --untracked-files=no) ||
	fail "$src: git cannot tell whether its work is committed"
[ -z "$changed" ] || fail "$src has uncommitted changes; commit them first:
$changed"
mkdir -p "$1"
out=$(cd "$1" && pwd)
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH LC_ALL=C
version=$(sed -n 's/^project(brelum VERSION \([0-9.]*\)$/\1/p' "$src/CMakeLists.txt")
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait; rm -rf "$work"' EXIT

[ -n "$version" ] || fail "no version in CMakeLists.txt"
[ -z "$(ls -A "$out")" ] || fail "$out is not empty"

# Builds a tree, runs its tests unless untested, and packs it: pack TREE
# CMAKE-OPTION...
pack() {
	local tree=$work/$1
	shift
	echo "== $(basename "$tree")"
	cmake -S "$src" -B "$tree" -DBRELUM_WERROR=ON "$@" >/dev/null
	cmake --build "$tree" >/dev/null
	[ -n "$untested" ] || (cd "$tree" && ctest --no-tests=error --output-on-failure -j2)
	(cd "$tree" && cpack >/dev/null)
}

# The hardening of a tree's program as shipped: hardened TREE PROGRAM
hardened() {
	bash "$src/packaging/hardening.sh" "$1" "$2" || fail "$2: not hardened"
}

# A word and its answer, as a smoke test: answers CMD...
answers() {
	printf 'kaes\n' | "$@" | cmp -s - "$src/tests/kaes.expected"
}

# The manual page as the source has it.
man_page() { # FILE
	gzip -t "$1" && zcat "$1" | cmp -s - "$src/brelum.1" || fail "$1: not brelum.1"
}

# The dialogue of a shipped program: dialogue CMD...
dialogue() {
	python3 "$src/tests/dialoog.py" sessions "$@"
}

# The dialogue of a shipped Linux program on further CPUs, given as
# packaging/targets gives them, with commas, or -: on_cpus TREE FILE
# PROGRAM MORE, where FILE is the tarball or package that PROGRAM is from.
on_cpus() {
	local run cpu
	read -ra run <<<"$(emulator "$1")"
	for cpu in ${4//,/ }; do
		[ "$cpu" != - ] || continue
		echo "$2 on $cpu"
		dialogue "${run[0]}" -cpu "$cpu" "$3"
	done
}

# How a Linux tree's tests run its program: qemu-user and its options.
emulator() { # TREE
	sed -n 's/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p' "$1/CMakeCache.txt" | tr ';' ' '
}

# A static Linux program for ARCH, in a tarball: static ARCH TRIPLE PIE
# MORE, where TRIPLE names the compiler, PIE (yes or no) whether it is
# position-independent, and MORE the further CPUs that it is for.
# Installing it leaves directories that were there as they were; the
# program needs no interpreter and no shared library, and answers in a root
# that holds nothing but itself and qemu-user.
static() {
	local arch=$1 pie=$3 tree=$work/static-$1
	local name=brelum-$version-linux-$arch run
	pack "static-$arch" -DBRELUM_STATIC=ON \
		-DCMAKE_TOOLCHAIN_FILE="$src/cmake/linux.cmake" -DBRELUM_TRIPLE="$2"
	if [ -n "$untested" ]; then
		cp "$tree/$name.tar.gz" "$out/"
		return
	fi
	[ "$(sed -n 's/^BRELUM_STATIC_PIE:INTERNAL=//p' "$tree/CMakeCache.txt")" = \
		"$([ "$pie" = no ] || echo 1)" ] || fail "$name: static-pie is not $pie"
	read -ra run <<<"$(emulator "$tree")"
	local x=$work/usr-$arch root=$work/root-$arch
	mkdir -p "$x/bin" "$x/share/man/man1" "$root"
	local dirs=("$x" "$x/bin" "$x/share" "$x/share/man" "$x/share/man/man1") before
	chgrp staff "${dirs[@]}"
	chmod 2775 "${dirs[@]}"
	before=$(stat -c '%n %A %U:%G' "${dirs[@]}")
	tar xzf "$tree/$name.tar.gz" --no-overwrite-dir --strip-components=1 -C "$x"
	[ "$(stat -c '%n %A %U:%G' "${dirs[@]}")" = "$before" ] ||
		fail "$name.tar.gz: changed directories that were there"
	[ "$(tar tzf "$tree/$name.tar.gz" | grep -v /$ | sort | tr '\n' ' ')" = \
		"$name/bin/brelum $name/share/doc/brelum/changelog.gz $name/share/doc/brelum/copyright $name/share/man/man1/brelum.1.gz " ] ||
		fail "$name.tar.gz: contents"
	tar tzvf "$tree/$name.tar.gz" --numeric-owner | grep -qv ' 0/0 ' && fail "$name.tar.gz: owners"
	man_page "$x/share/man/man1/brelum.1.gz"
	readelf -lW "$x/bin/brelum" | grep -q INTERP && fail "$name: has an interpreter"
	readelf -dW "$x/bin/brelum" | grep -q NEEDED && fail "$name: needs a shared library"
	hardened "$tree" "$x/bin/brelum"
	cp "$x/bin/brelum" "/usr/bin/${run[0]}" "$root/"
	answers chroot "$root" "/${run[0]}" "${run[@]:1}" /brelum || fail "$name: no dialogue in an empty root"
	dialogue "${run[@]}" "$x/bin/brelum"
	on_cpus "$tree" "$name.tar.gz" "$x/bin/brelum" "$4"
	cp "$tree/$name.tar.gz" "$out/"
}

# A Debian package for ARCH: deb ARCH TRIPLE MORE. Its fields, its Depends
# worked out from its own architecture's C library, lintian, and the
# program in it, on the further CPUs too.
deb() {
	local arch=$1 tree=$work/deb-$1
	local name=brelum_${version}_$arch.deb x=$work/deb-$1/x run
	pack "deb-$arch" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/linux.cmake" -DBRELUM_TRIPLE="$2"
	if [ -n "$untested" ]; then
		cp "$tree/$name" "$out/"
		return
	fi
	read -ra run <<<"$(emulator "$tree")"
	local f
	for f in Package:brelum Version:$version Section:utils Architecture:$arch; do
		[ "$(dpkg-deb -f "$tree/$name" "${f%%:*}")" = "${f#*:}" ] || fail "$name: $f"
	done
	[ "$(dpkg-deb -f "$tree/$name" Depends)" = "libc6 (>= 2.34)" ] || fail "$name: Depends"
	lintian --fail-on error,warning "$tree/$name"
	dpkg-deb -x "$tree/$name" "$x"
	man_page "$x/usr/share/man/man1/brelum.1.gz"
	hardened "$tree" "$x/usr/bin/brelum"
	dialogue "${run[@]}" "$x/usr/bin/brelum"
	on_cpus "$tree" "$name" "$x/usr/bin/brelum" "$3"
	cp "$tree/$name" "$out/"
}

# A Windows zip: windows NAME TRIPLE. brelum.exe and README.txt, in UTF-8
# with a byte-order mark and CR LF line ends, and the program under wine.
windows() {
	local name=brelum-$version-$1 tree=$work/$1 x=$work/$1/x
	pack "$1" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/windows.cmake" -DBRELUM_TRIPLE="$2"
	if [ -n "$untested" ]; then
		cp "$tree/$name.zip" "$out/"
		return
	fi
	unzip -q "$tree/$name.zip" -d "$x"
	[ "$(cd "$x" && find . | sort | tr '\n' ' ')" = \
		". ./$name ./$name/README.txt ./$name/brelum.exe " ] || fail "$name.zip: contents"
	local readme=$x/$name/README.txt
	[ "$(head -c 3 "$readme" | od -An -tx1)" = " ef bb bf" ] || fail "$name: README.txt has no byte-order mark"
	grep -q $'^\xef\xbb\xbfbrelum '"$version"$'\r$' "$readme" || fail "$name: README.txt's first line"
	[ "$(grep -c $'\r$' "$readme")" = "$(wc -l <"$readme")" ] || fail "$name: README.txt's line ends"
	local wine # the loader that the tree's tests ran under
	wine=$(sed -n 's/^WINE:FILEPATH=//p' "$tree/CMakeCache.txt")
	# One wine server for all the runs, kept a few seconds past each: a
	# program started while the last one's server shuts down can fail.
	export WINEDEBUG=-all WINEPREFIX=$tree/wine
	wineserver -w
	wineserver -p5 </dev/null >/dev/null 2>&1
	python3 "$src/tests/dialoog.py" --crlf sessions "$wine" "$x/$name/brelum.exe"
	"$wine" "$tree/tests/juht.exe" "$x/$name/brelum.exe"
	wineserver -w # done writing to its prefix
	cp "$tree/$name.zip" "$out/"
}

# Makes a target in the background, and waits first while two are being
# made: later FUNCTION ARG... Each one's output is shown whole when it ends,
# and the first that fails ends the release.
declare -A logs=()
later() {
	[ "${#logs[@]}" -lt 2 ] || finished
	"$@" >"$work/$1-$2.log" 2>&1 &
	logs[$!]=$work/$1-$2.log
}
finished() {
	local id status=0
	wait -n -p id || status=$?
	cat "${logs[$id]}"
	[ "$status" = 0 ] || fail "$(basename "${logs[$id]}" .log) failed"
	unset "logs[$id]"
}

# Every target: what makes it, and its arguments. A Debian package's
# architecture is Debian's name for its triple.
targets=()
table=$(grep -Ev '^(#|$)' "$src/packaging/targets")
while read -r triple tarball qemu cpu more pie deb; do
	targets+=("static $tarball $triple $pie $more")
done <<<"$table"
while read -r triple tarball qemu cpu more pie deb; do
	[ "$deb" = no ] || targets+=("deb $(dpkg-architecture -t "$triple" -qDEB_HOST_ARCH 2>/dev/null) $triple $more")
done <<<"$table"
targets+=("windows win64 x86_64-w64-mingw32" "windows win32 i686-w64-mingw32")
# A target's name is its tree's: static-ARCH, deb-ARCH, win64 or win32.
name() { # WHAT ARCH
	if [ "$1" = windows ]; then echo "$2"; else echo "$1-$2"; fi
}
left_out() { # NAME
	[[ $without == *" $1 "* ]]
}
names=" "
for t in "${targets[@]}"; do
	names="$names$(name $t) "
done
for t in $without; do
	[[ $names == *" $t "* ]] || fail "--without $t: no such target; they are$names"
done

# No target is made that cannot be tested here: a Windows tree says, when
# it is configured, whether wine can run its program.
for t in "${targets[@]}"; do
	read -ra t <<<"$t"
	n=$(name "${t[@]}")
	[ "${t[0]}" = windows ] && ! left_out "$n" && [ -z "$untested" ] || continue
	cmake -S "$src" -B "$work/$n" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/windows.cmake" \
		-DBRELUM_TRIPLE="${t[2]}" >"$work/$n.log" 2>&1 || fail "$n: $(cat "$work/$n.log")"
	why=$(sed -n 's/^BRELUM_WINE_CANNOT:INTERNAL=//p' "$work/$n/CMakeCache.txt")
	if [ -n "$why" ] && [ -n "$testable" ]; then
		echo "release.sh: $why: the $n zip cannot be tested, and is left out"
		without="$without$n "
	elif [ -n "$why" ]; then
		fail "$why. The $n zip cannot be tested, and so is not made;" \
			"bash packaging/release.sh --without $n OUTDIR makes the rest."
	fi
done

made=0
for t in "${targets[@]}"; do
	if left_out "$(name $t)"; then
		echo "== $(name $t): left out"
	else
		later $t
		made=$((made + 1))
	fi
done
while [ "${#logs[@]}" -gt 0 ]; do finished; done

cd "$out"
shopt -s nullglob
sha256sum -- *.tar.gz *.deb *.zip >SHA256SUMS
sha256sum -c SHA256SUMS
[ "$(ls | wc -l)" = $((made + 1)) ] || fail "$out holds $(ls | wc -l) files, not $made and SHA256SUMS"
[ "$without" = " " ] || echo "release.sh: left out:${without% }"
