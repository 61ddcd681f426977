#!/usr/bin/env python3
"""Times corvane against cp, a sed pipeline and a plain Python payload extractor.

Generates the documents, then runs every command in turn for several rounds (one
alternating run, so that the machine's mood touches all alike) and prints medians
of wall time and peak resident memory.

    python3 bench/corvane_bench.py [--corvane build/converter/corvane] [--rounds 7]
"""
import argparse
import base64
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time

PY_EXTRACTOR = r'''
import re, binascii, sys
text = open(sys.argv[1], 'rb').read()
for m in re.finditer(rb'<binary [^>]*?id="([^"]*)"[^>]*>([^<]*)</binary>', text):
    with open(sys.argv[2] + '/' + m.group(1).decode(), 'wb') as f:
        f.write(binascii.a2b_base64(m.group(2)))
'''


def make_plain(path, size):
    line = b'  <p>The lamp was lit at dusk, as it had been every evening for a hundred years.</p>\n'
    with open(path, 'wb') as f:
        f.write(b'<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE doc>\n<doc>\n')
        f.write(line * (size // len(line)))
        f.write(b'</doc>\n')


def make_payloads(path, size, count):
    rng = random.Random(1)
    raw = rng.randbytes(size * 3 // 4 // count)
    text = base64.encodebytes(raw)  # 76-column lines
    with open(path, 'wb') as f:
        f.write(b'<?xml version="1.0" encoding="UTF-8"?>\n<FictionBook>\n')
        for i in range(count):
            f.write(b'<p>image %d</p>\n<binary id="img%05d.bin" content-type="image/png">' % (i, i))
            f.write(text)
            f.write(b'</binary>\n')
        f.write(b'</FictionBook>\n')


def run(command, work):
    # GNU time reports the peak resident memory of the command alone.
    report = os.path.join(work, 'time.txt')
    start = time.perf_counter()
    status = subprocess.call(['/usr/bin/time', '-o', report, '-f', '%M'] + command,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit('failed: %s' % ' '.join(command))
    return elapsed, int(open(report).read().split()[-1]) * 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--corvane', default='build/converter/corvane')
    parser.add_argument('--rounds', type=int, default=7)
    args = parser.parse_args()
    corvane = os.path.abspath(args.corvane)

    work = tempfile.mkdtemp(prefix='corvane-bench-')
    try:
        plain = os.path.join(work, 'plain.xml')
        big = os.path.join(work, 'big.fb2')
        small = os.path.join(work, 'small.fb2')
        xsl = os.path.join(work, 'view.xsl')
        open(xsl, 'w').write('<xsl:stylesheet/>')
        make_plain(plain, 100_000_000)
        make_payloads(big, 100_000_000, 10_000)
        make_payloads(small, 10_000_000, 1_000)
        py = os.path.join(work, 'extract.py')
        open(py, 'w').write(PY_EXTRACTOR)
        for d in ('cp', 'sed', 'c1', 'pbig', 'psmall', 'pyx'):
            os.mkdir(os.path.join(work, d))
        sed = ('sed', '1s#?>#?>\\r\\n<?xml-stylesheet href="%s" type="text/xsl"?>\\r\\n#;2{/<!DOCTYPE/d}' % xsl)

        commands = {
            'cp 100 MB': ['cp', plain, os.path.join(work, 'cp', 'plain.XML')],
            'sed 100 MB': ['sh', '-c', '%s %s > %s' % (" ".join("'%s'" % a for a in sed), plain,
                                                        os.path.join(work, 'sed', 'plain.XML'))],
            'corvane 100 MB': [corvane, plain, xsl, os.path.join(work, 'c1')],
            'corvane payloads 100 MB / 10,000': [corvane, big, xsl, os.path.join(work, 'pbig'), '1'],
            'corvane payloads 10 MB / 1,000': [corvane, small, xsl, os.path.join(work, 'psmall'), '1'],
            'python payloads 100 MB / 10,000': ['python3', py, big, os.path.join(work, 'pyx')],
        }
        times = {name: [] for name in commands}
        rss = {name: 0 for name in commands}
        for _ in range(args.rounds):
            for name, command in commands.items():
                elapsed, peak = run(command, work)
                times[name].append(elapsed)
                rss[name] = max(rss[name], peak)

        median = {name: statistics.median(values) for name, values in times.items()}
        print('%-36s %10s %12s' % ('command', 'median s', 'peak RSS MB'))
        for name in commands:
            print('%-36s %10.3f %12.1f' % (name, median[name], rss[name] / 1e6))
        print()
        print('corvane / cp                       %.2f  (goal <= 2)' % (median['corvane 100 MB'] / median['cp 100 MB']))
        print('payloads 100 MB / 10 MB            %.2f  (goal <= 11)' % (
            median['corvane payloads 100 MB / 10,000'] / median['corvane payloads 10 MB / 1,000']))
        print('payloads corvane / python          %.2f  (goal < 1)' % (
            median['corvane payloads 100 MB / 10,000'] / median['python payloads 100 MB / 10,000']))
        print('peak RSS / document (100 MB)       %.2f  (goal <= 3)' % (
            max(rss['corvane 100 MB'], rss['corvane payloads 100 MB / 10,000']) / 100e6))
    finally:
        shutil.rmtree(work)


if __name__ == '__main__':
    main()
