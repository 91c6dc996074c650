#!/usr/bin/env python3
"""Times topwipe against the floor of its pass, an in-place rewrite by dd,
and its per-byte build.

Builds the variants of the command (Release) under build-bench/, and a
small C helper, and times, side by side and interleaved, several runs of:

  topwipe    the command as built by default: wide stores where the CPU has
             AVX-512BW, else a 64-byte line at a time
  lines      the build without wide stores (-DTOPWIPE_WIDE_STORES=OFF): the
             line loop, on any CPU
  floor      bench/floor.c: each 32-bit word loaded, masked and stored back,
             through the same 4 MiB windows; storing one byte in four still
             brings in every line, so this is as fast as the pass can be.
             It is timed with each way of mapping the window's pages in
             (floor none, read, write and read-write: see floor.c), and
             the floor of a run is the fastest of them in that run
  dd         dd bs=1M conv=notrunc of the file onto itself
  per-byte   the portable build (-DTOPWIPE_PORTABLE=ON), one positioned
             one-byte write per group; on 8 MiB only (1 GiB would take
             about a quarter of an hour a run)

on an 8 MiB file just written in 4 MiB blocks, a 1 GiB file dropped from the
page cache and read back once (on the disk, where the cache holds large
folios), and a 1 GiB file on a tmpfs mounted without huge pages (4 KiB
pages; needs root, else skipped); and, on both, a sparse 2 GiB file that
holds 1 MiB of data in four pieces against the same 1 MiB dense, by the
command and by its per-byte build, with the sparse file's allocation
before and after. It prints the median of each, the ratios
to the floor and to dd, which store path the default build takes on this
CPU, and topwipe's peak resident memory (through GNU time, Debian's "time"
package). It prints figures, not verdicts. Not part of the test run.

Where the mingw-w64 cross compiler and wine are installed, it also builds
the Windows command both ways and times them under wine, with one
wineserver kept running (a cold start costs seconds): the mapped build
against the per-byte build on 8 MiB, and the mapped build against the
Linux build on 256 MiB. The wine prefix it makes is removed at the end.

usage: python3 bench/bench.py [--runs N] [--dir DIR]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1 << 20


def build(name, *flags):
    out = os.path.join(ROOT, "build-bench", name)
    subprocess.run(["cmake", "-S", ROOT, "-B", out, "-DCMAKE_BUILD_TYPE=Release",
                    "-DBUILD_TESTING=OFF", *flags], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(out, "topwipe")


def wine_builds():
    """Builds the Windows command, mapped and per-byte, and starts a
    wineserver for them; returns (wine, mapped, per-byte, wineserver), or
    None where the cross compiler or wine is missing."""
    wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
    if not shutil.which("x86_64-w64-mingw32-g++") or not os.access(wine, os.X_OK):
        return None
    tc = "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "x86_64-w64-mingw32.cmake")
    mapped = build("win-mapped", tc) + ".exe"
    slow = build("win-per-byte", tc, "-DTOPWIPE_PORTABLE=ON") + ".exe"
    prefix = os.path.join(ROOT, "build-bench", "wine")
    os.makedirs(prefix, exist_ok=True)  # the wineserver starts only in one that exists
    os.environ.update(WINEPREFIX=prefix, WINEDEBUG="-all")
    server = os.path.join(os.path.dirname(wine), "wineserver")
    if not os.access(server, os.X_OK):
        server = "wineserver"
    # Its output to /dev/null: it outlives the call, and would hold a pipe.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([server, "-p"], check=True, **quiet)
    subprocess.run([wine, mapped], **quiet)  # sets the prefix up
    return wine, mapped, slow, server


def make_file(path, size, reread):
    """Random bytes written in 4 MiB blocks, as a build step writes an image;
    with reread, then dropped from the page cache and read back in once, as
    a file copied in or read since would be."""
    with open(path, "wb") as f:
        left = size
        while left:
            chunk = os.urandom(min(left, 4 * MIB))
            f.write(chunk)
            left -= len(chunk)
        if not reread:
            return
        f.flush()
        os.fsync(f.fileno())
        os.posix_fadvise(f.fileno(), 0, 0, os.POSIX_FADV_DONTNEED)
    with open(path, "rb") as f:
        while f.read(4 * MIB):
            pass


def make_sparse(path, size, data, pieces):
    """A file of size bytes holding data random bytes in pieces spread
    evenly from its start, the rest holes, as an image of sections placed
    far apart is."""
    with open(path, "wb") as f:
        f.truncate(size)
        for i in range(pieces):
            f.seek(i * (size // pieces))
            f.write(os.urandom(data // pieces))


def allocated_kib(path):
    return os.stat(path).st_blocks // 2


def peak_rss(argv):
    """topwipe's peak resident KiB, through GNU time: a child of Python
    would count Python's own pages from before the exec."""
    if not os.access("/usr/bin/time", os.X_OK):
        return None
    r = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], check=True,
                       stderr=subprocess.PIPE, text=True)
    return int(r.stderr.split()[-1])


def timed(argv):
    """Runs argv; returns its seconds. Fails on a non-zero status."""
    start = time.perf_counter()
    subprocess.run(argv, check=True)
    return time.perf_counter() - start


FLOORS = ("none", "read", "write", "read-write")


def bench(runs, commands):
    """Runs the commands in turn, runs times, each run in its own order (the
    same from one bench to the next), so that none always runs first or
    after the same one; returns their median seconds by name, and the
    floor's: the fastest floor of each run."""
    times = {name: [] for name in commands}
    for run in range(runs):
        order = list(commands)
        random.Random(run).shuffle(order)
        for name in order:
            times[name].append(timed(commands[name]))
    modes = [times[f"floor {m}"] for m in FLOORS if f"floor {m}" in times]
    if modes:
        times["floor"] = [min(run) for run in zip(*modes)]
    return {name: statistics.median(t) for name, t in times.items()}


def store_path():
    """The store loop the default build takes on this CPU, as it decides:
    AVX-512BW that the kernel saves the state of (Linux lists the flag only
    then)."""
    machine = os.uname().machine
    if machine != "x86_64":
        return f"line loop ({machine})"
    with open("/proc/cpuinfo") as f:
        flags = next((l.split(":", 1)[1].split() for l in f if l.startswith("flags")), [])
    if "avx512bw" in flags:
        return "wide stores (CPU with AVX-512BW)"
    return "line loop (CPU without AVX-512BW)"


def small_tmpfs(d):
    """Mounts a tmpfs without huge pages in a folder under d; returns the
    folder, or None where it cannot (not root)."""
    mnt = os.path.join(d, "tmpfs")
    os.mkdir(mnt)
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1100m,huge=never", "tmpfs", mnt],
                       stderr=subprocess.DEVNULL, check=False)
    return mnt if r.returncode == 0 else None


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=5, help="runs of each (default 5)")
    ap.add_argument("--dir", default=None, help="where the disk files go (a disk, not tmpfs)")
    args = ap.parse_args()

    fast = build("mapped")
    lines = build("lines", "-DTOPWIPE_WIDE_STORES=OFF")
    slow = build("per-byte", "-DTOPWIPE_PORTABLE=ON")
    floor = os.path.join(ROOT, "build-bench", "floor")
    subprocess.run(["cc", "-O3", "-march=native", "-o", floor, os.path.join(ROOT, "bench", "floor.c")], check=True)
    print(f"store path of the default build: {store_path()}; medians of {args.runs} runs")
    with tempfile.TemporaryDirectory(dir=args.dir, prefix="topwipe-bench.") as d:
        mnt = small_tmpfs(d)
        files = [("8 MiB", d, 8 * MIB), ("1 GiB, disk", d, 1024 * MIB), ("1 GiB, tmpfs 4K", mnt, 1024 * MIB)]
        try:
            for label, where, size in files:
                if where is None:
                    print(f"{label:16s} skipped: cannot mount a tmpfs here (needs root)")
                    continue
                path = os.path.join(where, "f.bin")
                make_file(path, size, reread=where == d and size > 8 * MIB)
                commands = {
                    "topwipe": [fast, path],
                    "lines": [lines, path],
                    **{f"floor {m}": [floor, m, path] for m in FLOORS},
                    "dd": ["dd", f"if={path}", f"of={path}", "bs=1M", "conv=notrunc", "status=none"],
                }
                med = bench(args.runs, commands)
                if size == 8 * MIB:
                    # On its own: its writes leave the file's pages to
                    # writeback, which would slow whichever run came next.
                    med.update(bench(args.runs, {"per-byte": [slow, path]}))
                peak = peak_rss([fast, path])
                line = f"{label:16s}" + "".join(f" {n} {t * 1e3:7.1f} ms" for n, t in med.items())
                for name in ("topwipe", "lines"):
                    line += f"   {name}/floor {med[name] / med['floor']:4.2f}"
                    line += f" {name}/dd {med[name] / med['dd']:4.2f}"
                if "per-byte" in med:
                    line += f"   per-byte/topwipe {med['per-byte'] / med['topwipe']:5.0f}x"
                line += "   peak RSS " + ("?" if peak is None else f"{peak / 1024:.1f} MiB")
                print(line, flush=True)
                os.unlink(path)
            for label, where in (("disk", d), ("tmpfs 4K", mnt)):
                if where is None:
                    continue
                sparse, dense = os.path.join(where, "sparse.bin"), os.path.join(where, "dense.bin")
                make_sparse(sparse, 2048 * MIB, MIB, 4)
                make_file(dense, MIB, reread=False)
                before = allocated_kib(sparse)
                med = bench(args.runs, {"sparse": [fast, sparse], "dense": [fast, dense]})
                # Apart, as on 8 MiB: the per-byte runs leave pages to writeback.
                med.update(bench(args.runs, {"per-byte sparse": [slow, sparse], "per-byte dense": [slow, dense]}))
                print(f"2 GiB holding 1 MiB, {label}:" + "".join(f" {n} {t * 1e3:.1f} ms" for n, t in med.items()) +
                      f"   sparse/dense {med['sparse'] / med['dense']:4.2f}"
                      f" per-byte {med['per-byte sparse'] / med['per-byte dense']:4.2f}"
                      f"   allocated {before} KiB -> {allocated_kib(sparse)} KiB", flush=True)
                os.unlink(sparse)
                os.unlink(dense)
        finally:
            if mnt is not None:
                subprocess.run(["umount", mnt], check=False)

        win = wine_builds()
        if win is None:
            print("Windows under wine: skipped (needs x86_64-w64-mingw32-g++ and wine64)")
        else:
            wine, wmapped, wslow, server = win
            for size, other, argv in ((8 * MIB, "per-byte", [wine, wslow]), (256 * MIB, "linux", [fast])):
                path = os.path.join(d, f"win{size // MIB}M.bin")
                make_file(path, size, reread=False)
                med = bench(args.runs, {"mapped": [wine, wmapped, path], other: argv + [path]})
                if other == "per-byte":
                    ratio, name = med[other] / med["mapped"], "per-byte/mapped"
                else:
                    ratio, name = med["mapped"] / med[other], "mapped/linux"
                print(f"{size // MIB:5d} MiB  wine mapped {med['mapped'] * 1e3:8.1f} ms   "
                      f"{other} {med[other] * 1e3:9.1f} ms   {name} {ratio:7.1f}", flush=True)
                os.unlink(path)
            subprocess.run([server, "-k"], check=False)
            shutil.rmtree(os.environ["WINEPREFIX"], ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
