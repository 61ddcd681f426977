#!/usr/bin/env python3
"""Times corvane --html against corvane followed by xsltproc on NAME.XML.

Two documents: a generated FictionBook book of about 20 MB with 200 payload
images, rendered by bench/fb2_page.xsl, and the 100 MB XML document of
bench/corvane_bench.py, rendered by a small template of its paragraphs. The two
ways are run in turn for several rounds; the script prints medians of wall time,
their ratio, and peak resident memory (corvane --html against xsltproc alone).

    python3 bench/corvane_html_bench.py [--corvane build/converter/corvane] [--rounds 5]
"""
import argparse
import base64
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from corvane_bench import make_plain  # noqa: E402

PLAIN_TEMPLATE = '''<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template match="/doc">
    <html><head><title>Lamp</title></head><body><xsl:apply-templates select="p"/></body></html>
  </xsl:template>
  <xsl:template match="p"><p class="line"><xsl:value-of select="."/></p></xsl:template>
</xsl:stylesheet>
'''

WORDS = ('lamp lit dusk evening hundred years keeper tower sea light night storm ship harbour '
         'wind stone stair window glass oil wick flame shadow wave rock coast bell').split()


def make_book(path, size, images):
    """A FictionBook book: chapters of sections with titles, paragraphs with
    emphasis, a poem now and then and an image per section, then the payloads."""
    rng = random.Random(7)
    payload = base64.encodebytes(rng.randbytes(45_000))  # about 60 KB of Base64 each
    text_size = size - images * len(payload)
    with open(path, 'wb') as f:
        f.write(b'<?xml version="1.0" encoding="UTF-8"?>\n'
                b'<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0" '
                b'xmlns:l="http://www.w3.org/1999/xlink">\n<description><title-info><genre>sf</genre>'
                b'<author><first-name>Ada</first-name><last-name>Lantern</last-name></author>'
                b'<book-title>The Long Lamp</book-title><coverpage><image l:href="#img000.png"/></coverpage>'
                b'<lang>en</lang></title-info></description>\n<body>\n<title><p>The Long Lamp</p></title>\n')
        written, section = 0, 0
        per_section = text_size // images
        while section < images:
            part = [b'<section><title><p>Chapter %d</p></title>\n' % (section + 1)]
            length = 0
            while length < per_section:
                words = ' '.join(rng.choice(WORDS) for _ in range(rng.randint(20, 80)))
                para = b'<p>%s <emphasis>%s</emphasis>.</p>\n' % (words.encode(), rng.choice(WORDS).encode())
                if rng.random() < 0.03:
                    para = b'<poem><stanza><v>%s</v><v>%s</v></stanza></poem>\n' % (
                        words[:40].encode(), words[40:80].encode())
                part.append(para)
                length += len(para)
            part.append(b'<image l:href="#img%03d.png"/>\n</section>\n' % section)
            data = b''.join(part)
            f.write(data)
            written += len(data)
            section += 1
        f.write(b'</body>\n')
        for i in range(images):
            f.write(b'<binary id="img%03d.png" content-type="image/png">' % i)
            f.write(payload)
            f.write(b'</binary>\n')
        f.write(b'</FictionBook>\n')


def timed(command, report=None):
    # The writes of the run before are on disk first, so no run pays for another's.
    os.sync()
    start = time.perf_counter()
    status = subprocess.call(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit('failed: %s' % ' '.join(command))
    peak = int(open(report).read().split()[-1]) * 1024 if report else 0
    return elapsed, peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--corvane', default='build/converter/corvane')
    parser.add_argument('--rounds', type=int, default=5)
    args = parser.parse_args()
    corvane = os.path.abspath(args.corvane)
    here = os.path.dirname(os.path.abspath(__file__))

    work = tempfile.mkdtemp(prefix='corvane-html-bench-')
    try:
        book = os.path.join(work, 'book.fb2')
        plain = os.path.join(work, 'plain.xml')
        plain_xsl = os.path.join(work, 'plain.xsl')
        make_book(book, 20_000_000, 200)
        make_plain(plain, 100_000_000)
        open(plain_xsl, 'w').write(PLAIN_TEMPLATE)
        documents = [
            ('FictionBook 20 MB / 200 images', book, os.path.join(here, 'fb2_page.xsl'), 'book', ['1']),
            ('plain XML 100 MB', plain, plain_xsl, 'plain', []),
        ]
        rss = os.path.join(work, 'rss')
        print('%-32s %9s %9s %7s %10s %10s' % ('document', 'html s', 'pair s', 'ratio', 'html MB', 'xsltproc MB'))
        for label, document, xsl, name, extra in documents:
            one, pair = os.path.join(work, 'one'), os.path.join(work, 'pair')
            times = {'html': [], 'pair': []}
            peaks = {'html': 0, 'xsltproc': 0}
            for _ in range(args.rounds):
                for folder in (one, pair):
                    shutil.rmtree(folder, ignore_errors=True)
                elapsed, peak = timed(['/usr/bin/time', '-o', rss, '-f', '%M', corvane, '--html', document, xsl,
                                       one] + extra, rss)
                times['html'].append(elapsed)
                peaks['html'] = max(peaks['html'], peak)
                # The pair in one shell, xsltproc's own peak measured alone.
                line = '"$1" "$2" "$3" "$4" %s && /usr/bin/time -o "$5" -f %%M xsltproc -o "$4/$6.html" "$3" "$4/$6.XML"' % (
                    ' '.join(extra))
                elapsed, peak = timed(['sh', '-c', line, 'sh', corvane, document, xsl, pair, rss, name], rss)
                times['pair'].append(elapsed)
                peaks['xsltproc'] = max(peaks['xsltproc'], peak)
                if open(os.path.join(one, name + '.html'), 'rb').read() != open(
                        os.path.join(pair, name + '.html'), 'rb').read():
                    raise SystemExit('%s: the pages differ' % label)
            html, both = statistics.median(times['html']), statistics.median(times['pair'])
            print('%-32s %9.3f %9.3f %7.2f %10.1f %10.1f' % (label, html, both, html / both, peaks['html'] / 1e6,
                                                           peaks['xsltproc'] / 1e6))
        print('\ngoals: ratio < 1.0; corvane --html peak RSS <= xsltproc peak RSS')
    finally:
        shutil.rmtree(work)


if __name__ == '__main__':
    main()
