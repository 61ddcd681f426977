#!/usr/bin/env python3
"""corvane as installed, with the templates it ships, end to end: one document of each
kind, made here by independent tools (python-docx, openpyxl, odfpy; a presentation and
EPUB 2 and 3 books written by hand; FictionBook books), goes through the command line
that `corvane --help` gives for its kind. The page must hold the document's words as
the tools read them (no two run together), every picture as a file beside it, and
show something in Chromium (when it is installed).

Usage: corvane_pages_test.py BUILD_DIR SOURCE_DIR"""

import contextlib
import html.parser
import io
import os
import posixpath
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import urllib.parse
import xml.etree.ElementTree as ET
import zipfile
import zlib
from concurrent.futures import ThreadPoolExecutor

BUILD, SOURCE = (os.path.abspath(a) for a in sys.argv[1:3])
WORD = re.compile(r"[^\W\d_]+")

TITLE = "Restoring the Harbour Lighthouse"
SECTIONS = [
    ("Background", ["The *lantern room* was built in granite by the county engineers, and "
                    "_weathered_ storms for a century before the keepers left.",
                    "Volunteers surveyed the tower during spring and photographed every "
                    "window, stair and railing."]),
    ("Findings", ["Salt has *corroded* the balcony, yet the foundations remain _remarkably_ sound.",
                  "Repairs should begin before autumn gales return to the northern coast."])]
BULLETS = ["Replace cracked glazing panels", "Repaint the iron gallery", "Restore the brass clockwork"]
TABLE = [["Component", "Condition", "Estimate"], ["Glazing", "Cracked", "1200"],
         ["Gallery", "Rusted", "3400"], ["Clockwork", "Seized", "800"]]
SLIDES = [("Harbour Lighthouse", ["Survey summary", "Spring expedition"], "Welcome the trustees warmly"),
          ("Urgent repairs", BULLETS, "Mention the insurance deadline"),
          ("Budget outlook", ["Grants cover *most* expenses", "Fundraising dinner planned"], "Thank the donors")]


def runs(text):
    """The pieces of a paragraph with their emphasis: *bold*, _italic_ or plain (None)."""
    return [(p.strip("*_"), {"*": "b", "_": "i"}.get(p[:1])) for p in re.split(r"(\*[^*]+\*|_[^_]+_)", text) if p]


def png(red, green, blue, size=24):
    """A small picture: a coloured square on a white stripe, so it has two colours."""
    rows = b"".join(b"\0" + (bytes((red, green, blue)) if y > 3 else b"\xff\xff\xff") * size for y in range(size))
    chunk = lambda tag, data: struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def write_zip(path, members):
    """A package of (name, text or bytes) members; a first "mimetype" is stored."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in members:
            archive.writestr(name, data, zipfile.ZIP_STORED if name == "mimetype" else zipfile.ZIP_DEFLATED)


OFFICE = "http://schemas.openxmlformats.org/"
DRAWING = OFFICE + "drawingml/2006/main"
NAMESPACES = 'xmlns:a="%sdrawingml/2006/main" xmlns:r="%sofficeDocument/2006/relationships"' % (OFFICE, OFFICE)


def relations(*targets):
    """A .rels part: rId1, rId2, ... for the (kind, target) pairs."""
    return '<Relationships xmlns="%spackage/2006/relationships">%s</Relationships>' % (OFFICE, "".join(
        '<Relationship Id="rId%d" Type="%sofficeDocument/2006/relationships/%s" Target="%s"/>' % (n, OFFICE, kind, to)
        for n, (kind, to) in enumerate(targets, 1)))


def make_docx(path):
    import docx
    document = docx.Document()
    document.sections[0].header.paragraphs[0].text = "Maritime Heritage Trust"
    document.sections[0].footer.paragraphs[0].text = "Confidential draft"
    document.add_heading(TITLE, 0)
    for heading, paragraphs in SECTIONS:
        document.add_heading(heading, 1)
        for text in paragraphs:
            paragraph = document.add_paragraph()
            for piece, style in runs(text):
                run = paragraph.add_run(piece)
                run.bold, run.italic = style == "b", style == "i"
    for item in BULLETS:
        document.add_paragraph(item, style="List Bullet")
    table = document.add_table(rows=0, cols=3)
    for row in TABLE:
        for cell, text in zip(table.add_row().cells, row):
            cell.text = text
    document.add_picture(io.BytesIO(png(200, 40, 40)))
    document.add_paragraph("Inspector\tHarriet\tLangford").add_run().add_break()
    document.save(path)
    return 1


def make_xlsx(path):
    import openpyxl
    book = openpyxl.Workbook()
    book.active.title = "Repairs"
    for row in TABLE:
        book.active.append([int(v) if v.isdigit() else v for v in row])
    schedule = book.create_sheet("Schedule")
    for text in [TITLE] + [re.sub("[*_]", "", t) for _, ps in SECTIONS for t in ps] + BULLETS:
        schedule.append([text, len(text)])
    memory = io.BytesIO()
    book.save(memory)
    # openpyxl places pictures only through Pillow: the drawing is added by hand.
    with zipfile.ZipFile(memory) as archive:
        members = [(n, archive.read(n).decode()) for n in archive.namelist()]
    fixes = {"[Content_Types].xml": ("</Types>", '<Default Extension="png" ContentType="image/png"/><Override PartName='
                                     '"/xl/drawings/drawing1.xml" ContentType="application/vnd.openxmlformats-'
                                     'officedocument.drawing+xml"/></Types>'),
             "xl/worksheets/sheet1.xml": ("</worksheet>", '<drawing %s r:id="rId1"/></worksheet>' % NAMESPACES)}
    drawing = ('<xdr:wsDr xmlns:xdr="%sdrawingml/2006/spreadsheetDrawing" %s><xdr:oneCellAnchor><xdr:from><xdr:col>'
               '4</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>1</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext'
               ' cx="457200" cy="457200"/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id="2" name="Picture 1"/><xdr:cNvPicPr/>'
               '</xdr:nvPicPr><xdr:blipFill><a:blip r:embed="rId1"/></xdr:blipFill><xdr:spPr><a:prstGeom prst="rect"/>'
               '</xdr:spPr></xdr:pic><xdr:clientData/></xdr:oneCellAnchor></xdr:wsDr>' % (OFFICE, NAMESPACES))
    write_zip(path, [(n, d.replace(*fixes[n]) if n in fixes else d) for n, d in members] + [
        ("xl/worksheets/_rels/sheet1.xml.rels", relations(("drawing", "../drawings/drawing1.xml"))),
        ("xl/drawings/drawing1.xml", drawing), ("xl/media/image1.png", png(40, 160, 60)),
        ("xl/drawings/_rels/drawing1.xml.rels", relations(("image", "../media/image1.png")))])
    return 1


def make_odf(path):
    """A text, spreadsheet or presentation (by the name's extension) with bold and
    italic text, bullet lists and pictures."""
    from odf import draw, opendocument, presentation, style, table, text
    kind = path[-3:]
    names = {"odt": "Text", "ods": "Spreadsheet", "odp": "Presentation"}
    document = getattr(opendocument, "OpenDocument" + names[kind])()
    emphasis = {"b": style.Style(name="Tb", family="text"), "i": style.Style(name="Ti", family="text")}
    emphasis["b"].addElement(style.TextProperties(fontweight="bold"))
    emphasis["i"].addElement(style.TextProperties(fontstyle="italic"))
    bullets = text.ListStyle(name="Bullets")
    bullets.addElement(text.ListLevelStyleBullet(level=1, bulletchar="•"))
    for automatic in list(emphasis.values()) + [bullets]:
        document.automaticstyles.addElement(automatic)

    def add(parent, *children):
        """Each child added to the one before it (odfpy's addElement returns nothing); the last."""
        for child in children:
            parent.addElement(child)
            parent = child
        return parent

    def paragraph(content, element=text.P, **attributes):
        result = element(**attributes)
        for piece, emphasised in runs(content):
            if emphasised:
                result.addElement(text.Span(stylename=emphasis[emphasised], text=piece))
            else:
                result.addText(piece)
        return result

    def bullet_list(items):
        result = text.List(stylename=bullets)
        for item in items:
            add(result, text.ListItem(), paragraph(item))
        return result

    def picture(colour, **place):
        return add(draw.Frame(width="2cm", height="2cm", **place),
                   draw.Image(href=document.addPictureFromString(png(*colour), "image/png"))).parentNode

    def grid(parent, name, rows):
        sheet = add(parent, table.Table(name=name))
        sheet.addElement(table.TableColumn(numbercolumnsrepeated=len(rows[0])))
        for row in rows:
            cells = add(sheet, table.TableRow())
            for value in row:
                number = {"valuetype": "float", "value": value} if value.isdigit() else {"valuetype": "string"}
                add(cells, table.TableCell(**number), paragraph(value))
        return cells

    if kind == "odt":
        for element in [paragraph(TITLE, text.H, outlinelevel=1)] + [e for heading, ps in SECTIONS for e in [
                paragraph(heading, text.H, outlinelevel=2)] + [paragraph(p) for p in ps]] + [bullet_list(BULLETS)]:
            document.text.addElement(element)
        grid(document.text, "Costs", TABLE)
        add(document.text, text.P(), picture((40, 90, 200), anchortype="as-char"))
        signature = add(document.text, text.P(text="Inspector"))
        signature.addElement(text.Tab()), signature.addText("Harriet"), signature.addElement(text.LineBreak())
        signature.addText("Langford")
    elif kind == "ods":
        grid(document.spreadsheet, "Repairs", TABLE)
        schedule = [[re.sub("[*_]", "", t), str(len(t))] for _, ps in SECTIONS for t in ps]
        last_row = grid(document.spreadsheet, "Schedule", [[TITLE, ""]] + schedule + [[b, ""] for b in BULLETS])
        add(last_row, table.TableCell(), picture((200, 150, 30), x="0cm", y="0cm"))
    else:
        layout = add(document.automaticstyles, style.PageLayout(name="Screen"))
        layout.addElement(style.PageLayoutProperties(pagewidth="28cm", pageheight="21cm", printorientation="landscape"))
        master = add(document.masterstyles, style.MasterPage(name="Default", pagelayoutname=layout))
        for number, (title, items, note) in enumerate(SLIDES):
            page = add(document.presentation, draw.Page(name="Slide%d" % (number + 1), masterpagename=master))
            for parent, role, content, y in ((page, "title", paragraph(title), "1cm"),
                                             (page, "outline", bullet_list(items), "6cm"),
                                             (add(page, presentation.Notes()), "notes", paragraph(note), "14cm")):
                frame = draw.Frame(**{"class": role}, width="24cm", height="4cm", x="2cm", y=y)
                add(parent, frame, draw.TextBox(), content)
            page.addElement(picture((60 * number, 120, 200), x="20cm", y="12cm"))
    document.save(path)
    return len(SLIDES) if kind == "odp" else 1


def make_pptx(path):
    """Three slides, each with a title, a bulleted body and a picture, and their notes."""
    escape = lambda t: t.replace("&", "&amp;").replace("<", "&lt;")

    def shape(number, placeholder, paragraphs, bulleted):
        text = "".join("<a:p>%s%s</a:p>" % ('<a:pPr><a:buChar char="•"/></a:pPr>' if bulleted else "", "".join(
            '<a:r><a:rPr lang="en-GB"%s/><a:t>%s</a:t></a:r>' % ({"b": ' b="1"', "i": ' i="1"'}.get(s, ""), escape(p))
            for p, s in runs(content))) for content in paragraphs)
        return ('<p:sp><p:nvSpPr><p:cNvPr id="%d" name="Shape %d"/><p:cNvSpPr/><p:nvPr><p:ph %s/></p:nvPr>'
                '</p:nvSpPr><p:spPr><a:xfrm><a:off x="457200" y="%d"/><a:ext cx="5000000" cy="1400000"/></a:xfrm>'
                '</p:spPr><p:txBody><a:bodyPr/>%s</p:txBody></p:sp>'
                % (number, number, placeholder, number * 1500000 - 2500000, text))

    def tree(root, shapes):
        return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<p:%s %s xmlns:p="%spresentationml/2006/main"'
                '><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>'
                '<p:grpSpPr/>%s</p:spTree></p:cSld></p:%s>' % (root, NAMESPACES, OFFICE, shapes, root))

    kind = "application/vnd.openxmlformats-officedocument.presentationml."
    types = ('<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             '<Default Extension="xml" ContentType="application/xml"/><Default Extension="png" ContentType='
             '"image/png"/><Override PartName="/ppt/presentation.xml" ContentType="%spresentation.main+xml"/>' % kind)
    picture = ('<p:pic><p:nvPicPr><p:cNvPr id="4" name="Picture 3"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill>'
               '<a:blip r:embed="rId1"/></p:blipFill><p:spPr><a:xfrm><a:off x="6000000" y="2000000"/><a:ext '
               'cx="1500000" cy="1500000"/></a:xfrm><a:prstGeom prst="rect"/></p:spPr></p:pic>')
    members = []
    for n, (title, items, note) in enumerate(SLIDES, 1):
        types += ('<Override PartName="/ppt/slides/slide%d.xml" ContentType="%sslide+xml"/><Override PartName="/ppt/'
                  'notesSlides/notesSlide%d.xml" ContentType="%snotesSlide+xml"/>' % (n, kind, n, kind))
        members += [("ppt/slides/slide%d.xml" % n, tree("sld", shape(2, 'type="title"', [title], False) +
                                                          shape(3, 'idx="1"', items, True) + picture)),
                    ("ppt/slides/_rels/slide%d.xml.rels" % n, relations(
                        ("image", "../media/image%d.png" % n), ("notesSlide", "../notesSlides/notesSlide%d.xml" % n))),
                    ("ppt/notesSlides/notesSlide%d.xml" % n, tree("notes", shape(2, 'type="body" idx="1"', [note], 0))),
                    ("ppt/notesSlides/_rels/notesSlide%d.xml.rels" % n,
                     relations(("slide", "../slides/slide%d.xml" % n))),
                    ("ppt/media/image%d.png" % n, png(220, 60 * n, 90))]
    slides = "".join('<p:sldId id="%d" r:id="rId%d"/>' % (255 + n, n) for n in range(1, len(SLIDES) + 1))
    write_zip(path, [("[Content_Types].xml", '<?xml version="1.0" encoding="UTF-8"?>\n<Types xmlns="%spackage/2006/'
                      'content-types">%s</Types>' % (OFFICE, types)),
                     ("_rels/.rels", relations(("officeDocument", "ppt/presentation.xml"))),
                     ("ppt/presentation.xml", '<p:presentation %s xmlns:p="%spresentationml/2006/main"><p:sldIdLst>%s'
                      '</p:sldIdLst><p:sldSz cx="9144000" cy="6858000"/><p:notesSz cx="6858000" cy="9144000"/>'
                      '</p:presentation>' % (NAMESPACES, OFFICE, slides)),
                     ("ppt/_rels/presentation.xml.rels", relations(*(("slide", "slides/slide%d.xml" % n)
                                                                    for n in range(1, len(SLIDES) + 1))))] + members)
    return len(SLIDES)


def make_epub(path):
    """A book as Sigil lays one out, EPUB 2 or 3 by the digit in its name: chapters in
    Text/, pictures in Images/, the second chapter listed first in the manifest (the
    spine gives the reading order)."""
    version = int(re.search(r"\d", os.path.basename(path))[0])
    inline = lambda t: "".join("<%s>%s</%s>" % (s, p, s) if s else p for p, s in
                               ((p, {"b": "strong", "i": "em"}.get(s)) for p, s in runs(t)))
    doctype = ('<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.1//EN" "http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd">'
               if version == 2 else "<!DOCTYPE html>")
    extras = ['<ul>%s</ul><p><img src="../Images/tower.png" alt=""/></p>' % "".join("<li>%s</li>" % b for b in BULLETS),
              "<table>%s</table><p>Inspector&nbsp;Harriet<br/>Langford</p><img src=\"../Images/gallery.png\" alt=\"\"/>"
              % "".join("<tr>%s</tr>" % "".join("<td>%s</td>" % c for c in row) for row in TABLE)]
    chapters = [("Text/chapter%d.xhtml" % (n + 1), '<?xml version="1.0" encoding="utf-8"?>\n%s<html xmlns="http://www'
                 '.w3.org/1999/xhtml"><head><title>%s</title></head><body><h1>%s</h1>%s%s</body></html>'
                 % (doctype, heading, heading, "".join("<p>%s</p>" % inline(t) for t in ps), extras[n]))
                for n, (heading, ps) in enumerate(SECTIONS)]
    items = '<item id="c2" href="Text/chapter2.xhtml" media-type="application/xhtml+xml"/><item id="c1" href="Text/' \
            'chapter1.xhtml" media-type="application/xhtml+xml"/><item id="tower" href="Images/tower.png" media-type=' \
            '"image/png"/><item id="gallery" href="Images/gallery.png" media-type="image/png"/>'
    # The table of contents, outside the spine: EPUB 2's NCX, EPUB 3's navigation document.
    toc = ("toc.ncx", "application/x-dtbncx+xml", "", '<ncx xmlns="http://www.daisy.org/z3986/2005/ncx/" version='
           '"2005-1"><head/><docTitle><text>Harbour</text></docTitle><navMap/></ncx>') if version == 2 else (
        "nav.xhtml", "application/xhtml+xml", ' properties="nav"', '<html xmlns="http://www.w3.org/1999/xhtml" '
        'xmlns:epub="http://www.idpf.org/2007/ops"><head><title>Contents</title></head><body><nav epub:type="toc">'
        '<ol><li><a href="Text/chapter1.xhtml">Background</a></li></ol></nav></body></html>')
    items += '<item id="toc" href="%s" media-type="%s"%s/>' % toc[:3]
    package = ('<?xml version="1.0" encoding="UTF-8"?>\n<package xmlns="http://www.idpf.org/2007/opf" version="%d.0" '
               'unique-identifier="id"><metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>%s</dc:title>'
               '<dc:identifier id="id">urn:uuid:7d1c1f3e-0b0e-4b8e-9d55-3c2f4a6e%04d</dc:identifier><dc:language>en'
               '</dc:language></metadata><manifest>%s</manifest><spine%s><itemref idref="c1"/><itemref idref="c2"/>'
               '</spine></package>' % (version, TITLE, version, items, ' toc="toc"' if version == 2 else ""))
    write_zip(path, [("mimetype", "application/epub+zip"),
                     ("META-INF/container.xml", '<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:'
                      'container"><rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-'
                      'package+xml"/></rootfiles></container>'), ("OEBPS/content.opf", package),
                     ("OEBPS/" + toc[0], toc[3]), ("OEBPS/Images/tower.png", png(90, 90, 90)),
                     ("OEBPS/Images/gallery.png", png(30, 120, 60))] + [("OEBPS/" + n, t) for n, t in chapters])
    return 2


class Page(html.parser.HTMLParser):
    """The visible text of an HTML page, a line break where a block begins or ends
    (inline elements join their text), and the src of its pictures."""
    BLOCKS = set("address article aside blockquote br caption dd div dl dt figcaption figure footer h1 h2 h3 h4 h5 h6 "
                 "header hr li main nav ol p pre section table tbody td tfoot th thead tr ul".split())
    HIDDEN = {"head", "script", "style", "title", "template"}

    def __init__(self, markup):
        super().__init__()
        self.parts, self.images, self.hidden = [], [], 0
        self.feed(markup)
        self.close()
        self.text = "".join(self.parts)

    def handle_starttag(self, tag, attributes):
        self.hidden += tag in self.HIDDEN
        self.images += [dict(attributes).get("src") or ""] if tag == "img" else []
        self.parts += ["\n"] if tag in self.BLOCKS else []

    def handle_endtag(self, tag):
        self.hidden = max(0, self.hidden - (tag in self.HIDDEN))
        self.parts += ["\n"] if tag in self.BLOCKS else []

    def handle_data(self, data):
        self.parts += [] if self.hidden else [data]


def read(path):
    """The text of a document as an independent reader reads it, a string a paragraph or
    cell; for a FictionBook book, also the number of pictures in its bodies."""
    if path.endswith(".docx"):
        import docx
        document = docx.Document(path)
        holders = [document] + [c for t in document.tables for row in t.rows for c in row.cells] + [
            part for section in document.sections for part in (section.header, section.footer)]
        return [p.text for holder in holders for p in holder.paragraphs]
    if path.endswith(".xlsx"):
        import openpyxl
        return [str(c.value) for sheet in openpyxl.load_workbook(path) for row in sheet.iter_rows() for c in row]
    if path.endswith((".odt", ".ods", ".odp")):
        from odf import opendocument, teletype, text
        document = opendocument.load(path)
        return [teletype.extractText(e) for kind in (text.P, text.H) for e in document.getElementsByType(kind)]
    data = open(path, "rb").read()
    with zipfile.ZipFile(path) if zipfile.is_zipfile(path) else contextlib.nullcontext() as package:
        if path.endswith(".pptx"):
            roots = [ET.fromstring(package.read(n)) for n in package.namelist()
                     if re.fullmatch(r"ppt/(slides|notesSlides)/[^/]+\.xml", n)]
            # A line break inside a paragraph parts its words, as python-pptx reads it.
            return ["".join((e.text or "") if e.tag.endswith("}t") else "\n" for e in p.iter()
                            if e.tag in ("{%s}t" % DRAWING, "{%s}br" % DRAWING))
                    for root in roots for p in root.iter("{%s}p" % DRAWING)]
        if path.endswith(".epub"):
            opf_name = ET.fromstring(package.read("META-INF/container.xml")).find(".//{*}rootfile").get("full-path")
            opf = ET.fromstring(package.read(opf_name))
            hrefs = {i.get("id"): i.get("href") for i in opf.findall(".//{*}item")}
            return [line for ref in opf.findall(".//{*}itemref") for line in Page(package.read(
                posixpath.join(posixpath.dirname(opf_name), hrefs[ref.get("idref")])).decode()).text.split("\n")]
        bodies = ET.fromstring(package.read(package.namelist()[0]) if package else data).findall("{*}body")
    blocks = [e for b in bodies for e in b.iter()
              if e.tag.split("}")[-1] in ("p", "v", "subtitle", "text-author", "td", "th")]
    return ["".join(e.itertext()) for e in blocks], sum(1 for b in bodies for _ in b.findall(".//{*}image"))


def check_page(page_path, blocks, pictures):
    """What is wrong with the page of a document that the reader reads as blocks."""
    page = Page(open(page_path, encoding="utf-8").read())
    shown = set(WORD.findall(page.text.casefold()))
    tokens = [WORD.findall(b.casefold()) for b in blocks]
    vocabulary = {t for line in tokens for t in line}
    wanted = {t for t in vocabulary if len(t) >= 4}
    missing = sorted(wanted - shown)
    problems = ["%d of %d words missing: %s" % (len(missing), len(wanted), " ".join(missing[:12]))] \
        if len(missing) > len(wanted) // 10 else []
    # A word of the page that the document does not have, made of two of its words
    # that stand side by side (or end one block and begin another), ran them together.
    pairs = {(a, b) for line in tokens for a, b in zip(line, line[1:])}
    ends, starts = {line[-1] for line in tokens if line}, {line[0] for line in tokens if line}
    glued = sorted({w for w in shown - vocabulary for i in range(2, len(w) - 1)
                    if (w[:i], w[i:]) in pairs or (w[:i] in ends and w[i:] in starts)})
    problems += ["words run together: " + " ".join(glued[:12])] if glued else []
    folder = os.path.dirname(page_path)
    beside = lambda src: os.path.join(folder, urllib.parse.unquote(src))
    lost = [src for src in page.images
            if urllib.parse.urlsplit(src).scheme or not os.path.isfile(beside(src)) or not os.path.getsize(beside(src))]
    problems += ["%d pictures are no file beside the page: %s" % (len(lost), " ".join(lost[:5]))] if lost else []
    if len(page.images) < pictures:
        problems.append("%d pictures shown of %d" % (len(page.images), pictures))
    return problems


def pixels(png_path):
    """The pixels (RGB tuples) of a PNG of 8-bit RGB or RGBA, decoded with zlib."""
    data, position, compressed = open(png_path, "rb").read(), 8, b""
    while position < len(data):
        length, tag = struct.unpack(">I4s", data[position:position + 8])
        if tag == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", data[position + 8:position + 18])
        compressed += data[position + 8:position + 8 + length] if tag == b"IDAT" else b""
        position += length + 12
    assert depth == 8 and colour in (2, 6), "PNG of depth %d, colour type %d" % (depth, colour)
    size, stride = {2: 3, 6: 4}[colour], width * {2: 3, 6: 4}[colour]
    raw, previous, result = zlib.decompress(compressed), bytearray(stride), []
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 2:
            row = bytearray(map(lambda a, b: (a + b) & 255, row, previous))
        for i in range(stride) if kind in (1, 3, 4) else ():
            left = row[i - size] if i >= size else 0
            up, corner = previous[i], previous[i - size] if i >= size else 0
            if kind == 4:
                estimate = left + up - corner
                near = min((abs(estimate - v), order, v) for order, v in enumerate((left, up, corner)))
            row[i] = (row[i] + (left, up, (left + up) // 2, near[2] if kind == 4 else 0)[kind - 1]) & 255
        result += zip(*[iter(row)] * size)
        previous = row
    return [p[:3] for p in result]


def screenshot_problems(browser, page_path, scratch):
    """What is wrong with the page as Chromium shows it: nothing drawn, or one colour."""
    shot = page_path + ".png"
    subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + shot + ".profile",
                    "--screenshot=" + shot, "--window-size=1000,1400", "file://" + page_path],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, cwd=scratch)
    if not os.path.isfile(shot):
        return ["Chromium made no screenshot"]
    shown = pixels(shot)
    inked = sum(p != (255, 255, 255) for p in shown) / len(shown)
    blank = len(set(shown)) < 2 or inked < 0.005
    return ["Chromium shows a blank page (%.2f %% of it not white)" % (inked * 100)] if blank else []


def main():
    scratch = tempfile.mkdtemp(prefix="corvane-pages-")
    prefix, made = os.path.join(scratch, "prefix"), os.path.join(scratch, "documents")
    os.makedirs(made)
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix, "--component", "Runtime"], check=True,
                   stdout=subprocess.DEVNULL)
    corvane = os.path.join(prefix, "bin", "corvane")
    answer = subprocess.run([corvane, "--help"], capture_output=True, text=True)
    # The documented line of each kind, by the extension of its example document.
    documented = {}
    for line in (answer.stdout + answer.stderr).splitlines():
        if line.startswith("  corvane "):
            words = shlex.split(line)
            example = next(w for w in words[1:] if "." in w and not w.startswith("-"))
            documented[example.split(".", 1)[1]] = (words, example)
    makers = {"report.docx": make_docx, "budget.xlsx": make_xlsx, "slides.pptx": make_pptx, "report.odt": make_odf,
              "budget.ods": make_odf, "slides.odp": make_odf, "book2.epub": make_epub, "book3.epub": make_epub}
    documents = []
    for name, make in makers.items():
        path = os.path.join(made, name)
        pictures = make(path)
        documents.append((name.split(".", 1)[1], path, read(path), pictures))
    books = [os.path.join(SOURCE, "examples", "lamp.fb2"),
             os.path.join(SOURCE, "..", "shared", "fixtures", "docs", "test-book-en.fb2")]
    with zipfile.ZipFile(os.path.join(made, "lamp.fb2.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(books[0], "lamp.fb2")
    for path in books + [os.path.join(made, "lamp.fb2.zip")]:
        if not os.path.isfile(path):
            print("skipped (fixture missing): " + path)
            continue
        documents.append(("fb2.zip" if path.endswith(".zip") else "fb2", os.path.abspath(path)) + read(path))

    failures, pages = [], []
    for kind, path, blocks, pictures in documents:
        if kind not in documented:
            failures.append("%s: corvane --help gives no line for .%s" % (os.path.basename(path), kind))
            continue
        words, example = documented[kind]
        out = os.path.join(scratch, "out-" + os.path.basename(path))
        command = [corvane] + [path if w == example else out if w == "out" else w for w in words[1:]]
        result = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=120)
        page = os.path.join(out, os.path.basename(path).rsplit(".", 1)[0] + ".html")
        problems = ["status %d: %s" % (result.returncode, result.stderr.strip())] if result.returncode else []
        problems += check_page(page, blocks, pictures) if os.path.isfile(page) else ["no page " + page]
        failures += [" ".join(command)] + ["  " + p for p in problems] if problems else []
        pages += [page] if os.path.isfile(page) else []
    browser = shutil.which("chromium")
    if browser:
        with ThreadPoolExecutor(3) as pool:
            for page, problems in zip(pages, pool.map(lambda p: screenshot_problems(browser, p, scratch), pages)):
                failures += [page + ": " + p for p in problems]
    else:
        print("Chromium is not installed: the pages are not rendered")
    if failures:
        print("\n".join(failures) + "\nthe pages are left in " + scratch)
        sys.exit(1)
    shutil.rmtree(scratch)
    print("%d documents of %d kinds make readable pages" % (len(documents), len({d[0] for d in documents})))


if __name__ == "__main__":
    main()
