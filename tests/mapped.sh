#!/usr/bin/env bash
# The mapped pass and the per-byte pass it falls back to: the same bytes at
# every boundary the mapping has (64-byte line, 4 KiB page, 2 MiB, the 4 MiB
# window, the last 1 to 3 bytes), files shortened underneath the run, and
# offsets past 2 and 4 GiB.
. "$(dirname "$0")/lib.sh"

mib=1048576

# sizes SIZE...: each size is cleared by the mapped pass, and again with the
# mapping refused (by the shim) from the first window on, or, past the first
# window, from the second on: the per-byte pass must take over exactly where
# the mapped one stopped, and all three must give the same bytes.
sizes() {
	local compare size refuse
	compare=1
	if [ -n "${TOPWIPE_PER_BYTE:-}" ]; then
		compare= # there is no mapping to refuse
	elif [ -z "$shim" ]; then
		compare=
		skip "mapped and per-byte agree" "no fault shim (TOPWIPE_SHIM)"
	fi
	# The mapped pass writes no byte one at a time: the shim counts them (and
	# would find 2 million a second pass had written again, at a thousand times
	# the time).
	for size; do
		noise orig "$size"
		cp orig a
		if [ -n "$compare" ]; then
			shimmed TOPWIPE_SHIM_COUNT_BYTES=1 -- a
		else
			run a
		fi
		ran "$size bytes" 0 ""
		wiped "$size bytes" orig a
		if [ -n "$compare" ]; then
			if grep -qx "byte write" "$work/.mark" 2>/dev/null; then fail "$size bytes: mapped, no byte written alone"; else pass; fi
			refuse=1
			[ "$size" -gt $((4 * mib)) ] && refuse=2
			cp orig b
			shimmed TOPWIPE_SHIM_REFUSE_MAP=$refuse TOPWIPE_SHIM_COUNT_BYTES=1 -- b
			ran "$size bytes, mapping refused from window $refuse" 0 ""
			fired "$size bytes, mapping refused from window $refuse" "refuse map"
			# (where a complete group is left for the per-byte pass)
			[ $((size - (refuse - 1) * 4 * mib)) -lt 4 ] ||
				fired "$size bytes, mapping refused from window $refuse: written a byte at a time" "byte write"
			same "$size bytes: mapped and per-byte agree" a b
		fi
	done
	rm -f orig a b
}

# The 64-byte line, the 4 KiB page, the last 1 to 3 bytes.
mapped:pages() {
	# The wide stores run only where the CPU has AVX-512BW; elsewhere the line
	# loop stands in for them, and a green run here says nothing of them.
	if [ -z "${TOPWIPE_PER_BYTE:-}" ] && [ "$(uname -m)" = x86_64 ] && [ "${cmd[0]#*qemu-}" = "${cmd[0]}" ] &&
		! grep -qw avx512bw /proc/cpuinfo 2>/dev/null; then
		skip "the AVX-512BW stores" "this CPU lacks AVX-512BW: the line loop ran in their place"
	fi

	sizes 60 61 63 64 67 68 4093 4095 4096 4097 4099 8195
}

# 2 MiB, the 4 MiB window, and a third window.
mapped:windows() { # slow
	sizes $((2 * mib - 1)) $((2 * mib)) $((2 * mib + 3)) $((4 * mib - 4)) $((4 * mib - 1)) $((4 * mib)) \
		$((4 * mib + 1)) $((4 * mib + 7)) $((8 * mib + 4099))
}

mapped:sparse() {
	# Sparse files: every group whose top byte lies in data is cleared, and no
	# hole is written into, so the file keeps the blocks it had; by each pass,
	# on the suites' filesystem and on a tmpfs. The data (offset+length, in
	# bytes) lies in whole blocks; a range that begins or ends inside a group
	# is the table in holes.cpp.
	dirs=("$work")
	if [ "$under_wine" = 1 ]; then
		skip "sparse files" "wine does not say where a file's holes are: it writes them, as any data"
		dirs=()
	elif shm=$(mktemp -d /dev/shm/topwipe-test.XXXXXX 2>/dev/null); then
		dirs+=("$shm")
		on_exit+=("rm -rf '$shm'")
	else
		skip "sparse files on a tmpfs" "no /dev/shm to make them in"
	fi
	# name | length | data
	while IFS='|' read -r what size pieces; do
		rm -f orig
		truncate -s "$size" orig
		groups=0
		for piece in $pieces; do
			noise piece "${piece#*+}"
			dd if=piece of=orig bs=65536 seek="${piece%+*}" oflag=seek_bytes conv=notrunc status=none
			groups=$((groups + ${piece#*+} / 4))
		done
		for dir in "${dirs[@]}"; do
			for how in "${ways[@]}"; do
				f=$dir/sparse
				cp --sparse=always orig "$f"
				blocks=$(stat -c %b "$f")
				by "$how" -- "$f"
				where="$what ($how, on $(df --output=fstype "$dir" | tail -n 1))"
				ran "$where" 0 ""
				wiped "$where" orig "$f" "$groups"
				[ "$(stat -c %b "$f")" = "$blocks" ] && pass ||
					fail "$where: the holes stay holes" "$(stat -c %b "$f") blocks, $blocks before"
				rm -f "$f"
			done
		done
	done <<-EOF
	data at both ends, the last inside the file's last group|$((9 * mib + 6))|0+65536 $((9 * mib - 65536))+65542
	a hole at each end, data across a window's end|$((9 * mib))|$((4 * mib - 65536))+131072
	all hole|$((9 * mib))|
	EOF
	rm -f orig piece
}

mapped:cut-short() {
	# Another process cuts the file short during the pass. Nothing may be written
	# at or past the new end (which would grow the file back), what lies before it
	# is cleared, and the run fails with one line. In the mapped pass the
	# prefaulting finds the cut or, where the kernel cannot prefault, the store
	# into the lost page does; a new end inside the last page of a window faults
	# nowhere, and only measuring the file again finds it. The per-byte pass (a
	# shorter file: it is slow) finds the end before each write, so a cut made
	# between two of them (here after the 5000th) is not grown back. A cut that
	# takes only the trailing 1 to 3 bytes takes no group: every group is
	# cleared and the run succeeds. A new end in a hole (of a file holding
	# 64 KiB of data) fails as any other: the pass asks where the data lies
	# after the cut and finds the file short. A SIGBUS
	# sent from outside is not a fault of ours: ignored by the caller, it changes
	# nothing (a real fault after it is still caught); by default, it ends the
	# run.
	if [ -z "$shim" ]; then
		skip "file cut short during the pass" "needs the fault shim"
	else
		# (The sanitizers' own SIGBUS handler would take a sent one for theirs.)
		export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}handle_sigbus=0"
		in_page="mapped, the new end inside the last page" edge="mapped, the new end at the window's last page"
		last_group="mapped, the new end inside the last complete group"
		tail="only the 2-byte tail" next="per-byte, the new end where the next write goes" hole="the new end in a hole"
		hows=(mapped "mapped, not prefaulted" "mapped, a sent SIGBUS ignored" "$in_page" "$edge" "$last_group" "mapped, $tail"
			"mapped, $hole" per-byte "$next" "per-byte, $tail" "per-byte, $hole")
		[ -n "${TOPWIPE_PER_BYTE:-}" ] && hows=(per-byte "$next" "per-byte, $tail" "per-byte, $hole")
		# the rest are Linux's own
		[ "$under_wine" = 1 ] && hows=(mapped "$in_page" "$edge" "$last_group" "mapped, $tail" per-byte "$next" "per-byte, $tail")
		for how in "${hows[@]}"; do
			size=$((6 * mib)) after=1 at=3000001 extra=() want_status=1 want_err=$'write: error\n' data=
			case $how in
			"mapped, $hole") at=5000001 data=65536 ;; # in the next window
			"per-byte, $hole") size=262144 after=5000 at=200001 data=65536 extra=(TOPWIPE_SHIM_REFUSE_MAP=1) ;;
			"mapped, $tail") size=8194 at=8192 want_status=0 want_err= ;;
			"per-byte, $tail") size=65538 after=5000 at=65536 want_status=0 want_err= extra=(TOPWIPE_SHIM_REFUSE_MAP=1) ;;
			"$next") size=65536 after=5000 at=20003 extra=(TOPWIPE_SHIM_REFUSE_MAP=1) ;;
			*prefaulted) extra=(TOPWIPE_SHIM_NO_PREFAULT=1) ;;
			*SIGBUS*) extra=(TOPWIPE_SHIM_SEND_BUS=1) && trap '' BUS ;;
			"$in_page") size=8192 at=5000 ;;
			"$edge") size=4100 at=4096 ;; # the fault is at the window's very last byte
			"$last_group") size=8192 at=8190 ;;
			per-byte) size=65536 after=5000 at=1000 extra=(TOPWIPE_SHIM_REFUSE_MAP=1) ;;
			esac
			noise orig "$size"
			[ -z "$data" ] || { truncate -s "$data" orig && truncate -s "$size" orig; }
			head -c "$at" orig >want
			shimmed TOPWIPE_SHIM_TRUNCATE=$after:$at "${extra[@]}" -- orig
			trap - BUS
			ran "file cut short ($how)" "$want_status" "$want_err"
			fired "file cut short ($how)" "truncate"
			wiped "file cut short ($how): cleared up to the cut, not grown back" want orig ${data:+$((data / 4))}
		done
		if [ -z "${TOPWIPE_PER_BYTE:-}" ] && [ "$under_wine" = 0 ]; then
			{ shimmed TOPWIPE_SHIM_SEND_BUS=1 -- orig; } 2>/dev/null
			fired "a sent SIGBUS ends the run" "send bus"
			[ "$status" = $((128 + 7)) ] && pass || fail "a sent SIGBUS ends the run" "status $status"
		fi
		rm -f orig want
	fi
}

mapped:past-4gib() { # slow
	# Offsets past 2^31 and 2^32 in a sparse file of 4 GiB + 10 bytes: every
	# complete group is cleared, the 2-byte tail is kept, the length too. The
	# holes are left holes: the file takes a few blocks of disk where the
	# system says where they are, and 4 GiB under wine, which does not.
	free_kib=$(df -Pk . | awk 'NR == 2 { print $4 }')
	# A 32-bit program under a qemu-user older than 8 (Debian 12's is 7.2):
	# that qemu cuts its mapping offsets to 32 bits.
	old_qemu=
	case ${cmd[0]##*/} in
	qemu-i386* | qemu-arm | qemu-arm-static)
		old_qemu=$("${cmd[0]}" --version | sed -n '1s/.* version \([0-7]\.[0-9.]*\).*/qemu-user \1/p')
		;;
	esac
	if [ -n "${TOPWIPE_PER_BYTE:-}" ]; then
		skip "4 GiB + 10 bytes" "byte by byte this takes hours"
	elif [ -n "${TOPWIPE_BELOW_4GIB:-}" ]; then
		skip "4 GiB + 10 bytes" "left to the builds where an offset can wrap or the platform differs"
	elif [ -n "$old_qemu" ]; then
		skip "4 GiB + 10 bytes" "$old_qemu cuts a 32-bit program's mapping offsets to 32 bits (Debian 13's serves)"
	elif [ "$under_wine" = 1 ] && [ "${free_kib:-0}" -lt $((5 * 1024 * 1024)) ]; then
		skip "4 GiB + 10 bytes" "less than 5 GiB free in ${TMPDIR:-/tmp}"
	elif ! truncate -s 4294967306 huge 2>/dev/null; then
		skip "4 GiB + 10 bytes" "cannot make a sparse 4 GiB file here"
	else
		poke() { printf "$2" | dd of=huge bs=1 seek="$1" conv=notrunc status=none; }
		peek() { dd if=huge bs=1 skip="$1" count="$2" status=none >peeked; }
		poke 0 '\x01\x02\x03\x04'
		poke 2147483644 '\xa1\xa2\xa3\xa4\xb1\xb2\xb3\xb4'
		poke 4294967292 '\xc1\xc2\xc3\xc4\xd1\xd2\xd3\xd4\xe1\xe2\xe3\xe4\xf1\xf2'
		blocks=$(stat -c %b huge)
		run huge
		ran "4 GiB + 10 bytes" 0 ""
		[ "$under_wine" = 1 ] || [ "$(stat -c %b huge)" = "$blocks" ] && pass ||
			fail "4 GiB + 10 bytes: the holes stay holes" "$(stat -c %b huge) blocks, $blocks before"
		[ "$(stat -c %s huge)" = 4294967306 ] && pass || fail "4 GiB + 10 bytes keeps its length" "$(stat -c %s huge)"
		peek 0 4
		holds "4 GiB + 10 bytes: first word" peeked 01 02 03 00
		peek 2147483644 8
		holds "4 GiB + 10 bytes: around 2^31" peeked a1 a2 a3 00 b1 b2 b3 00
		peek 4294967292 14
		holds "4 GiB + 10 bytes: around 2^32 and the tail" peeked c1 c2 c3 00 d1 d2 d3 00 e1 e2 e3 00 f1 f2
		peek 3221225472 8
		holds "4 GiB + 10 bytes: a hole stays zero" peeked 00 00 00 00 00 00 00 00
		rm -f huge
	fi
}

groups "$@"
