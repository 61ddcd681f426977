#!/usr/bin/env python3
"""Times kestrel-unzip extracting one tree three ways: as one archive, as a split
set of the same archive made by Info-ZIP zip (-s, NAME.z01 ... NAME.zip), and as
numbered volumes (the one archive cut into NAME.zip.001, ...): the parts are read
as one file, so the three should take about the same time. Each runs with
--threads 1 and 2, for several rounds in turn; medians of elapsed time and the
peak memory of the run are printed.

    python3 bench/split_sets_bench.py [--build build] [--rounds 3] [--mb 120] [--part 4m]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time


def make_tree(root, total, rng):
    os.makedirs(root)
    words = 'lamp dusk keeper tower harbour light evening ship rope stone window salt tide bell'.split()
    size, i = 0, 0
    while size < total:
        n = rng.choice((2_000, 40_000, 400_000, 4_000_000))
        if i % 3 == 0:
            data = os.urandom(n)
        else:
            data = (' '.join(rng.choice(words) for _ in range(n // 5)) + '\n').encode()[:n]
        with open(os.path.join(root, 'f%05d.dat' % i), 'wb') as f:
            f.write(data)
        size += len(data)
        i += 1


def timed(command):
    """Elapsed seconds and the peak memory (KiB) of one run."""
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        raise SystemExit('%s failed' % command)
    return time.monotonic() - start, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', default='build')
    parser.add_argument('--rounds', type=int, default=3)
    parser.add_argument('--mb', type=int, default=120)
    parser.add_argument('--part', default='4m')
    args = parser.parse_args()
    tool = os.path.abspath(os.path.join(args.build, 'tools', 'kestrel-unzip'))
    work = tempfile.mkdtemp(prefix='split-bench-')
    try:
        make_tree(os.path.join(work, 'tree'), args.mb << 20, random.Random(7))
        subprocess.run(['zip', '-qr', '../whole.zip', '.'], cwd=os.path.join(work, 'tree'), check=True)
        subprocess.run(['zip', '-qr', '-s', args.part, '../set.zip', '.'], cwd=os.path.join(work, 'tree'), check=True)
        subprocess.run(['split', '-b', args.part.upper(), '--numeric-suffixes=1', '-a', '3',
                        'whole.zip', 'vol.zip.'], cwd=work, check=True)
        kinds = {'one archive': 'whole.zip', 'split set': 'set.zip', 'numbered volumes': 'vol.zip.001'}
        parts = {k: sum(f.startswith(v.split('.')[0] + '.') for f in os.listdir(work)) for k, v in kinds.items()}
        results = {}
        for _ in range(args.rounds):
            for kind, name in kinds.items():
                for threads in (1, 2):
                    out = os.path.join(work, 'out')
                    shutil.rmtree(out, ignore_errors=True)
                    elapsed, rss = timed([tool, '-q', '--threads', str(threads), os.path.join(work, name), '-d', out])
                    results.setdefault((kind, threads), []).append((elapsed, rss))
        for (kind, threads), runs in results.items():
            print('%-17s %3d files  --threads %d  %6.2f s  peak %4d MB' %
                  (kind, parts[kind], threads, statistics.median(r[0] for r in runs), max(r[1] for r in runs) >> 10))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
