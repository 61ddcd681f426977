#!/usr/bin/env python3
"""Times kestrel-unzip against Info-ZIP unzip, bsdtar and 7-Zip extracting to a
tmpfs folder, and corvane on a large office package against unzip -p | sed.

Every command runs in turn for several rounds (one alternating run); medians are
printed, with each time relative to Info-ZIP unzip's on the same archive.

    python3 bench/unzip_extract_bench.py [--build build] [--rounds 5] [--scale 1.0]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time

WORDS = ('lamp dusk keeper tower harbour light evening ship rope stone window '
         'salt tide bell winter candle oil wick glass storm').split()


def text_bytes(rng, size):
    out = []
    total = 0
    while total < size:
        line = ' '.join(rng.choice(WORDS) for _ in range(12)) + '\n'
        out.append(line)
        total += len(line)
    return ''.join(out).encode()[:size]


def make_tree(root, files, total, rng):
    """A mixed tree: mostly text, some random (incompressible) and some small files."""
    os.makedirs(root)
    average = total // files
    for i in range(files):
        folder = os.path.join(root, 'd%02d' % (i % 37), 's%d' % (i % 5))
        os.makedirs(folder, exist_ok=True)
        kind = i % 10
        size = max(16, int(rng.expovariate(1 / average)))
        data = rng.randbytes(size) if kind == 0 else text_bytes(rng, size)
        with open(os.path.join(folder, 'f%05d.%s' % (i, 'bin' if kind == 0 else 'txt')), 'wb') as f:
            f.write(data)


def timed(command, cwd=None):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', default='build')
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--scale', type=float, default=1.0, help='fraction of the full sizes')
    args = parser.parse_args()
    unzip_tool = os.path.abspath(os.path.join(args.build, 'tools', 'kestrel-unzip'))
    corvane = os.path.abspath(os.path.join(args.build, 'converter', 'corvane'))
    rng = random.Random(7)
    work = tempfile.mkdtemp(prefix='kestrel-bench-')
    out = tempfile.mkdtemp(prefix='kestrel-bench-', dir='/dev/shm' if os.path.isdir('/dev/shm') else None)
    try:
        make_tree(os.path.join(work, 'tree'), int(10700 * args.scale), int(150e6 * args.scale), rng)
        os.makedirs(os.path.join(work, 'big'))
        with open(os.path.join(work, 'big', 'big.txt'), 'wb') as f:
            f.write(text_bytes(rng, int(100e6 * args.scale)))
        archives = {}
        for name, folder, level in (('mixed tree, deflate -6', 'tree', '-6'),
                                    ('one 100 MB text file', 'big', '-6'),
                                    ('stored tree', 'tree', '-0')):
            path = os.path.join(work, name.replace(' ', '_').replace(',', '') + '.zip')
            subprocess.run(['zip', '-q', '-r', level, path, '.'], cwd=os.path.join(work, folder), check=True)
            archives[name] = path

        def extractors(archive, dest):
            return {
                'unzip': ['unzip', '-q', '-o', archive, '-d', dest],
                'kestrel-unzip': [unzip_tool, archive, dest],
                'bsdtar': ['bsdtar', '-xf', archive, '-C', dest],
                '7z': ['7z', 'x', '-y', '-bso0', '-bsp0', '-o' + dest, archive],
            }

        results = {}
        for _ in range(args.rounds):
            for name, archive in archives.items():
                for tool, command in extractors(archive, os.path.join(out, 'x')).items():
                    if shutil.which(command[0]) is None and not os.path.exists(command[0]):
                        continue
                    shutil.rmtree(os.path.join(out, 'x'), ignore_errors=True)
                    os.makedirs(os.path.join(out, 'x'))
                    results.setdefault((name, tool), []).append(timed(command))
        shutil.rmtree(os.path.join(out, 'x'), ignore_errors=True)

        print('%-26s %-14s %9s %9s' % ('archive', 'tool', 'median s', 'vs unzip'))
        for name in archives:
            base = statistics.median(results[(name, 'unzip')])
            for tool in ('unzip', 'kestrel-unzip', 'bsdtar', '7z'):
                if (name, tool) in results:
                    m = statistics.median(results[(name, tool)])
                    print('%-26s %-14s %9.3f %9.2f' % (name, tool, m, m / base))

        # corvane on an ODT whose content.xml is 100 MB, against unzip -p | sed.
        odt_dir = os.path.join(work, 'odt')
        os.makedirs(odt_dir)
        with open(os.path.join(odt_dir, 'content.xml'), 'wb') as f:
            f.write(b'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content>\n')
            f.write(text_bytes(rng, int(100e6 * args.scale)))
            f.write(b'</office:document-content>\n')
        with open(os.path.join(odt_dir, 'mimetype'), 'w') as f:
            f.write('application/vnd.oasis.opendocument.text')
        odt = os.path.join(work, 'big.odt')
        subprocess.run(['zip', '-q', '-6', odt, 'mimetype', 'content.xml'], cwd=odt_dir, check=True)
        xsl = os.path.join(work, 'view.xsl')
        open(xsl, 'w').write('<xsl:stylesheet/>')
        sed = ("unzip -p %s content.xml | sed '1s#?>#?><?xml-stylesheet href=\"%s\" type=\"text/xsl\"?>#' > %s"
               % (odt, xsl, os.path.join(out, 'sed.XML')))
        times = {'corvane': [], 'unzip -p | sed': []}
        for _ in range(args.rounds):
            times['corvane'].append(timed([corvane, odt, xsl, out]))
            times['unzip -p | sed'].append(timed(['sh', '-c', sed]))
        print()
        for tool, values in times.items():
            print('%-26s %-14s %9.3f' % ('ODT, 100 MB content.xml', tool, statistics.median(values)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(out, ignore_errors=True)


if __name__ == '__main__':
    main()
