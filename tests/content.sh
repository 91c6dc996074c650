#!/usr/bin/env bash
# What the clearing pass does to a file's bytes.
. "$(dirname "$0")/lib.sh"

content:bytes() {
	# name | bytes before | bytes after. A trailing group of 1 to 3 bytes is left
	# alone, and the length never changes.
	while IFS='|' read -r what before after; do
		put f $before
		run f
		ran "$what" 0 ""
		holds "$what" f $after
	done <<-'EOF'
	empty file||
	1 byte|a1|a1
	2 bytes|a1 b2|a1 b2
	3 bytes|a1 b2 c3|a1 b2 c3
	one word|11 22 33 44|11 22 33 00
	one word and a byte|11 22 33 44 55|11 22 33 00 55
	10 bytes|11 22 33 44 55 66 77 88 99 aa|11 22 33 00 55 66 77 00 99 aa
	11 bytes of ff|ff ff ff ff ff ff ff ff ff ff ff|ff ff ff 00 ff ff ff 00 ff ff ff
	CR, LF and ^Z go through untranslated|0d 0a 1a 0a 0a 0d 1a 1a 1a|0d 0a 1a 00 0a 0d 1a 00 1a
	already cleared|01 02 03 00 04 05 06 00|01 02 03 00 04 05 06 00
	EOF

	put twice 80 81 82 83 84 85 86 87 88
	run twice
	run twice
	ran "second run" 0 ""
	holds "second run" twice 80 81 82 00 84 85 86 00 88
}

content:in-place() {
	# In place: the same file, not a new one put in its place.
	put inode 11 22 33 44 55 66 77 88
	before=$(stat -c %i inode)
	ln inode hardlink
	run inode
	ran "in place" 0 ""
	if [ "$(stat -c %i inode)" = "$before" ]; then pass; else fail "in place keeps the inode"; fi
	holds "in place: a hard link sees the change" hardlink 11 22 33 00 55 66 77 00

	noise big 100003
	cp big big.orig
	run big
	ran "100003 random bytes" 0 ""
	wiped "100003 random bytes" big.orig big
}

content:sweep() {
	# Every size up to a few hundred bytes, each checked byte by byte: the short
	# tails, and lines of 64 bytes cut at every point.
	noise pool 300
	for size in $(seq 0 300); do
		head -c "$size" pool >orig
		cp orig f
		run f
		ran "sweep: $size bytes" 0 ""
		wiped "sweep: $size bytes" orig f
	done
}

groups "$@"
