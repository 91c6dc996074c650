# Helpers for the black-box suites. Each suite sources this file, runs the
# command under test on real files in a private temporary folder, and compares
# exact bytes, exact standard error and the exact exit status with
# expectations written out by hand.
#
# TOPWIPE        the command under test: the path of the binary, taken whole
#                (spaces and all)
# TOPWIPE_RUNNER the words that run it, if anything must (an emulator,
#                "valgrind -q --error-exitcode=99")
# TOPWIPE_NAME   the name the usage line is expected to show (default:
#                TOPWIPE, which is how it was invoked)
# TOPWIPE_SHIM   the fault-injecting preload library (tests that need it
#                skip without it); under wine it reaches only the mappings
# TOPWIPE_SIGBUS the program that runs the command with SIGBUS as a caller
#                leaves it, or as a memory error raises it (tests/sigbus.c)
# TOPWIPE_PER_BYTE=1  the command writes byte by byte (no mapping): the
#                tests that would take hours that way skip
# TOPWIPE_BELOW_4GIB=1  the file past 4 GiB is left to other builds
# TOPWIPE_SKIPPED a file to which each skipped case adds a line, for ctest
#                to print after the suites
# Each of these that names a file by a relative path is taken from the
# folder the suite starts in, as is TMPDIR.
#
# A suite is groups of related cases, each a function SUITE:GROUP, which
# ctest runs as a test of its own (a group whose line ends "# slow" is left
# out of the label quick): "bash tests/faults.sh faults:signals" runs one
# group, "bash tests/faults.sh" all of its suite.
#
# Under wine, the expected usage line names the program by its Windows path
# and standard error is expected in CR LF lines, as Windows writes them.
# Wine's own error lines (WINEDEBUG=err+all unless set) are kept apart from
# the program's and shown with a failing case; a run that wine failed to
# start is run again, and the output says so.

set -u
suite=$(basename "$0" .sh) group=$suite

if [ -z "${TOPWIPE:-}" ]; then
	echo "TOPWIPE is not set: give it the command under test" >&2
	exit 2
fi
# The suites change folder: a relative path is made absolute first (a
# program's bare name is left to PATH).
for v in TOPWIPE TOPWIPE_SIGBUS TOPWIPE_SHIM TOPWIPE_SKIPPED TMPDIR; do
	case ${!v:-} in
	/* | '') ;;
	*/*) export "$v=$PWD/${!v}" ;;
	*) [[ $v = TOPWIPE || $v = TOPWIPE_SIGBUS ]] || export "$v=$PWD/${!v}" ;;
	esac
done
read -r -a cmd <<<"${TOPWIPE_RUNNER:-}"
name=$TOPWIPE
has_runner=$((${#cmd[@]} > 0))
cmd+=("$name")
under_wine=0
case ${cmd[0]##*/} in
wine | wine64)
	under_wine=1
	wine=${cmd[0]}
	name=Z:${name//\//\\} # Windows hands the program its DOS path
	export LC_ALL=C.UTF-8 # wine takes names outside ASCII as the locale's
	export WINEDEBUG=${WINEDEBUG-err+all}
	# One wineserver for every group: otherwise every run starts its own,
	# and a run can meet one that is just shutting down. ctest starts it
	# (and sets up the prefix) in the test wine:up and stops it in wine:down;
	# a whole suite run by hand does both itself.
	wineserver=${cmd[0]%/*}/wineserver
	[ -x "$wineserver" ] || wineserver=wineserver
	case ${1:-} in
	'' | wine:up)
		mkdir -p "${WINEPREFIX:-$HOME/.wine}" # it starts only in a folder that exists
		"$wineserver" -p >/dev/null 2>&1 </dev/null
		# The first run in a new prefix sets it up, noisily: do that now.
		"${cmd[@]}" >/dev/null 2>&1 </dev/null
		[ $# -eq 0 ] || exit 0
		;;
	wine:down) "$wineserver" -k 2>/dev/null; exit 0 ;;
	esac
	;;
esac
name=${TOPWIPE_NAME:-$name}
shim=${TOPWIPE_SHIM:-}
[ -n "$shim" ] && [ -r "$shim" ] || shim=

work=$(mktemp -d "${TMPDIR:-/tmp}/topwipe-test.XXXXXX") || exit 2
chmod 755 "$work" # so that an unprivileged run can reach its files
# The preload list is split at spaces and colons, with no way to escape
# them: a shim whose path holds one is preloaded from a copy in here.
case $shim in
*[' :']*) cp "$shim" "$work/shim.so" && shim=$work/shim.so ;;
esac
on_exit=()
[ "$under_wine" = 1 ] && [ $# -eq 0 ] && on_exit+=('"$wineserver" -k 2>/dev/null')
cleanup() {
	local h
	for h in "${on_exit[@]}"; do eval "$h"; done
	rm -rf "$work"
}
trap cleanup EXIT

passed=0 failed=0 skipped=0

pass() { passed=$((passed + 1)); }
fail() {
	failed=$((failed + 1))
	printf 'FAIL: %s\n' "$1"
	shift
	[ $# -eq 0 ] || printf '  %s\n' "$@"
}
skip() {
	skipped=$((skipped + 1))
	printf 'skip: %s: %s\n' "$1" "$2"
	[ -z "${TOPWIPE_SKIPPED:-}" ] || printf '%s: %s: %s\n' "$group" "$1" "$2" >>"$TOPWIPE_SKIPPED"
}

# as_root WHY: the reason a case cannot be set up: "needs root" where the
# suite runs unprivileged, WHY where root is not what is missing.
as_root() {
	if [ "$(id -u)" != 0 ]; then echo "needs root"; else echo "$1"; fi
}

# put FILE HEX...: makes FILE hold exactly the bytes given in hex.
put() {
	local f=$1 b s=''
	shift
	for b in "$@"; do s+="\\x$b"; done
	printf "$s" >"$f"
}

# hex FILE: the file's bytes as space-separated hex pairs.
hex() {
	od -An -v -tx1 "$1" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'
}

# Why a case with a standard descriptor closed is not run under wine: wine
# connects to its server on the lowest free descriptor, so that a closed
# standard error becomes that connection, and the program's line goes into
# it (the run hangs, or exits with another status).
wine_closed="wine takes a closed standard descriptor for its own server connection"

# Wine's own lines on standard error: "0123:err:channel:function text", or
# "wine: text" (as from a start that failed).
wine_says='^([0-9a-f]+:)?(err|fixme|warn|trace):|^wine: '

# started: whether the last run reached the program. Under wine its own
# lines are moved from $work/.err to $work/.wine first. Now and then, under
# load, wine fails to start a process before the program is loaded (its
# start cannot map the shared user data: c0000018); it then exits 1 with
# nothing on standard error but its own lines, where the program itself
# never exits 1 without a line of its own.
started() {
	: >"$work/.wine"
	[ "$under_wine" = 1 ] && [ "${cmd[0]}" = "$wine" ] || return 0
	grep -E -- "$wine_says" "$work/.err" >"$work/.wine"
	grep -v -E -- "$wine_says" "$work/.err" >"$work/.ours"
	mv "$work/.ours" "$work/.err"
	[ "$status" = 1 ] && [ ! -s "$work/.err" ] || return 0
	printf 'wine did not start the program (status 1; %s): running it again\n' \
		"$(head -c 200 "$work/.wine" | tr '\n' ' ')"
	return 1
}

# attempt COMMAND...: runs COMMAND with no input and its output in
# $work/.out and $work/.err, again (twice at most) where wine did not start
# the program; leaves $status. The words in around, if any, run it: outside
# whatever the command's own words set (a preload meant for an emulated
# program would reach a wrapper of this machine's).
around=()
attempt() {
	local tries
	for tries in 1 2 3; do
		"${around[@]}" "$@" >"$work/.out" 2>"$work/.err" </dev/null
		status=$?
		started && break
	done
}

# run ARG...: runs the command under test; leaves $status, and its output in
# $work/.out and $work/.err.
run() { attempt "${cmd[@]}" "$@"; }

# shimmed VAR=VALUE... -- ARG...: runs the command with the fault shim
# preloaded and the given settings, aimed at the file named last; its marks
# go to $work/.mark.
shimmed() {
	local env=()
	while [ "$1" != -- ]; do env+=("$1"); shift; done
	shift
	rm -f "$work/.mark"
	attempt env "${env[@]}" TOPWIPE_SHIM_MARK="$work/.mark" TOPWIPE_SHIM_FILE="${!#}" LD_PRELOAD="$shim" \
		ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "${cmd[@]}" "$@"
}

# The ways the pass can go: mapped, and per-byte where the shim can refuse
# the mapping; a build that only writes byte by byte has just the one.
if [ -n "${TOPWIPE_PER_BYTE:-}" ]; then
	ways=(per-byte)
elif [ -n "$shim" ]; then
	ways=(mapped per-byte)
else
	ways=(mapped)
fi

# by WAY VAR=VALUE... -- ARG...: runs the command the given way, with the
# shim's settings when there are any.
by() {
	local way=$1
	shift
	[ "$way" = per-byte ] && [ -z "${TOPWIPE_PER_BYTE:-}" ] && set -- TOPWIPE_SHIM_REFUSE_MAP=1 "$@"
	if [ "$1" = -- ]; then
		shift
		run "$@"
	else
		shimmed "$@"
	fi
}

# fired NAME MARK: the shim's fault MARK was reached in the last run.
fired() {
	if grep -qx "$2" "$work/.mark" 2>/dev/null; then pass; else fail "$1" "the shim's \"$2\" never fired"; fi
}

# ran NAME STATUS STDERR: the last run exited with STATUS, wrote exactly
# STDERR to standard error and nothing to standard output.
ran() {
	local what=$1 want=$2 got
	if [ "$under_wine" = 1 ]; then # standard error is a text stream there
		printf '%s' "${3//$'\n'/$'\r\n'}" >"$work/.want"
	else
		printf '%s' "$3" >"$work/.want"
	fi
	local said=()
	[ ! -s "$work/.wine" ] || said=("wine said: $(head -c 300 "$work/.wine")")
	if [ "$status" -gt 128 ] && [ "$status" -ne 255 ]; then
		fail "$what" "crashed: status $status (signal $((status - 128)))" "stderr: $(head -c 300 "$work/.err")" "${said[@]}"
		return
	fi
	if [ "$status" -ne "$want" ]; then
		fail "$what" "status $status, expected $want" "stderr: $(head -c 300 "$work/.err")" "${said[@]}"
	elif ! cmp -s "$work/.want" "$work/.err"; then
		got=$(od -c "$work/.err" | head -5)
		fail "$what" "stderr differs; expected: $(od -c "$work/.want" | head -3)" "got: $got" "${said[@]}"
	elif [ -s "$work/.out" ]; then
		fail "$what" "wrote to standard output: $(head -c 200 "$work/.out")"
	else
		pass
	fi
}

# holds NAME FILE HEX...: FILE holds exactly these bytes.
holds() {
	local what=$1 f=$2 got
	shift 2
	got=$(hex "$f")
	if [ "$got" = "$*" ]; then pass; else fail "$what" "expected: $*" "got:      $got"; fi
}

# same NAME FILE1 FILE2: the two files hold the same bytes.
same() {
	if cmp "$2" "$3" >"$work/.cmp" 2>&1; then pass; else fail "$1" "$(cat "$work/.cmp")"; fi
}

# wiped NAME ORIG FILE [GROUPS]: FILE is ORIG, whose noise holds no zero
# byte, with exactly the fourth byte of every complete 4-byte group set to
# zero; or, where ORIG has holes, of the GROUPS groups in its data.
wiped() {
	local what=$1 orig=$2 f=$3 size groups
	size=$(stat -c %s "$orig")
	groups=${4:-$((size / 4))}
	if [ "$(stat -c %s "$f")" != "$size" ]; then
		fail "$what" "length $(stat -c %s "$f"), expected $size"
		return
	fi
	# cmp -l lists every differing byte as: 1-based offset, old, new (octal).
	cmp -l "$orig" "$f" | awk -v groups="$groups" '
		$1 % 4 != 0 || $3 != 0 { bad++; if (bad <= 3) print "  offset " $1 - 1 ": " $2 " -> " $3 }
		{ n++ }
		END {
			if (n != groups) print "  " n " bytes changed, expected " groups
			exit (bad > 0 || n != groups)
		}' >"$work/.why"
	if [ "${PIPESTATUS[1]}" -eq 0 ]; then pass; else fail "$what" "$(cat "$work/.why")"; fi
}

# noise FILE SIZE: fills FILE with SIZE random bytes, none of them zero.
noise() {
	head -c "$2" /dev/urandom | tr '\000' '\001' >"$1"
}

# groups [GROUP...]: runs the given groups of the suite, or all of them in
# the order they are written, each from the private folder; then prints the
# tally. A run whose every case skipped exits 77.
groups() {
	[ $# -gt 0 ] || set -- $(sed -n "s/^\($suite:[a-z0-9-]*\)() {.*/\1/p" "$0")
	for group; do
		declare -F "$group" >/dev/null || { echo "$suite has no group $group" >&2; exit 2; }
		cd "$work" && "$group"
	done
	if [ "$skipped" -gt 0 ]; then
		printf '%d passed, %d failed, %d skipped\n' "$passed" "$failed" "$skipped"
	else
		printf '%d passed, %d failed\n' "$passed" "$failed"
	fi
	[ "$failed" -eq 0 ] || exit 1
	[ "$passed" -gt 0 ] || exit 77
	exit 0
}
