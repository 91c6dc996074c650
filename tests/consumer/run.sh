#!/usr/bin/env bash
# bash tests/consumer/run.sh PREFIX DIR: builds this project in DIR with each
# of README.md's CMake snippets as they stand: find_package on topwipe
# installed in PREFIX; FetchContent on a clone of this repository (only the
# URL replaced); add_subdirectory on a copy in the project. Taken from
# source, topwipe is optimised though the project names no build type,
# brings none of its tests, and the project installs its image and nothing
# of topwipe's. Then the same as a C-only Cortex-M
# firmware, cross-built with Debian's arm-none-eabi compiler: from source,
# topwipe is built for this machine, and a rebuild is quiet; installed, it
# is found as README's cross line says; with no C++ compiler for this
# machine, configuring stops and says what to install. Then README's
# Makefile rule.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$(cd "$1" && pwd)
mkdir -p "$2"
dir=$(cd "$2" && pwd)
readme=$top/README.md
fw=(-DCMAKE_TOOLCHAIN_FILE="$top/tests/consumer/arm-none-eabi.cmake")

# build NAME CMAKE-ARGS...: the project ($src, or this folder), in DIR/NAME.
build() {
	rm -rf "${dir:?}/$1"
	cmake -S "${src:-$top/tests/consumer}" -B "$dir/$1" -DTOPWIPE_README="$readme" "${@:2}" >/dev/null
	cmake --build "$dir/$1"
}
# has PATTERN COMMAND...: the command's output, taken whole, has a line
# that matches.
has() {
	local out
	out=$("${@:2}") && grep -q -- "$1" <<<"$out" || { echo "consumer: no '$1' from: ${*:2}" >&2; exit 1; }
}

rm -rf "${dir:?}"/*
build installed -DTOPWIPE_FROM=package -DCMAKE_PREFIX_PATH="$prefix"
git clone -q "$top" "$dir/clone"
git -C "$dir/clone" checkout -q -B main # the branch README's lines name
build fetch -DTOPWIPE_FROM=fetch -DTOPWIPE_GIT="$dir/clone"
cp -r "$top/tests/consumer" "$dir/fw"
git clone -q "$top" "$dir/fw/third_party/topwipe"
src=$dir/fw build subdirectory -DTOPWIPE_FROM=subdirectory
for how in fetch subdirectory; do
	has '^Total Tests: 0$' ctest --test-dir "$dir/$how" -N
	# The project names no build type: topwipe's own flags optimise it.
	has '^CXX_FLAGS =.* -O' cat "$(find "$dir/$how" -path '*/topwipe.dir/flags.make')"
	cmake --install "$dir/$how" --prefix "$dir/$how-installed" >/dev/null
	[ "$(cd "$dir/$how-installed" && find . -type f)" = ./share/firmware/fw.bin ]
done

build cross-fetch -DTOPWIPE_FROM=fetch -DTOPWIPE_GIT="$dir/clone" -DTOPWIPE_INSTALL=ON "${fw[@]}"
src=$dir/fw build cross-subdirectory -G Ninja -DTOPWIPE_FROM=subdirectory "${fw[@]}"
# A rebuild with nothing changed runs and says nothing of topwipe's, under
# make with job slots to share and under Ninja; asked, the project installs
# the program it ran.
for how in cross-fetch cross-subdirectory; do
	out=$(cmake --build "$dir/$how" -j 2 2>&1)
	[[ $out = "[100%] Built target fw" || $out = "ninja: no work to do." ]] ||
		{ echo "consumer: $how, rebuilt with nothing changed, said: $out" >&2; exit 1; }
done
cmake --install "$dir/cross-fetch" --prefix "$dir/cross-installed" >/dev/null
[ "$(cd "$dir/cross-installed" && find . -type f | sort)" = $'./bin/topwipe\n./share/firmware/fw.bin' ]
line=$("$top/tests/marked" "$readme" cross)
line="${line//\/usr\/lib\/cmake/$prefix/lib/cmake} -DTOPWIPE_README=$readme"
(cd "$dir/fw" && bash -c "$line" >/dev/null && cmake --build build)
for how in cross-fetch cross-subdirectory fw/build; do
	has 'ELF 32-bit LSB executable, ARM' file "$dir/$how/fw"
done
mkdir "$dir/bin"
ln -s /usr/bin/make /usr/bin/arm-none-eabi-* "$dir/bin/"
if PATH=$dir/bin "$(command -v cmake)" -S "$dir/fw" -B "$dir/no-cxx" -DTOPWIPE_FROM=subdirectory \
	-DTOPWIPE_README="$readme" "${fw[@]}" >/dev/null 2>"$dir/no-cxx.err"; then
	echo "consumer: a cross build with no C++ compiler for this machine configured" >&2
	exit 1
fi
has 'apt-get install g++' tr -s '\n ' ' ' <"$dir/no-cxx.err"

# README's Makefile rule, as it stands, on the firmware built above (whose
# raw image its build kept as fw.orig.bin): the image made and cleared; with
# a topwipe that fails, no image left for the next make to take as made.
mkdir -p "$dir/make/fails"
"$top/tests/marked" "$readme" makefile >"$dir/make/Makefile"
cp "$dir/fw/build/fw" "$dir/make/fw.elf"
PATH=$prefix/bin:$PATH make -s -C "$dir/make"
cmake -DORIG="$dir/fw/build/fw.orig.bin" -DIMAGE="$dir/make/fw.bin" -P "$top/tests/consumer/check.cmake"
rm "$dir/make/fw.bin"
printf '#!/bin/sh\nexit 1\n' >"$dir/make/fails/topwipe"
chmod +x "$dir/make/fails/topwipe"
if PATH=$dir/make/fails:$PATH make -s -C "$dir/make" 2>/dev/null || [ -e "$dir/make/fw.bin" ]; then
	echo "consumer: README's Makefile rule left an image behind a failed topwipe" >&2
	exit 1
fi
