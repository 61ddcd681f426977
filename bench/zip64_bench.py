#!/usr/bin/env python3
"""ZIP64 at scale.

  python3 bench/zip64_bench.py listing [--rounds N]
      Lists ZIP64 archives of 100,000 and 1,000,000 stored entries with
      kestrel-unzip -l (alternating with Info-ZIP's unzip -l when present) and
      prints the median times and how the time grows with the entry count.

  python3 bench/zip64_bench.py big [--folder DIR]
      Makes an archive with a 4.5 GiB stored entry, a 4.5 GiB deflated entry and
      a small entry stored after the 4 GiB mark, extracts it with kestrel-unzip,
      checks every file against its CRC and size, and prints the time and the
      peak resident memory. Needs about 14 GB free in DIR (default: the temp folder).

The archives are written directly (Python's zipfile takes minutes for a million
entries); the tests check the same layout against zipfile and Info-ZIP.
"""

import argparse
import os
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(ROOT, "build", "tools", "kestrel-unzip")


def write_many(path, count):
    """A ZIP64 archive of count stored entries of a few bytes each."""
    with open(path, "wb") as out:
        central = []
        offset = 0
        for i in range(count):
            name = b"d%03d/f%07d.txt" % (i % 1000, i)
            data = b"%d\n" % i
            crc = zlib.crc32(data)
            local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x5A2E, crc, len(data), len(data),
                                len(name), 0) + name + data
            out.write(local)
            central.append(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x0314, 20, 0, 0, 0, 0x5A2E, crc,
                                       len(data), len(data), len(name), 0, 0, 0, 0, 0x81A40000, offset) + name)
            offset += len(local)
        directory = b"".join(central)
        out.write(directory)
        record_at = offset + len(directory)
        out.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(directory), offset))
        out.write(struct.pack("<IIQI", 0x07064B50, 0, record_at, 1))
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))


def timed(command):
    started = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - started


def listing(rounds):
    work = tempfile.mkdtemp(prefix="zip64-bench-")
    try:
        have_unzip = shutil.which("unzip") is not None
        results = {}
        for count in (100_000, 1_000_000):
            path = os.path.join(work, "many-%d.zip" % count)
            write_many(path, count)
            ours, theirs = [], []
            for _ in range(rounds):
                ours.append(timed([TOOL, "-l", path]))
                if have_unzip:
                    theirs.append(timed(["unzip", "-l", path]))
            results[count] = statistics.median(ours)
            line = "%9d entries: kestrel-unzip -l %.3f s" % (count, results[count])
            if theirs:
                line += ", unzip -l %.3f s" % statistics.median(theirs)
            print(line)
            os.remove(path)
        print("ten times the entries: %.1f times the time" % (results[1_000_000] / results[100_000]))
    finally:
        shutil.rmtree(work)


def big(folder):
    work = tempfile.mkdtemp(prefix="zip64-big-", dir=folder)
    try:
        path = os.path.join(work, "big.zip")
        size = 4 * 1024**3 + 512 * 1024**2  # 4.5 GiB
        block = bytes(range(256)) * 4096  # 1 MiB that compresses, but not to nothing
        entries = []
        with open(path, "wb") as out:
            def entry(name, method, chunks, length):
                offset = out.tell()
                header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, method, 0, 0x5A2E, 0, 0xFFFFFFFF,
                                     0xFFFFFFFF, len(name), 20)
                out.write(header + name + struct.pack("<HHQQ", 1, 16, 0, 0))
                data_at = out.tell()
                crc = 0
                packed = 0
                compressor = zlib.compressobj(1, zlib.DEFLATED, -15) if method == 8 else None
                for chunk in chunks:
                    crc = zlib.crc32(chunk, crc)
                    piece = compressor.compress(chunk) if compressor else chunk
                    out.write(piece)
                    packed += len(piece)
                if compressor:
                    piece = compressor.flush()
                    out.write(piece)
                    packed += len(piece)
                end = out.tell()
                # Now the sizes are known: into the local header's CRC and ZIP64 block.
                out.seek(offset + 14)
                out.write(struct.pack("<I", crc))
                out.seek(data_at - 16)
                out.write(struct.pack("<QQ", length, packed))
                out.seek(end)
                entries.append((name, method, crc, packed, length, offset))

            def repeated(length):
                left = length
                while left > 0:
                    yield block[: min(left, len(block))]
                    left -= len(block)

            entry(b"stored.bin", 0, repeated(size), size)
            entry(b"deflated.bin", 8, repeated(size), size)
            entry(b"after-4-GiB.txt", 0, [b"small entry past the 4 GiB mark\n"], 32)
            directory = b""
            for name, method, crc, packed, length, offset in entries:
                directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x0314, 45, 0, method, 0, 0x5A2E, crc,
                                         0xFFFFFFFF, 0xFFFFFFFF, len(name), 28, 0, 0, 0, 0x81A40000, 0xFFFFFFFF)
                directory += name + struct.pack("<HHQQQ", 1, 24, length, packed, offset)
            directory_at = out.tell()
            out.write(directory)
            record_at = out.tell()
            out.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 3, 3, len(directory), directory_at))
            out.write(struct.pack("<IIQI", 0x07064B50, 0, record_at, 1))
            out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 3, 3, 0xFFFFFFFF, 0xFFFFFFFF, 0))
        print("archive: %.2f GB" % (os.path.getsize(path) / 1e9))

        dest = os.path.join(work, "out")
        started = time.perf_counter()
        run = subprocess.run(["/usr/bin/time", "-f", "%M", TOOL, path, dest], capture_output=True, text=True)
        elapsed = time.perf_counter() - started
        if run.returncode != 0:
            sys.exit("kestrel-unzip failed: %s" % run.stderr)
        peak_kb = int(run.stderr.strip().splitlines()[-1])
        for name, method, crc, packed, length, offset in entries:
            file = os.path.join(dest, name.decode())
            got = 0
            with open(file, "rb") as f:
                for chunk in iter(lambda: f.read(1 << 24), b""):
                    got = zlib.crc32(chunk, got)
            if got != crc or os.path.getsize(file) != length:
                sys.exit("%s came out wrong" % name.decode())
        print("extracted 2 x 4.5 GiB and the entry after 4 GiB in %.1f s, peak resident %.1f MB; every CRC matches"
              % (elapsed, peak_kb / 1024))
    finally:
        shutil.rmtree(work)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["listing", "big"])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--folder", default=None)
    args = parser.parse_args()
    if not os.access(TOOL, os.X_OK):
        sys.exit("build kestrel-unzip first (scripts/setup)")
    if args.what == "listing":
        listing(args.rounds)
    else:
        big(args.folder)


if __name__ == "__main__":
    main()
