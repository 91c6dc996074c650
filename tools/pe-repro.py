#!/usr/bin/env python3
"""tools/pe-repro.py EXE TIME: makes a Windows program the same bytes from
every build of one commit. zig's linker writes the time of the link into the
COFF header and each debug directory entry, and a random id into the RSDS
record, and has no switch to leave them out: the times become TIME (the
commit's), the id a hash of the rest of the file."""
import hashlib
import struct
import sys

path, when = sys.argv[1], int(sys.argv[2])
d = bytearray(open(path, "rb").read())
pe = struct.unpack_from("<I", d, 0x3C)[0]
nsec, opt_size = struct.unpack_from("<H", d, pe + 6)[0], struct.unpack_from("<H", d, pe + 20)[0]
opt = pe + 24
dirs = opt + (96 if struct.unpack_from("<H", d, opt)[0] == 0x10B else 112)
sections = [struct.unpack_from("<IIII", d, opt + opt_size + 40 * i + 8) for i in range(nsec)]


def at(rva):
    """The file offset of a relative virtual address."""
    return next(raw + rva - va for size, va, raw_size, raw in sections if va <= rva < va + max(size, raw_size))


struct.pack_into("<I", d, pe + 8, when)
debug_rva, debug_size = struct.unpack_from("<II", d, dirs + 8 * 6)
ids = []
for e in range(at(debug_rva), at(debug_rva) + debug_size, 28) if debug_size else ():
    struct.pack_into("<I", d, e + 4, when)
    kind, size, _, raw = struct.unpack_from("<IIII", d, e + 12)
    if kind == 2 and d[raw:raw + 4] == b"RSDS":
        d[raw + 4:raw + 24] = bytes(20)
        ids.append(raw + 4)
digest = hashlib.sha256(d).digest()
for i in ids:
    d[i:i + 20] = digest[:20]
open(path, "wb").write(d)
