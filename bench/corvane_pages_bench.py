#!/usr/bin/env python3
"""Times the pages of the templates that ship with corvane on large documents.

corvane is installed (the Runtime component) into a scratch prefix, and each
document goes through its documented line, `corvane --html --flat DOC KIND out 1`:
a Word report of 3,600 paragraphs and 60 tables (python-docx), a workbook of
60,000 cells with 30,000 distinct shared strings over three sheets, an
OpenDocument text of 3,600 paragraphs (odfpy), and an EPUB book of 200 chapters
(8,000 paragraphs). Prints, per kind, the median wall time over the rounds, the
peak resident memory, and the sizes of the flat document and the page.

    python3 bench/corvane_pages_bench.py [--build build] [--rounds 5]
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

WORDS = ('lantern harbour granite keeper survey balcony storm window railing gallery clockwork tower '
         'coastal repair beacon lens signal keeper channel').split()


def sentence(rng, count):
    return ' '.join(rng.choice(WORDS) for _ in range(count))


def make_docx(path, rng):
    import docx
    document = docx.Document()
    for chapter in range(60):
        document.add_heading('Chapter %d' % chapter, 1)
        for _ in range(60):
            document.add_paragraph(sentence(rng, 40))
        table = document.add_table(rows=10, cols=4)
        for row in table.rows:
            for cell in row.cells:
                cell.text = sentence(rng, 2)
    document.save(path)


def make_xlsx(path, rng):
    """Written by hand, as office suites write a workbook: its text in the shared
    strings (openpyxl writes each string into its cell)."""
    main = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
    relationship = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
    strings, sheets = [], []
    for _ in range(3):
        rows = []
        for row in range(1, 2001):
            cells = []
            for column in 'ABCDEFGHIJ':
                if column in 'ACEGI':
                    strings.append('%s %d' % (sentence(rng, 3), len(strings)))
                    cells.append('<c r="%s%d" t="s"><v>%d</v></c>' % (column, row, len(strings) - 1))
                else:
                    cells.append('<c r="%s%d"><v>%d</v></c>' % (column, row, rng.randint(1, 99999)))
            rows.append('<row r="%d">%s</row>' % (row, ''.join(cells)))
        sheets.append('<worksheet xmlns="%s"><sheetData>%s</sheetData></worksheet>' % (main, ''.join(rows)))
    types = ''.join('<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/vnd.openxmlformats-'
                    'officedocument.spreadsheetml.worksheet+xml"/>' % (i + 1) for i in range(3))
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as book:
        book.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-'
                      'types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
                      'relationships+xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.'
                      'openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/'
                      'sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.'
                      'sharedStrings+xml"/>%s</Types>' % types)
        book.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/'
                      'relationships"><Relationship Id="r1" Type="%s/officeDocument" Target="xl/workbook.xml"/>'
                      '</Relationships>' % relationship)
        book.writestr('xl/workbook.xml', '<workbook xmlns="%s" xmlns:r="%s"><sheets>%s</sheets></workbook>' % (
            main, relationship, ''.join('<sheet name="Sheet %d" sheetId="%d" r:id="s%d"/>' % (i, i, i)
                                        for i in range(1, 4))))
        book.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/'
                      'package/2006/relationships">%s<Relationship Id="t" Type="%s/sharedStrings" Target="'
                      'sharedStrings.xml"/></Relationships>' % (''.join(
                          '<Relationship Id="s%d" Type="%s/worksheet" Target="worksheets/sheet%d.xml"/>' %
                          (i, relationship, i) for i in range(1, 4)), relationship))
        book.writestr('xl/sharedStrings.xml', '<sst xmlns="%s">%s</sst>' % (
            main, ''.join('<si><t>%s</t></si>' % text for text in strings)))
        for i, sheet in enumerate(sheets):
            book.writestr('xl/worksheets/sheet%d.xml' % (i + 1), sheet)


def make_odt(path, rng):
    from odf.opendocument import OpenDocumentText
    from odf.text import H, P
    document = OpenDocumentText()
    for chapter in range(60):
        document.text.addElement(H(outlinelevel=1, text='Chapter %d' % chapter))
        for _ in range(60):
            document.text.addElement(P(text=sentence(rng, 40)))
    document.save(path)


def make_epub(path, rng):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as book:
        book.writestr('mimetype', 'application/epub+zip', zipfile.ZIP_STORED)
        book.writestr('META-INF/container.xml',
                      '<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles>'
                      '<rootfile full-path="OEBPS/book.opf" media-type="application/oebps-package+xml"/>'
                      '</rootfiles></container>')
        items, spine = [], []
        for chapter in range(200):
            body = ''.join('<p>%s&nbsp;&mdash; %d</p>' % (sentence(rng, 60), chapter) for _ in range(40))
            book.writestr('OEBPS/Text/c%03d.xhtml' % chapter,
                          '<html xmlns="http://www.w3.org/1999/xhtml"><head><title>c</title></head><body>'
                          '<h1>Chapter %d</h1>%s</body></html>' % (chapter, body))
            items.append('<item id="c%d" href="Text/c%03d.xhtml" media-type="application/xhtml+xml"/>' %
                         (chapter, chapter))
            spine.append('<itemref idref="c%d"/>' % chapter)
        book.writestr('OEBPS/book.opf', '<package xmlns="http://www.idpf.org/2007/opf" version="3.0"><metadata '
                      'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>Bench</dc:title></metadata><manifest>'
                      '%s</manifest><spine>%s</spine></package>' % (''.join(items), ''.join(spine)))


def run(corvane, document, kind, out):
    """Wall time and peak resident memory (KiB) of one conversion."""
    shutil.rmtree(out, ignore_errors=True)
    started = time.perf_counter()
    child = subprocess.Popen([corvane, '--html', '--flat', document, kind, out, '1'])
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - started
    if status != 0:
        raise SystemExit('%s %s: status %d' % (corvane, document, status))
    return elapsed, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', default='build')
    parser.add_argument('--rounds', type=int, default=5)
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix='corvane-pages-bench-')
    try:
        prefix = os.path.join(scratch, 'prefix')
        subprocess.run(['cmake', '--install', args.build, '--prefix', prefix, '--component', 'Runtime'], check=True,
                       stdout=subprocess.DEVNULL)
        corvane = os.path.join(prefix, 'bin', 'corvane')
        rng = random.Random(38)
        print('%-6s %10s %10s %12s %12s' % ('kind', 'median s', 'peak MiB', 'flat MiB', 'page MiB'))
        for kind, make in (('docx', make_docx), ('xlsx', make_xlsx), ('odt', make_odt), ('epub', make_epub)):
            document = os.path.join(scratch, 'bench.' + kind)
            make(document, rng)
            out = os.path.join(scratch, 'out-' + kind)
            results = [run(corvane, document, kind, out) for _ in range(args.rounds)]
            size = lambda name: os.path.getsize(os.path.join(out, name)) / 2**20
            print('%-6s %10.3f %10.1f %12.1f %12.1f' % (kind, statistics.median(r[0] for r in results),
                                                         max(r[1] for r in results) / 1024, size('bench.XML'),
                                                         size('bench.html')))
    finally:
        shutil.rmtree(scratch)


if __name__ == '__main__':
    main()
