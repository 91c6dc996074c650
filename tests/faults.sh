#!/usr/bin/env bash
# Faults from outside: a length that cannot be read, a close that fails, a
# full disk, a read-only filesystem, links and devices. In every case: one
# line at most, the documented status, no crash, and the file handled up to
# the failing point and not beyond.
. "$(dirname "$0")/lib.sh"
tests=$(cd "$(dirname "$0")" && pwd)

per_byte=${ways[${#ways[@]} - 1]} # "per-byte" when that pass can be reached

faults:close() {
	if [ -z "$shim" ] || [ "$under_wine" = 1 ]; then
		skip "length query fails" "needs the fault shim in the program's own C library"
		skip "close fails" "needs the fault shim in the program's own C library"
	else
		put f 11 22 33 44 55 66 77 88
		shimmed TOPWIPE_SHIM_TELL_FAILS=1 -- f
		ran "length query fails" 255 $'seek end: error\n'
		fired "length query fails" "tell fails"
		holds "length query fails: nothing written" f 11 22 33 44 55 66 77 88

		for how in "${ways[@]}"; do
			put f 11 22 33 44 55 66 77 88
			by "$how" TOPWIPE_SHIM_CLOSE_FAILS=1 -- f
			ran "close fails ($how)" 1 $'write: error\n'
			fired "close fails ($how)" "close fails"
		done

		if mkfifo fifo 2>/dev/null; then
			shimmed TOPWIPE_SHIM_CLOSE_FAILS=1 -- fifo
			ran "close fails after a failed run: the first line stands" 255 $'seek end: error\n'
			fired "close fails after a failed run: the first line stands" "close fails"
		fi
	fi
}

faults:syscalls() {
	# A system call of the per-byte pass that fails: the earlier offsets are
	# written, no later one is, with the call's own line and status. Before
	# the pass, glibc makes three seeks: to the end (the first), to there, and
	# back to the start; the mapped pass, where there is one, seeks for the
	# data and the hole after it before its mapping is refused; the per-byte
	# pass does the same (its seek for the data is the qth), then seeks to the
	# end before each write. A failed seek for the data is no failure: the
	# whole file counts as data.
	if [ "$has_runner" = 1 ]; then
		skip "a system call fails part-way" "strace would trace the runner, not the command"
	elif ! command -v strace >/dev/null; then
		skip "a system call fails part-way" "strace is not installed"
	elif [ "$per_byte" != per-byte ]; then
		skip "a system call fails part-way" "the per-byte pass needs the fault shim here"
	else
		# (the leak checker cannot run under a tracer)
		pre=(-E "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0")
		q=4
		[ -z "${TOPWIPE_PER_BYTE:-}" ] && pre+=(-E "LD_PRELOAD=$shim" -E TOPWIPE_SHIM_REFUSE_MAP=1) && q=6
		# what | call | its Nth fails | status | line (none: none) | bytes after
		while IFS='|' read -r what call nth want line after; do
			put f 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 10 12
			strace -f -qq -o /dev/null "${pre[@]}" -e trace="$call" -e inject="$call:error=EIO:when=$((nth))" \
				"${cmd[@]}" f >.out 2>.err
			status=$?
			ran "$what" "$want" "${line:+$line$'\n'}"
			holds "$what: the file as far as it got" f $after
		done <<-'EOF'
		a write fails part-way|pwrite64|3|1|write: error|11 22 33 00 55 66 77 00 99 aa bb cc dd ee ff 10 12
		the seek to the end fails|lseek|1|255|seek end: error|11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 10 12
		the end before a write is not found|lseek|q + 4|1|seek: pos: 11, error|11 22 33 00 55 66 77 00 99 aa bb cc dd ee ff 10 12
		the seek for the data fails|lseek|q|0||11 22 33 00 55 66 77 00 99 aa bb 00 dd ee ff 00 12
		EOF
	fi
}

faults:size-limit() {
	# A file size limit below the file's length: every pass stops where a write
	# would fail, reports it, and does not die of SIGXFSZ. (Stores through a
	# mapping are not held to the limit: the mapped pass must stop by itself.)
	# A limit inside the trailing partial group fails no write, and one inside
	# a group leaves that group untouched; a device is not held to it at all.
	if [ "$under_wine" = 1 ]; then
		skip "file size limit" "a Unix limit, which wine's own host process dies of"
	elif ! command -v prlimit >/dev/null; then
		skip "file size limit" "prlimit is not installed (util-linux)"
	else
		# size | limit in bytes (ulimit -f counts KiB) | status | line | data
		# only up to the limit, a hole past it
		while IFS='|' read -r size limit want line hole; do
			noise data "$size"
			[ -z "$hole" ] || { head -c "$limit" data >want && cp want data && truncate -s "$size" data; }
			head -c "$limit" data >want
			tail -c +$((limit + 1)) data >past
			for how in "${ways[@]}"; do
				cp --sparse=always data f
				(
					prlimit --pid "$BASHPID" --fsize="$limit"
					by "$how" -- f
					exit "$status"
				)
				status=$?
				ran "$size bytes, limit $limit bytes ($how)" "$want" "${line:+$line$'\n'}"
				head -c "$limit" f >got
				wiped "$size bytes, limit $limit bytes ($how): cleared up to the limit" want got
				tail -c +$((limit + 1)) f >got
				same "$size bytes, limit $limit bytes ($how): untouched past it" past got
			done
		done <<-'EOF'
		8192|4096|1|write: error
		12288|4096|1|write: error|hole
		1026|1024|0|
		2048|1027|1|write: error
		EOF

		noise data 1048576
		cp data img
		if ! command -v losetup >/dev/null; then
			skip "block device under a file size limit" "losetup is not installed (mount)"
		elif [ "$(id -u)" != 0 ] || ! dev=$(losetup -f --show img 2>/dev/null); then
			skip "block device under a file size limit" "$(as_root "no loop device can be set up here")"
		else
			on_exit+=("losetup -d '$dev' 2>/dev/null")
			(
				ulimit -f 512
				by "${ways[0]}" -- "$dev"
				exit "$status"
			)
			status=$?
			ran "block device under a file size limit (${ways[0]})" 0 ""
			cat "$dev" >got
			wiped "block device under a file size limit (${ways[0]}): all cleared" data got
			losetup -d "$dev"
		fi
		rm -f data img f got want past
	fi
}

faults:disk-full() {
	# Disk full part-way: a sparse file on a small tmpfs, whose data parts
	# are allocated and whose hole between them cannot all be. Where the system
	# says where the hole is, the pass leaves it alone and the run succeeds
	# (each way, last); the shim hides it, as a filesystem without holes
	# would, and the pass then stops in the hole: the data after it is
	# untouched (a write whose failure went unseen would let the pass go on
	# into it).
	mnt=$work/mnt
	mkdir "$mnt"
	if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=1m tmpfs "$mnt" 2>/dev/null; then
		why=$(as_root "mount -t tmpfs is refused here")
		skip "disk full" "$why"
		skip "read-only filesystem" "$why"
	else
		on_exit+=("umount '$mnt' 2>/dev/null")
		noise data 524288
		noise after 65536
		head -c 1572864 /dev/zero >hole
		# Once more with standard error closed: the file must not take its place
		# (the line would be written into it). And with SIGBUS as a caller may
		# hand it down, ignored or blocked, and as a memory error would raise
		# it: still the one line, never the signal's death or a hang.
		extra=("${ways[0]}, standard error closed")
		if [ "${cmd[0]##*/}" = valgrind ]; then
			skip "disk full, standard error closed" "valgrind cannot run without it"
			extra=()
		elif [ "$under_wine" = 1 ]; then
			skip "disk full, standard error closed" "$wine_closed"
			extra=()
		fi
		if [ "${ways[0]}" != mapped ]; then
			: # no mapping, no SIGBUS
		elif [ "$has_runner" = 1 ]; then
			skip "disk full, SIGBUS as the caller leaves it" "the settings and the tracer would reach the runner, not the command"
		elif [ -z "${TOPWIPE_SIGBUS:-}" ]; then
			skip "disk full, SIGBUS as the caller leaves it" "needs tests/sigbus.c, which builds for this machine only"
		else
			extra+=("mapped, SIGBUS "{ignored,blocked}" by the caller"
				"mapped, a memory error, SIGBUS "{default,ignored,blocked})
		fi
		full=("${ways[@]}" "${extra[@]}")
		if [ -z "$shim" ]; then
			skip "disk full" "needs the fault shim, to hide the hole from the pass"
			full=()
		fi
		image() {
			cp data "$mnt/img"
			truncate -s 2097152 "$mnt/img"
			cat after >>"$mnt/img"
		}
		for how in "${full[@]}"; do
			image
			rm -f "$work/.mark"
			want=$'write: error\n' wrap=() caller=${how#*SIGBUS } caller=${caller%% *}
			case $how in
			*closed) around=(sh -c 'exec "$@" 2>&-' sh) want= ;;
			*caller) wrap=("$TOPWIPE_SIGBUS" "$caller" as-is) ;;
			*"memory error"*) wrap=(timeout -k 5 60 env TOPWIPE_SHIM_MARK="$work/.mark"
				ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0" "$TOPWIPE_SIGBUS" "$caller" memory-error) ;;
			esac
			saved=("${cmd[@]}")
			cmd=("${wrap[@]}" "${cmd[@]}")
			by "${how%%,*}" TOPWIPE_SHIM_NO_HOLES=1 -- "$mnt/img"
			cmd=("${saved[@]}") around=()
			ran "disk full ($how)" 1 "$want"
			[ "${how%memory error*}" = "$how" ] || fired "disk full ($how)" "memory error"
			[ "$(stat -c %s "$mnt/img")" = 2162688 ] && pass || fail "disk full ($how): length kept" "$(stat -c %s "$mnt/img")"
			head -c 524288 "$mnt/img" >got
			wiped "disk full ($how): the data part is cleared" data got
			tail -c +524289 "$mnt/img" | head -c 1572864 >got
			same "disk full ($how): the hole still reads as zeros" hole got
			tail -c 65536 "$mnt/img" >got
			same "disk full ($how): the data after the hole is untouched" after got
			rm -f "$mnt/img" got
		done
		for how in "${ways[@]}"; do
			what="a sparse image larger than the free room ($how)"
			if [ "$under_wine" = 1 ]; then
				skip "$what" "wine does not say where a file's holes are"
				break
			fi
			image
			blocks=$(stat -c %b "$mnt/img")
			by "$how" -- "$mnt/img"
			ran "$what" 0 ""
			[ "$(stat -c %b "$mnt/img")" = "$blocks" ] && pass || fail "$what: the hole stays a hole" "$(stat -c %b "$mnt/img") blocks, $blocks before"
			head -c 524288 "$mnt/img" >got
			wiped "$what: the data before the hole is cleared" data got
			tail -c 65536 "$mnt/img" >got
			wiped "$what: the data after it too" after got
			rm -f "$mnt/img" got
		done

		put "$mnt/ro" 11 22 33 44
		if mount -o remount,ro "$mnt" 2>/dev/null; then
			run "$mnt/ro"
			ran "read-only filesystem" 1 $'open: failed\n'
			holds "read-only filesystem: untouched" "$mnt/ro" 11 22 33 44
		else
			skip "read-only filesystem" "cannot remount read-only here"
		fi
		umount "$mnt"
	fi
}

faults:signals() {
	# An early memory-error notice (BUS_MCEERR_AO: a kernel that kills early
	# sends it when it finds a page poisoned, before any access), here as the
	# first window of a 6 MiB file is mapped. For a page of the window, it is a
	# failed write, whatever the caller did with SIGBUS: the pass stops before
	# that window's stores, and the file is untouched. For a page that is not
	# the file's, it changes nothing: the pass goes on, and a SIGBUS sent at
	# the next window meets the caller's action (by default, death: status 135).
	what="an early memory-error notice"
	if [ "${ways[0]}" != mapped ]; then
		: # no mapping, no notice
	elif [ "$has_runner" = 1 ] || [ -z "${TOPWIPE_SIGBUS:-}" ]; then
		skip "$what" "needs tests/sigbus.c, which traces a build for this machine only"
	else
		noise data 6291456
		# for a page | the caller's SIGBUS | status | line | the file after
		while IFS='|' read -r page caller want line after; do
			cp data f
			attempt env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}handle_sigbus=0:detect_leaks=0" \
				timeout -k 5 60 "$TOPWIPE_SIGBUS" "$caller" "early-$page" "${cmd[@]}" f
			where="$what for a page $page the window, SIGBUS $caller"
			if [ "$want" = 135 ]; then
				[ "$status" = 135 ] && pass || fail "$where" "status $status, expected 135"
			else
				ran "$where" "$want" "${line:+$line$'\n'}"
			fi
			head -c 4194304 f >got
			head -c 4194304 data >want
			case $after in
			untouched) same "$where: the file untouched" data f ;;
			cleared) wiped "$where: the file cleared" data f ;;
			*) wiped "$where: the first window cleared" want got ;;
			esac
		done <<-'EOF'
		inside|default|1|write: error|untouched
		inside|ignored|1|write: error|untouched
		inside|blocked|1|write: error|untouched
		outside|default|135||the first window
		outside|ignored|0||cleared
		outside|blocked|0||cleared
		EOF
		rm -f data f got want
	fi
}

faults:write-back() {
	# An error at write-back, seen only at the close: a FUSE filesystem that
	# fails one write of the mapped pages, in the middle of a 10 MiB file. The
	# run fails, and only the pages of that write miss the file: every group
	# before and after them is cleared.
	what="an error at write-back, seen at the close"
	python=/usr/bin/python3 # Debian's, where python3-fusepy installs
	if [ "${ways[0]}" != mapped ]; then
		skip "$what" "a mapped pass's error; byte by byte, the write itself fails"
	elif [ "$under_wine" = 1 ]; then
		skip "$what" "a Linux filesystem's error, which wine's close does not pass on"
	elif [ ! -c /dev/fuse ]; then
		skip "$what" "/dev/fuse is missing"
	elif ! "$python" -c 'import fusepy' 2>/dev/null; then
		skip "$what" "python3-fusepy is not installed"
	elif [ "$(id -u)" != 0 ]; then
		skip "$what" "needs root, to mount it"
	else
		mkdir back fuse
		noise data 10485760
		cp data back/img
		"$python" "$tests/failing-fs.py" back fuse 5242880 failed 2>fuse.err &
		server=$!
		on_exit+=("umount '$work/fuse' 2>/dev/null")
		for _ in $(seq 100); do mountpoint -q fuse && break; sleep 0.1; done
		if ! mountpoint -q fuse; then
			kill "$server" 2>/dev/null
			skip "$what" "the FUSE filesystem did not mount: $(head -c 200 fuse.err | tr '\n' ' ')"
		else
			run fuse/img
			ran "$what" 1 $'write: error\n'
			umount fuse && wait "$server"
			if read -r at n <failed; then
				head -c "$at" data >want
				head -c "$at" back/img >got
				wiped "$what: cleared before the failed write" want got
				tail -c +$((at + 1)) data | head -c "$n" >want
				tail -c +$((at + 1)) back/img | head -c "$n" >got
				same "$what: the failed write's bytes are untouched" want got
				tail -c +$((at + n + 1)) data >want
				tail -c +$((at + n + 1)) back/img >got
				wiped "$what: cleared after it" want got
			else
				fail "$what" "no write failed: $(head -c 300 fuse.err)"
			fi
		fi
		rm -rf back data want got
	fi
}

faults:special-files() {
	run /dev/null
	ran "/dev/null measures empty" 0 ""
	# The manual's examples: most of /proc measures empty; a few files there
	# have no end to seek to.
	if [ "$has_runner" = 1 ] || [ "$under_wine" = 1 ]; then
		skip "files under /proc" "/proc/self would be the runner's"
	else
		run /proc/self/oom_score_adj
		ran "/proc/self/oom_score_adj measures empty" 0 ""
		run /proc/self/mem
		ran "/proc/self/mem has no end" 255 $'seek end: error\n'
	fi

	put target 11 22 33 44 55
	ln -s target link
	run link
	ran "symbolic link" 0 ""
	holds "symbolic link: the target is changed" target 11 22 33 00 55
	if [ -L link ] && [ "$(readlink link)" = target ]; then pass; else fail "symbolic link: the link stays"; fi

	ln -s gone dangling
	run dangling
	ran "dangling link" 1 $'open: failed\n'
	if [ -e gone ]; then fail "dangling link: the target is not created"; else pass; fi
}

groups "$@"
