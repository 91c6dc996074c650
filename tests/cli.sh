#!/usr/bin/env bash
# Arguments, opening, measuring: every way a run can end before or instead of
# the clearing pass, with its one line and its status.
. "$(dirname "$0")/lib.sh"

usage="usage: $name <bin filename>"$'\n'

cli:usage() {
	run
	ran "no argument" 1 "$usage"

	put a 11 22 33 44
	put b 55 66 77 88
	run a b
	ran "two arguments" 1 "$usage"
	holds "two arguments leave the files alone" a 11 22 33 44
	holds "two arguments leave the files alone" b 55 66 77 88

	if [ "$has_runner" = 1 ]; then
		skip "usage names the command as invoked" "the runner sets argv[0]"
		skip "usage with an empty command name" "the runner sets argv[0]"
	else
		status=0
		(exec -a my-wiper "${cmd[@]}" >"$work/.out" 2>"$work/.err") || status=$?
		ran "usage names the command as invoked" 1 $'usage: my-wiper <bin filename>\n'
		status=0
		(exec -a '' "${cmd[@]}" a b >"$work/.out" 2>"$work/.err") || status=$?
		ran "usage with an empty command name" 1 $'usage: topwipe <bin filename>\n'
	fi
}

cli:open() {
	run nowhere
	ran "missing path" 1 $'open: failed\n'
	if [ -e nowhere ]; then fail "missing path is not created"; else pass; fi

	run ""
	ran "empty argument" 1 $'open: failed\n'

	mkdir dir
	run dir
	ran "directory" 1 $'open: failed\n'

	put locked 11 22 33 44
	chmod 444 locked
	if [ "$under_wine" = 1 ]; then
		skip "file that may not be written" "wine runs only as the owner of its prefix"
	elif [ "$(id -u)" = 0 ]; then
		if ! command -v setpriv >/dev/null; then
			skip "file that may not be written" "setpriv is not installed (util-linux)"
		elif setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
			setpriv --reuid=65534 --regid=65534 --clear-groups "${cmd[@]}" locked >.out 2>.err
			status=$?
			ran "file that may not be written" 1 $'open: failed\n'
			holds "file that may not be written is untouched" locked 11 22 33 44
		else
			skip "file that may not be written" "setpriv cannot run as an unprivileged user here"
		fi
	else
		run locked
		ran "file that may not be written" 1 $'open: failed\n'
		holds "file that may not be written is untouched" locked 11 22 33 44
	fi

	put frozen 11 22 33 44
	if ! command -v chattr >/dev/null; then
		skip "immutable file" "chattr is not installed (e2fsprogs)"
	elif ! chattr +i frozen 2>/dev/null; then
		skip "immutable file" "$(as_root "chattr +i is refused on this filesystem")"
	else
		on_exit+=("chattr -i '$work/frozen'")
		run frozen
		ran "immutable file" 1 $'open: failed\n'
		holds "immutable file is untouched" frozen 11 22 33 44
		chattr -i frozen
	fi
}

cli:no-stderr() {
	# All three standard descriptors closed: the line has nowhere to go, and the
	# file named must not take the place of one.
	if [ "$under_wine" = 1 ]; then
		skip "missing path, every standard descriptor closed" "$wine_closed"
	elif [ "${cmd[0]##*/}" = valgrind ]; then
		skip "missing path, every standard descriptor closed" "valgrind cannot run without them"
	else
		status=0
		(exec "${cmd[@]}" nowhere <&- >&- 2>&-) || status=$?
		: >"$work/.out" >"$work/.err"
		ran "missing path, every standard descriptor closed" 1 ""
		if [ -e nowhere ]; then fail "missing path, every standard descriptor closed: nothing is created"; else pass; fi
	fi

	# Standard error a pipe whose reader is gone: the line is lost, the status
	# is not, whichever line it was. (The writes before the command wait until
	# the reader has left.)
	for args in nowhere ''; do
		{
			trap '' PIPE
			while printf x >&3 2>/dev/null; do :; done
			trap - PIPE
			# shellcheck disable=SC2086 # the one argument, or none
			exec "${cmd[@]}" $args 2>&3 3>&- >"$work/.out" </dev/null
		} 3>&1 | :
		status=${PIPESTATUS[0]}
		: >"$work/.err"
		what="missing path"
		[ -n "$args" ] || what="no argument"
		ran "$what, standard error a pipe nobody reads" 1 ""
	done
}

cli:measure() {
	if mkfifo fifo 2>/dev/null; then
		run fifo
		ran "FIFO: the seek to the end fails" 255 $'seek end: error\n'
	else
		skip "FIFO: the seek to the end fails" "cannot make a FIFO here"
	fi

	# A /proc file has no end the kernel will give: every build must ask the
	# kernel, not take the length a C library may make up (0).
	if [ "$under_wine" = 1 ]; then
		skip "/proc file: the seek to the end fails" "a Linux case: wine measures files itself"
	elif [ ! -f /proc/version ]; then
		skip "/proc file: the seek to the end fails" "no /proc/version here"
	elif [ "$(id -u)" != 0 ]; then
		skip "/proc file: the seek to the end fails" "needs root, to open it for update"
	else
		run /proc/version
		ran "/proc file: the seek to the end fails" 255 $'seek end: error\n'
	fi
}

cli:names() {
	# Any name is just a name: no options, and (on Windows) no code page between
	# the name typed and the file opened.
	for f in - --help 日本.bin 😀.bin; do
		put "./$f" 11 22 33 44
		run "$f"
		ran "a file called $f is just a file" 0 ""
		holds "a file called $f is just a file" "./$f" 11 22 33 00
	done

	# A name whose look-alike in the ANSI code page names another file (a
	# fullwidth "a"; a fullwidth backslash, which would lead out of the folder)
	# reaches its own file and leaves the look-alike alone.
	mkdir sub
	cd sub || exit 2
	for f in ａ.bin ..＼twin.bin; do
		twin=${f/ａ/a}
		twin=${twin/＼//}
		put "$f" 11 22 33 44
		put "$twin" 11 22 33 44
		run "$f"
		ran "look-alike name $f" 0 ""
		holds "look-alike name $f: its own file is cleared" "$f" 11 22 33 00
		holds "look-alike name $f: $twin is untouched" "$twin" 11 22 33 44
	done
	cd ..

	# Names that Win32 rewrites before it opens them (a device name with an
	# extension is the device; trailing dots and spaces are dropped) reach their
	# own file, never the device or the twin that the rewrite names.
	for pair in nul.txt: sub/com1.bin: t.bin.:t.bin 's.bin :s.bin' 'u.bin. :u.bin' sub/../v.bin:; do
		f=${pair%:*} twin=${pair#*:}
		put "$f" 11 22 33 44 55 66 77 88
		[ -z "$twin" ] || put "$twin" 11 22 33 44
		run "$f"
		ran "name Win32 rewrites: '$f'" 0 ""
		holds "name Win32 rewrites: '$f' is cleared" "$f" 11 22 33 00 55 66 77 00
		[ -z "$twin" ] || holds "name Win32 rewrites: '$f': $twin is untouched" "$twin" 11 22 33 44
	done

	# Spelled so that Win32 rewrites it (in the device namespace, \\?\ with a
	# forward slash, or with a separator after the file's name), a name still
	# reaches its own file or none: never the twin the rewrite names.
	# name typed | the file cleared (none: "open: failed") | the twin
	rows=('t.bin\||t.bin' 't.bin/||t.bin')
	if [ "$under_wine" = 1 ]; then
		here=Z:${work//\//\\}
		rows+=(
			"\\\\.\\$here\\t.bin.|t.bin.|t.bin"
			"//?/${here//\\//}/t.bin.|t.bin.|t.bin"
			"\\\\?/$here\\s.bin |s.bin |s.bin"
			"/\\?\\$here\\u.bin. |u.bin. |u.bin"
			"//./${here//\\//}/t.bin..||t.bin"
			"$here\\t.bin\\||t.bin"
		)
	fi
	for row in "${rows[@]}"; do
		IFS='|' read -r typed f twin <<<"$row"
		[ -z "$f" ] || put "$f" 11 22 33 44
		put "$twin" 11 22 33 44
		run "$typed"
		if [ -n "$f" ]; then
			ran "name spelled for a rewrite: '$typed'" 0 ""
			holds "name spelled for a rewrite: '$typed' is cleared" "$f" 11 22 33 00
		else
			ran "name spelled for a rewrite: '$typed'" 1 $'open: failed\n'
		fi
		holds "name spelled for a rewrite: '$typed': $twin is untouched" "$twin" 11 22 33 44
	done

	# A device named on its own is the device, not a file of that name.
	put COM1 11 22 33 44
	run COM1
	if [ "$under_wine" = 1 ]; then
		holds "COM1 on its own is the port: the file COM1 is untouched" COM1 11 22 33 44
	else
		ran "COM1 is just a file" 0 ""
		holds "COM1 is just a file" COM1 11 22 33 00
	fi
}

groups "$@"
