#!/usr/bin/env bash
# bash tests/release.sh DIR: the release in DIR (tools/release) holds every
# asset README.md names and no other, and each holds what README.md and its
# own readme promise.
set -euo pipefail
rel=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
v=$(sed -n 's/^project(topwipe VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export LC_ALL=C
table=$(tests/marked README.md install-table)
dirs=$(tests/marked README.md package-dirs)

# has PATTERN COMMAND...: the command's output, taken whole, has a line
# that matches; else the check fails, saying which.
has() {
	local out
	out=$("${@:2}") && grep -q -- "$1" <<<"$out" || { echo "release: no '$1' from: ${*:2}" >&2; exit 1; }
}

assets=(SHA256SUMS "topwipe-$v.tar.gz" topwipe-"$v"-{aarch64,x86_64}-macos.tar.gz topwipe-"$v"-{x86_64,aarch64}-windows.zip
	topwipe_"$v"_{amd64,i386,arm64,armhf,riscv64}.deb topwipe-"$v"-1.{x86_64,aarch64}.rpm
	topwipe-"$v"-py3-none-{win_amd64,win_arm64,macosx_11_0_arm64,macosx_11_0_x86_64}.whl
	"topwipe-$v-armv6-linux.tar.gz" "topwipe-$v-py3-none-linux_armv6l.manylinux_2_17_armv7l.musllinux_1_1_armv7l.whl")
for arch in x86_64 i686 aarch64 riscv64; do
	assets+=("topwipe-$v-$arch-linux.tar.gz" "topwipe-$v-py3-none-manylinux_2_17_$arch.musllinux_1_1_$arch.whl")
done
diff <(printf '%s\n' "${assets[@]}" | sort) <(ls "$rel") || { echo "release: not the assets expected" >&2; exit 1; }

# The static Linux binaries: README's install table names each; each holds
# the documents and the CMake package; the 32-bit ARM one runs on an ARMv6.
for a in "$rel"/topwipe-"$v"-*-linux.tar.gz; do
	d=${a##*/} d=$tmp/${d%.tar.gz}
	tar -xzf "$a" -C "$tmp"
	arch=${d#"$tmp/topwipe-$v-"} arch=${arch%-linux}
	has "-$arch-" echo "$table"
	has 'statically linked' file "$d/bin/topwipe"
	test -f "$d/share/doc/topwipe/CHANGELOG.md" && test -f "$d/lib/cmake/topwipe/topwipe-config.cmake"
done
has 'Tag_CPU_arch: v6$' readelf -A "$tmp/topwipe-$v-armv6-linux/bin/topwipe"

# macOS: the binary, for the macOS its readme names; the arm64 one's
# signature holds as shipped, in the archive and in the wheel.
for arch in aarch64 x86_64; do
	tar -xzf "$rel/topwipe-$v-$arch-macos.tar.gz" -C "$tmp"
	d=$tmp/topwipe-$v-$arch-macos
	has "Mach-O 64-bit ${arch/aarch64/arm64} executable" file "$d/bin/topwipe"
	[ "$(tests/macho.py minos "$d/bin/topwipe")" = 11.0 ]
	for f in 'NOT TESTED' "tar -xzf topwipe-$v-$arch-macos.tar.gz" 'macOS 11.0 or later'; do
		has "$f" cat "$d/share/doc/topwipe/README.txt"
	done
	test -f "$d/lib/cmake/topwipe/topwipe-config.cmake"
	# Its PATH line, run twice, adds one line to ~/.zprofile.
	line=$(grep -F '>> ~/.zprofile' "$d/share/doc/topwipe/README.txt")
	for _ in 1 2; do HOME=$d sh -c "$line"; done
	[ "$(wc -l <"$d/.zprofile")" = 1 ] || { echo "release: $arch macOS README.txt: ~/.zprofile not one line" >&2; exit 1; }
done
tests/macho.py signed "$tmp/topwipe-$v-aarch64-macos/bin/topwipe"
unzip -p "$rel/topwipe-$v-py3-none-macosx_11_0_arm64.whl" "topwipe-$v.data/scripts/topwipe" >"$tmp/macos-wheel"
tests/macho.py signed "$tmp/macos-wheel"

# Windows: one top folder, which README.txt's unzip line puts in C:\Tools,
# holding all of the install; README.txt in CR LF lines, with the version.
for arch in x86_64 aarch64; do
	zip=$rel/topwipe-$v-$arch-windows.zip top=topwipe-$v-$arch-windows
	for f in topwipe.exe topwipe.html README.txt LICENSE CHANGELOG.md cmake/topwipe-config.cmake; do
		has "^$top/$f\$" unzip -Z1 "$zip"
	done
	[ "$(unzip -Z1 "$zip" | cut -d/ -f1 | sort -u)" = "$top" ]
	unzip -p "$zip" "$top/README.txt" >"$tmp/README.txt"
	if grep -qv $'\r$' "$tmp/README.txt"; then echo "release: $top/README.txt: lines without CR LF" >&2; exit 1; fi
	has "\$dir = \"C:\\\\Tools\\\\$top\"" cat "$tmp/README.txt"
	has "$top.zip\" -DestinationPath C:\\\\Tools"$'\r' cat "$tmp/README.txt"
	for f in "(Get-FileHash \"\$HOME\\Downloads\\$top.zip\").Hash" "-Dtopwipe_DIR=C:/Tools/$top/cmake"$'\r'; do
		grep -qF -- "$f" "$tmp/README.txt" || { echo "release: $top/README.txt: no line with $f" >&2; exit 1; }
	done
	if grep -q -e VERSION -e '@[A-Za-z_]*@' "$tmp/README.txt"; then echo "release: $top/README.txt: no version" >&2; exit 1; fi
	unzip -p "$zip" "$top/topwipe.exe" >"$tmp/$arch.exe"
done
# README.md's folder of the package, for a zip unpacked into C:\Tools.
row=$(sed -n 's/.* | `C:\/Tools\/\(.*\)` |$/\1/p' <<<"$dirs")
has "^$row/topwipe-config.cmake\$" unzip -Z1 "$rel/topwipe-$v-x86_64-windows.zip"
has 'PE32+ executable.*Aarch64' file "$tmp/aarch64.exe"
has 'Tested under emulation' unzip -p "$rel/topwipe-$v-aarch64-windows.zip" "topwipe-$v-aarch64-windows/README.txt"
# The x64 program says the oldest Windows README names: 7 (6.1).
[ "$(objdump -p "$tmp/x86_64.exe" | awk '/^M(aj|in)or(OSystem|Subsystem)Version/ { printf "%s.", $2 }')" = 6.1.6.1. ]

# The .deb and .rpm: static, with the CMake package, the licence marked.
lintian --fail-on error,warning "$rel"/*.deb
for a in "$rel"/*.deb; do
	[ -z "$(dpkg-deb -f "$a" Depends)" ]
	has ' \./usr/lib/cmake/topwipe/topwipe-config\.cmake$' dpkg-deb -c "$a"
done
for a in "$rel"/*.rpm; do
	has '^d*l .*/copyright$' rpm -qp --qf '[%{FILEFLAGS:fflags} %{FILENAMES}\n]' "$a"
	has '^/usr/bin/topwipe$' rpm -qlp "$a"
	has '^/usr/lib/cmake/topwipe/topwipe-config\.cmake$' rpm -qlp "$a"
done

# Each binary's notices: its asset's copyright file holds topwipe's licence
# and the notice of each runtime its build links in, named by its first
# Files line, and no other; a runtime whose mark the binary bears is among
# them; beside the file, in licenses/, each licence text it points to (but
# in a .deb: its system has them).
zig='zig/lib/libcxx/* zig/lib/compiler_rt/*'
want() {
	case $1 in
	*armv6* | *armhf*) echo 'glibc/* gcc/libgcc/*' ;;
	*x86_64-windows* | *win_amd64*) echo 'mingw-w64/mingw-w64-crt/* gcc/libgcc/*' ;;
	*aarch64-windows* | *win_arm64*) echo "mingw-w64/mingw-w64-crt/* $zig" ;;
	*macos*) echo "$zig" ;;
	*) echo "zig/lib/libc/musl/* $zig" ;;
	esac
}
marks=('ziglang=zig/lib/compiler_rt/' 'libc++abi=zig/lib/libcxx/' 'GCC: (=gcc/libgcc/' 'glibc=glibc/'
	'Mingw-w64 runtime=mingw-w64/mingw-w64-crt/')
for a in "$rel"/*; do
	n=${a##*/} d=$tmp/notices/$n
	[ "$n" != "topwipe-$v.tar.gz" ] && [ "$n" != SHA256SUMS ] || continue
	mkdir -p "$d"
	case $n in
	*.tar.gz) tar -xzf "$a" -C "$d" ;;
	*.zip | *.whl) unzip -q "$a" -d "$d" ;;
	*.deb) dpkg-deb -x "$a" "$d" ;;
	*.rpm) rpm2archive - <"$a" | tar -xz -C "$d" ;;
	esac
	doc=$(find "$d" -name copyright -o -name LICENSE)
	bin=$(find "$d" -type f -perm -u+x \( -name topwipe -o -name topwipe.exe \))
	[ -f "$bin" ] || { echo "release: $n: no one program" >&2; exit 1; }
	got=$(sed -n 's/^Files: \([^ ]*\).*/\1/p' "$doc" | tr '\n' ' ')
	[ "$got" = "* $(want "$n") " ] || { echo "release: $n: notices of '$got', not '* $(want "$n") '" >&2; exit 1; }
	for m in "${marks[@]}"; do
		if grep -qaF "${m%%=*}" "$bin" && ! grep -qF "Files: ${m#*=}" "$doc"; then
			echo "release: $n: its binary bears '${m%%=*}', its notices lack ${m#*=}" >&2
			exit 1
		fi
	done
	for t in $(grep -o '/usr/share/common-licenses/[^ ;]*' "$doc" | sort -u); do
		[[ $n = *.deb ]] || cmp "$t" "${doc%/*}/licenses/${t##*/}"
	done
done
# The glibc named is the one the cross compiler's package was built from.
glibc=$(dpkg-query -W -f='${Built-Using}' libc6-dev-armel-cross | grep -o 'glibc (= [^)]*)')
has "^$glibc\$" dpkg-deb -f "$rel/topwipe_${v}_armhf.deb" Built-Using
glibc=${glibc#glibc (= } glibc=${glibc%)}
has "apt-get source glibc=$glibc;" cat "$tmp/notices/topwipe_${v}_armhf.deb/usr/share/doc/topwipe/copyright"
