#!/usr/bin/env bash
# bash tests/container.sh DIR IMAGE SCRATCH: README.md's container recipe,
# with the release in DIR, in a copy (in SCRATCH) of IMAGE, a minimal
# Debian 12 system, each line as a container builder takes it: every RUN a
# shell of its own, on the image's PATH, in the WORKDIR. Then README's
# apt-get line, as a Dockerfile writes it, brings make to such a system.
set -euo pipefail
rel=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
v=$(sed -n 's/^project(topwipe VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
root=$3/root ctx=$3/context wd=/
rm -rf "$3" && mkdir -p "$ctx"
cp -a "$2" "$root"
cp "$rel/topwipe-$v-x86_64-linux.tar.gz" "$ctx/"
printf '\021\042\063\104\125' >"$ctx/fw.bin"
tests/marked README.md container >"$3/Dockerfile"
while read -r word rest; do
	case $word in
	FROM) [ "$rest" = debian:12-slim ] || { echo "container: FROM $rest, not the Debian 12 tried here" >&2; exit 1; } ;;
	WORKDIR) wd=$rest && mkdir -p "$root$wd" ;;
	COPY) read -r src dst <<<"$rest" && cp "$ctx/$src" "$root$([[ $dst = /* ]] || echo "$wd/")$dst" ;;
	RUN) chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
		sh -c "cd $wd && $rest" </dev/null ;;
	'') ;;
	*) echo "container: README's recipe has a $word line, which this check cannot run" >&2 && exit 1 ;;
	esac
done <"$3/Dockerfile"
[ "$(od -An -tx1 "$root/src/fw.bin")" = " 11 22 33 00 55" ] || { echo "container: the image's fw.bin is not cleared" >&2; exit 1; }
packages=$(tests/marked README.md demo | sed -n 's/^apt-get update && apt-get install -y \([^&]*\) &&.*/\1/p')
# shellcheck disable=SC2086
apt-get -s -o "Dir::State::status=$root/var/lib/dpkg/status" install --no-install-recommends $packages |
	grep -q '^Inst make ' || { echo "container: README's apt-get line, without recommends, brings no make" >&2; exit 1; }
