#!/usr/bin/env python3
"""What a 64-bit Mach-O binary says of itself, for tests/release.sh:

    tests/macho.py minos BINARY   the oldest macOS it runs on (its
                                  LC_BUILD_VERSION), as MAJOR.MINOR
    tests/macho.py signed BINARY  whether its code signature (the ad-hoc one
                                  its linker made, without which Apple
                                  silicon kills the program) holds for the
                                  file as it stands: every SHA-256 page
                                  hash of its CodeDirectory
"""
import hashlib
import struct
import sys

what, path = sys.argv[1], sys.argv[2]
d = open(path, "rb").read()
assert struct.unpack_from("<I", d)[0] == 0xFEEDFACF, "not a 64-bit Mach-O"
commands = {}
ncmds, at = struct.unpack_from("<I", d, 16)[0], 32
for _ in range(ncmds):
    cmd, size = struct.unpack_from("<II", d, at)
    commands[cmd] = at
    at += size

if what == "minos":
    v = struct.unpack_from("<I", d, commands[0x32] + 12)[0]  # LC_BUILD_VERSION: xxxx.yy.zz
    print(f"{v >> 16}.{(v >> 8) & 0xFF}")
    sys.exit()
assert 0x1D in commands, "no code signature"  # LC_CODE_SIGNATURE: the SuperBlob's offset
sig = struct.unpack_from("<I", d, commands[0x1D] + 8)[0]
magic, _, count = struct.unpack_from(">III", d, sig)
assert magic == 0xFADE0CC0, "not a SuperBlob"
cds = [sig + o for kind, o in struct.iter_unpack(">II", d[sig + 12:sig + 12 + 8 * count]) if kind == 0]
assert cds, "no CodeDirectory"
(magic, _, _, _, hashes, _, _, slots, limit, hash_size, hash_type, _, page) = \
    struct.unpack_from(">9I4B", d, cds[0])
assert magic == 0xFADE0C02 and hash_type == 2 and hash_size == 32, "not a SHA-256 CodeDirectory"
assert limit == sig and slots == -(-limit // (1 << page)), "the pages do not cover the file"
for n in range(slots):
    want = d[cds[0] + hashes + 32 * n:cds[0] + hashes + 32 * (n + 1)]
    assert hashlib.sha256(d[n << page:min((n + 1) << page, limit)]).digest() == want, f"page {n} does not match its hash"
