#!/usr/bin/env python3
"""Times corvane on an office package against Info-ZIP unzip piped into sed.

The package is ODT-like: mimetype, a manifest, a content.xml of 100 MB (deflated)
and 50 MB of pictures (stored, as office suites keep them). The peer unpacks
content.xml to a pipe and sed inserts the stylesheet line, which is the least any
tool must do; corvane unpacks only the part it converts (and the manifest), then
copies it with the reference. Runs alternate for several rounds and the medians
of wall time are compared.

    python3 bench/corvane_package_bench.py [--corvane build/converter/corvane] [--rounds 7]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time
import zipfile

WORDS = ['lamp', 'keeper', 'light', 'sea', 'storm', 'night', 'tower', 'ship', 'wave', 'rock', 'harbour', 'fog']
MANIFEST = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">\n'
            ' <manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/>\n'
            ' <manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>\n'
            '%s</manifest:manifest>\n')


def make_package(path, content_size, pictures, picture_size):
    rng = random.Random(1)
    content = os.path.join(os.path.dirname(path), 'content.xml')
    with open(content, 'w') as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content '
                'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
                'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body><office:text>\n')
        written = 0
        while written < content_size:
            line = '<text:p text:style-name="P%d">%s</text:p>\n' % (
                rng.randrange(40), ' '.join(rng.choice(WORDS) for _ in range(rng.randrange(5, 20))))
            f.write(line)
            written += len(line)
        f.write('</office:text></office:body></office:document-content>\n')
    entries = ''.join(' <manifest:file-entry manifest:full-path="Pictures/img%03d.png" '
                      'manifest:media-type="image/png"/>\n' % i for i in range(pictures))
    with zipfile.ZipFile(path, 'w') as z:
        z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.text')
        z.writestr('META-INF/manifest.xml', MANIFEST % entries, compress_type=zipfile.ZIP_DEFLATED)
        z.write(content, 'content.xml', compress_type=zipfile.ZIP_DEFLATED)
        for i in range(pictures):
            z.writestr('Pictures/img%03d.png' % i, rng.randbytes(picture_size), compress_type=zipfile.ZIP_STORED)
    os.remove(content)


def timed(command):
    start = time.perf_counter()
    status = subprocess.call(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit('failed: %s' % ' '.join(command))
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--corvane', default='build/converter/corvane')
    parser.add_argument('--rounds', type=int, default=7)
    args = parser.parse_args()
    corvane = os.path.abspath(args.corvane)

    work = tempfile.mkdtemp(prefix='corvane-bench-')
    try:
        package = os.path.join(work, 'report.odt')
        xsl = os.path.join(work, 'view.xsl')
        open(xsl, 'w').write('<xsl:stylesheet/>')
        make_package(package, 100_000_000, 50, 1_000_000)
        for d in ('c', 's'):
            os.mkdir(os.path.join(work, d))
        sed = "sed '1s#?>#?>\\r\\n<?xml-stylesheet href=\"%s\" type=\"text/xsl\"?>\\r\\n#'" % xsl
        commands = {
            'corvane report.odt': [corvane, package, xsl, os.path.join(work, 'c')],
            'unzip -p | sed': ['sh', '-c', 'unzip -p %s content.xml | %s > %s' % (
                package, sed, os.path.join(work, 's', 'report.XML'))],
        }
        times = {name: [] for name in commands}
        for _ in range(args.rounds):
            for name, command in commands.items():
                times[name].append(timed(command))
        median = {name: statistics.median(values) for name, values in times.items()}
        print('package: %.1f MB (content.xml 100 MB, 50 pictures of 1 MB)' % (os.path.getsize(package) / 1e6))
        print('%-24s %10s %10s' % ('command', 'median s', 'min s'))
        for name in commands:
            print('%-24s %10.3f %10.3f' % (name, median[name], min(times[name])))
        print()
        print('corvane / unzip|sed    %.2f  (goal <= 0.5)' % (median['corvane report.odt'] / median['unzip -p | sed']))
    finally:
        shutil.rmtree(work)


if __name__ == '__main__':
    main()
