#!/usr/bin/env bash
# What the clearing pass does to a file's bytes.
. "$(dirname "$0")/lib.sh"
cd "$work" || exit 2

# The length of a file whose last group is incomplete must not change, and
# no byte of that tail is touched.
put f0
run f0
ran "empty file" 0 ""
holds "empty file" f0
put f1 a1
run f1
ran "1 byte" 0 ""
holds "1 byte" f1 a1
put f2 a1 b2
run f2
ran "2 bytes" 0 ""
holds "2 bytes" f2 a1 b2
put f3 a1 b2 c3
run f3
ran "3 bytes" 0 ""
holds "3 bytes" f3 a1 b2 c3

put w 11 22 33 44
run w
ran "one word" 0 ""
holds "one word" w 11 22 33 00

put f5 11 22 33 44 55
run f5
ran "one word and a byte" 0 ""
holds "one word and a byte" f5 11 22 33 00 55

put f10 11 22 33 44 55 66 77 88 99 aa
run f10
ran "10 bytes" 0 ""
holds "10 bytes" f10 11 22 33 00 55 66 77 00 99 aa

put f11 ff ff ff ff ff ff ff ff ff ff ff
run f11
ran "11 bytes of ff" 0 ""
holds "11 bytes of ff" f11 ff ff ff 00 ff ff ff 00 ff ff ff

# Bytes that a text stream would translate (CR, LF, ^Z) go through as they are.
put crlf 0d 0a 1a 0a 0a 0d 1a 1a 1a
run crlf
ran "CR, LF and ^Z bytes" 0 ""
holds "CR, LF and ^Z bytes" crlf 0d 0a 1a 00 0a 0d 1a 00 1a

put z 01 02 03 00 04 05 06 00
run z
ran "already cleared" 0 ""
holds "already cleared" z 01 02 03 00 04 05 06 00

put twice 80 81 82 83 84 85 86 87 88
run twice
run twice
ran "second run" 0 ""
holds "second run" twice 80 81 82 00 84 85 86 00 88

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

finish
