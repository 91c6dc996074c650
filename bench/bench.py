#!/usr/bin/env python3
"""Times topwipe against its per-byte build and an in-place rewrite by dd.

Builds both variants of the command (Release) under build-bench/, makes an
8 MiB and a 1 GiB file of random bytes, and times, side by side and
interleaved, several runs of:

  topwipe    the command as installed by default (mapped pass)
  per-byte   the portable build (-DTOPWIPE_PORTABLE=ON), one positioned
             one-byte write per group; on 8 MiB only (1 GiB would take
             about a quarter of an hour a run)
  dd         dd bs=1M conv=notrunc of the file onto itself: the floor for
             touching every page of the file in place

It prints the median of each, the ratios, and topwipe's peak resident memory.
The 8 MiB file is written in 4 MiB blocks; the 1 GiB file is then dropped
from the page cache and read back once before timing. Peak memory is read
through GNU time (Debian's "time" package). Not part of the test run.

Where the mingw-w64 cross compiler and wine are installed, it also builds
the Windows command both ways and times them under wine, with one
wineserver kept running (a cold start costs seconds): the mapped build
against the per-byte build on 8 MiB, and the mapped build against the
Linux build on 256 MiB.

usage: python3 bench/bench.py [--runs N] [--dir DIR]
"""
import argparse
import os
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


def bench(runs, commands):
    """Runs the commands in turn, runs times; returns their median seconds
    by name."""
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            times[name].append(timed(argv))
    return {name: statistics.median(t) for name, t in times.items()}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=5, help="runs of each (default 5)")
    ap.add_argument("--dir", default=None, help="where the files go (a disk, not tmpfs)")
    args = ap.parse_args()

    fast = build("mapped")
    slow = build("per-byte", "-DTOPWIPE_PORTABLE=ON")
    ok = True
    with tempfile.TemporaryDirectory(dir=args.dir, prefix="topwipe-bench.") as d:
        for size in (8 * MIB, 1024 * MIB):
            path = os.path.join(d, f"{size // MIB}M.bin")
            make_file(path, size, reread=size > 8 * MIB)
            commands = {
                "topwipe": [fast, path],
                "dd": ["dd", f"if={path}", f"of={path}", "bs=1M", "conv=notrunc", "status=none"],
            }
            if size == 8 * MIB:
                commands["per-byte"] = [slow, path]
            med = bench(args.runs, commands)
            peak = peak_rss([fast, path])
            ratio = med["topwipe"] / med["dd"]
            line = (f"{size // MIB:5d} MiB  topwipe {med['topwipe'] * 1e3:8.1f} ms   "
                    f"dd {med['dd'] * 1e3:7.1f} ms   topwipe/dd {ratio:5.2f}")
            if "per-byte" in med:
                speedup = med["per-byte"] / med["topwipe"]
                line += f"   per-byte {med['per-byte']:6.2f} s   per-byte/topwipe {speedup:7.0f}x"
                ok &= speedup >= 1000
            else:
                ok &= ratio <= 1.5 and (peak is None or peak < 16 * 1024)
            line += "   topwipe peak RSS " + ("?" if peak is None else f"{peak / 1024:.1f} MiB")
            print(line, flush=True)
            os.unlink(path)

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
                    ok &= ratio >= 100
                else:
                    ratio, name = med["mapped"] / med[other], "mapped/linux"
                print(f"{size // MIB:5d} MiB  wine mapped {med['mapped'] * 1e3:8.1f} ms   "
                      f"{other} {med[other] * 1e3:9.1f} ms   {name} {ratio:7.1f}", flush=True)
                os.unlink(path)
            subprocess.run([server, "-k"], check=False)
    print(f"medians of {args.runs} runs; targets "
          "(per-byte/topwipe >= 1000 on 8 MiB, topwipe/dd <= 1.5 and RSS < 16 MiB on 1 GiB, "
          "wine per-byte/mapped >= 100 on 8 MiB): " + ("met" if ok else "NOT met"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
