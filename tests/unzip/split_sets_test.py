#!/usr/bin/env python3
"""Split sets and numbered volumes end to end: sets that Info-ZIP zip and 7-Zip make
here are read by kestrel-unzip as if each set were one file (extraction, --threads,
-t, -p, -Z1, standard input), and a set with a part missing, cut short, swapped or
from another set gives status 2 or more, a message naming that part's file, every
entry that lies wholly in good parts, and no file at all of an entry that needs the
bad part. corvane reads a split .docx as the whole one. The files expected are the
ones generated here; 7-Zip's `7z x` of the set and Info-ZIP unzip of the set joined
joined into one archive here (`zip -s 0` of Info-ZIP 3.0 loses data of an entry that
crosses 64 KiB parts) must give them too.

Usage: split_sets_test.py KESTREL_UNZIP CORVANE"""

import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

UNZIP, CORVANE = (os.path.abspath(a) for a in sys.argv[1:3])
ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
CROSSING = "data/crossing 300k.bin"


def run(args, cwd=None, stdin=None):
    """(status, stdout bytes, stdout and stderr as text) of a program."""
    p = subprocess.run(args, cwd=cwd, input=stdin, capture_output=True, env=ENV, timeout=120)
    return p.returncode, p.stdout, (p.stdout + p.stderr).decode("utf-8", "replace")


def words(rng, count):
    vocabulary = "harbour lantern granite keeper storm gallery brass clockwork survey window".split()
    return (" ".join(rng.choice(vocabulary) for _ in range(count)) + "\n").encode()


def make_files(root, seed, bulk=0):
    """The files of a set in the order zip is given them: small ones first (they lie in
    the first part), one that crosses several parts, then more after it."""
    rng = random.Random(seed)
    files = [("a first.txt", words(rng, 100)), ("notes.txt", words(rng, 300)), ("data/random 1.bin", rng.randbytes(20000)), ("empty.txt", b""),
             (CROSSING, rng.randbytes(300000)), ("ünïcödé/名前 файл.txt", words(rng, 20000)),
             ("tail/after.bin", rng.randbytes(30000)), ("tail/last words.txt", words(rng, 50))]
    if bulk:
        files.insert(5, ("bulk.bin", rng.randbytes(bulk)))
    for name, data in files:
        os.makedirs(os.path.dirname(os.path.join(root, name)) or root, exist_ok=True)
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "empty folder"))
    return [n for n, _ in files[:4]] + ["empty folder"] + [n for n, _ in files[4:]]


def tree(root):
    """{relative name: bytes, or None for a folder} of everything below root."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            found[os.path.relpath(os.path.join(folder, d), root)] = None
        for f in files:
            with open(os.path.join(folder, f), "rb") as h:
                found[os.path.relpath(os.path.join(folder, f), root)] = h.read()
    return found


def tree_diff(got, want):
    """'' when equal, else what differs, shortly."""
    missing = sorted(set(want) - set(got))
    extra = sorted(set(got) - set(want))
    changed = sorted(n for n in set(got) & set(want) if got[n] != want[n])
    return "; ".join("%s %s" % (w, l[:3]) for w, l in (("missing", missing), ("extra", extra), ("differ", changed))
                     if l)


def split_parts(last):
    """The files of a split set whose last part is `last`, in order (NAME.z01 ... or
    NAME.zx01 ... in the case of last's extension); numbered volumes from .001 on."""
    base, ext = os.path.splitext(last)
    if re.fullmatch(r"\.\d{3}", ext):
        return sorted(p for p in (os.path.join(os.path.dirname(last), f) for f in os.listdir(os.path.dirname(last)))
                      if re.fullmatch(re.escape(base) + r"\.\d{3}", p))
    stem = ".zx" if ext.lower() == ".zipx" else ".z"
    stem = stem.upper() if ext.isupper() else stem
    parts, n = [], 1
    while os.path.exists("%s%s%02d" % (base, stem, n)):
        parts.append("%s%s%02d" % (base, stem, n))
        n += 1
    return parts + [last]


def layout(parts, numbered):
    """Where each entry of a good set lies in its parts laid end to end:
    {name: (start, data end, end before the next record)}, the parts' spans, the
    disk on which the central directory starts, and the set as one archive: the parts
    end to end without the split signature, every record's disk 0 and offsets from
    the start. (Info-ZIP zip -s 0 loses data of entries that cross 64 KiB parts.)"""
    data = [open(p, "rb").read() for p in parts]
    starts = [sum(len(d) for d in data[:i]) for i in range(len(data))]
    joined = b"".join(data)
    whole = bytearray(joined)
    shift = 4 if joined.startswith(b"PK\x07\x08") and not numbered else 0
    at = lambda disk, offset: offset if numbered else starts[disk] + offset
    end = joined.rfind(b"PK\x05\x06")
    _, cd_disk, _, count, _, cd_offset = struct.unpack_from("<HHHHLL", joined, end + 4)
    locator = joined.rfind(b"PK\x06\x07", 0, end)
    if locator >= 0 and locator + 20 == end:
        z64_disk, z64_offset = struct.unpack_from("<LQ", joined, locator + 4)
        record = at(z64_disk, z64_offset)
        cd_disk, _, count, _, cd_offset = struct.unpack_from("<LQQQQ", joined, record + 20)
        struct.pack_into("<LLQ", whole, record + 16, 0, 0, count)
        struct.pack_into("<Q", whole, record + 48, at(cd_disk, cd_offset) - shift)
        struct.pack_into("<LQL", whole, locator + 4, 0, record - shift, 1)
    struct.pack_into("<HH", whole, end + 4, 0, 0)
    struct.pack_into("<H", whole, end + 8, min(count, 0xFFFF))
    if struct.unpack_from("<L", whole, end + 16)[0] != 0xFFFFFFFF:
        struct.pack_into("<L", whole, end + 16, at(cd_disk, cd_offset) - shift)
    entries, p = [], at(cd_disk, cd_offset)
    for _ in range(count):
        csize, usize, nlen, xlen, clen, disk, offset = struct.unpack_from("<LLHHHH6xL", joined, p + 20)
        name = joined[p + 46:p + 46 + nlen].decode("utf-8", "replace").rstrip("/")
        extra = joined[p + 46 + nlen:p + 46 + nlen + xlen]
        while len(extra) >= 4:
            tag, size = struct.unpack_from("<HH", extra)
            if tag == 1:  # the ZIP64 fields, in their order, of those that are full
                fields, q = [usize, csize, offset, disk], 4
                for i, (full, width) in enumerate(((0xFFFFFFFF, 8), (0xFFFFFFFF, 8), (0xFFFFFFFF, 8), (0xFFFF, 4))):
                    if fields[i] == full:
                        fields[i] = int.from_bytes(extra[q:q + width], "little")
                        q += width
                usize, csize, offset, disk = fields
            extra = extra[4 + size:]
        start = at(disk, offset)
        assert struct.unpack_from("<H", joined, p + 34)[0] != 0xFFFF and struct.unpack_from("<L", joined, p + 42)[0] \
            != 0xFFFFFFFF, "a disk or offset in a ZIP64 field"
        struct.pack_into("<H", whole, p + 34, 0)
        struct.pack_into("<L", whole, p + 42, start - shift)
        lnlen, lxlen = struct.unpack_from("<HH", joined, start + 26)
        entries.append((start, name, start + 30 + lnlen + lxlen + csize))
        p += 46 + nlen + xlen + clen
    entries.sort()
    cd_start = at(cd_disk, cd_offset)
    bounds = [e[0] for e in entries[1:]] + [cd_start]
    spans = [(starts[i], starts[i] + len(d)) for i, d in enumerate(data)]
    return {n: (s, d, b) for (s, n, d), b in zip(entries, bounds)}, spans, cd_disk, bytes(whole[shift:])


class Fixture:
    """The sets, made once, each in its own folder, with its good layout and expected tree."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.sets = {}

    def add(self, key, folder, last, numbered, expected, oracles):
        parts = split_parts(last)
        self.sets[key] = dict(folder=folder, last=last, parts=parts, numbered=numbered, expected=expected,
                              layout=layout(parts, numbered), oracles=oracles)


def make_sets(scratch):
    fx = Fixture(scratch)
    sources = {}
    for key, seed, bulk in (("a", 1, 0), ("b", 2, 0), ("h", 3, 6700000)):
        src = os.path.join(scratch, "src-" + key)
        sources[key] = (src, make_files(src, seed, bulk))
    for key, src_key, options, name in (("deflated", "a", [], "set.zip"), ("stored", "a", ["-0"], "set.zip"),
                                        ("zip64", "a", ["-fz"], "set.zip"), ("other", "b", [], "set.zip"),
                                        ("hundred", "h", ["-0"], "set.zip"), ("upper", "a", [], "UP.ZIP"),
                                        ("winzip", "a", [], "win.zip"), ("many", None, [], "cd.zip")):
        folder = os.path.join(scratch, key)
        os.makedirs(folder)
        if src_key:
            src, names = sources[src_key]
        else:  # 1200 small entries: the central directory takes several parts
            src = os.path.join(scratch, "src-many")
            os.makedirs(src)
            names = []
            for i in range(1200):
                names.append("entry_%04d_%s.txt" % (i, "x" * 60))
                with open(os.path.join(src, names[-1]), "w") as f:
                    f.write("value %d\n" % i)
        last = os.path.join(folder, name)
        status, _, text = run(["zip", "-q", "-s", "64k"] + options + [last] + names, cwd=src)
        assert status == 0, text
        parts = sorted((f for f in os.listdir(folder) if f != name), key=lambda f: int(f[-3:].strip("zZx")))
        if key == "upper":  # Info-ZIP names the parts of UP.ZIP in lower case (UP.z01)
            for f in parts:
                os.rename(os.path.join(folder, f), os.path.join(folder, f.upper()))
        if key == "winzip":
            for i, f in enumerate(parts):
                os.rename(os.path.join(folder, f), os.path.join(folder, "win.zx%02d" % (i + 1)))
            os.rename(last, os.path.join(folder, "win.zipx"))
            last = os.path.join(folder, "win.zipx")
        # The renamed sets have the same files as the deflated one, which is checked.
        oracles = () if key in ("upper", "winzip", "many") else ("7z", "unzip")
        fx.add(key, folder, last, False, tree(src), oracles)
    folder = os.path.join(scratch, "volumes")
    os.makedirs(folder)
    src, names = sources["a"]
    status, _, text = run(["7z", "a", "-tzip", "-v100k", os.path.join(folder, "x.zip")] + names, cwd=src)
    assert status == 0, text
    fx.add("volumes", folder, os.path.join(folder, "x.zip.001"), True, tree(src), ("7z", "unzip"))
    return fx


def check_oracles(fx, key):
    """'' when 7-Zip and Info-ZIP unzip give the files generated for the set."""
    s = fx.sets[key]
    problems = []
    for oracle in s["oracles"]:
        out = tempfile.mkdtemp(dir=fx.scratch, prefix="oracle-")
        if oracle == "7z":
            status, _, text = run(["7z", "x", "-y", "-o" + out, s["last"]])
        else:
            whole = out + ".whole.zip"
            with open(whole, "wb") as f:
                f.write(s["layout"][3])
            status, _, text = run(["unzip", "-q", whole, "-d", out])
        diff = tree_diff(tree(out), s["expected"])
        if status != 0 or diff:
            problems.append("%s oracle: status %d %s %s" % (oracle, status, diff, text[-200:]))
    return "; ".join(problems)


def good_row(fx, key, given):
    s = fx.sets[key]
    archive = os.path.join(s["folder"], given) if given else s["last"]
    problems = [check_oracles(fx, key)] if s["oracles"] else []
    whole = tempfile.mkdtemp(dir=fx.scratch, prefix="whole-") + "/whole.zip"
    with open(whole, "wb") as f:
        f.write(s["layout"][3])
    names_wanted = sorted(n.rstrip("/") for n in run(["unzip", "-Z1", whole])[1].decode().splitlines())
    for extra in ([], ["--threads", "4"]):
        out = tempfile.mkdtemp(dir=fx.scratch, prefix="out-")
        status, _, text = run([UNZIP, "-q"] + extra + [archive, "-d", out])
        diff = tree_diff(tree(out), s["expected"])
        if status != 0 or diff:
            problems.append("extract %s: status %d %s %s" % (" ".join(extra), status, diff, text[-300:]))
    status, _, text = run([UNZIP, "-t", archive])
    if status != 0:
        problems.append("-t: status %d %s" % (status, text[-300:]))
    crossing = "bulk.bin" if "bulk.bin" in s["expected"] else CROSSING
    status, data, text = run([UNZIP, "-p", archive, crossing])
    if status != 0 or data != s["expected"][crossing]:
        problems.append("-p %s: status %d, %d bytes" % (crossing, status, len(data)))
    status, data, text = run([UNZIP, "-Z1", archive])
    listed = sorted(line.rstrip("/") for line in data.decode("utf-8", "replace").splitlines())
    if status != 0 or listed != names_wanted:
        problems.append("-Z1: status %d, %s" % (status, sorted(set(listed) ^ set(names_wanted))[:4]))
    status, data, text = run([UNZIP, "-l", archive])
    if status != 0 or crossing not in text:
        problems.append("-l: status %d" % status)
    return [p for p in problems if p]


def damage(fx, key, how):
    """A copy of the set with one fault: the copy's folder, and the joined byte ranges
    (of the good set) that are bad, and the files a message may name."""
    s = fx.sets[key]
    folder = tempfile.mkdtemp(dir=fx.scratch, prefix="bad-%s-" % key)
    for p in s["parts"]:
        shutil.copy(p, folder)
    spans = s["layout"][1]
    kind, index = how[0], how[1]
    part = os.path.join(folder, os.path.basename(s["parts"][index]))
    begin, end = spans[index]
    if kind == "missing":
        os.remove(part)
        return folder, [(begin, end)], [part]
    if kind == "cut":
        keep = (end - begin) // 2
        os.truncate(part, keep)
        return folder, [(begin + keep, end)], [part]
    if kind == "swap":
        other = os.path.join(folder, os.path.basename(s["parts"][how[2]]))
        os.rename(part, part + ".tmp")
        os.rename(other, part)
        os.rename(part + ".tmp", other)
        return folder, [spans[index], spans[how[2]]], [part, other]
    if kind == "foreign":
        shutil.copy(fx.sets[how[2]]["parts"][index], part)
        return folder, [(begin, end)], [part]
    raise ValueError(kind)


def fault_row(fx, key, how, given=None, options=(), expect_none=False):
    s = fx.sets[key]
    folder, bad, named = damage(fx, key, how)
    archive = os.path.join(folder, given or os.path.basename(s["last"]))
    before = sorted((f, os.path.getsize(os.path.join(folder, f))) for f in os.listdir(folder))
    work = tempfile.mkdtemp(dir=fx.scratch, prefix="work-")
    status, _, text = run([UNZIP] + list(options) + [archive, "-d", "out"], cwd=work)
    problems = []
    if status < 2:
        problems.append("status %d" % status)
    if not any(os.path.basename(n) in text for n in named):
        problems.append("no message names %s: %s" % (" or ".join(os.path.basename(n) for n in named),
                                                       text.strip()[-300:]))
    if set(os.listdir(work)) - {"out"}:
        problems.append("written beside the destination: %s" % os.listdir(work))
    after = sorted((f, os.path.getsize(os.path.join(folder, f))) for f in os.listdir(folder))
    if after != before:
        problems.append("the set's folder changed")
    got = tree(os.path.join(work, "out"))
    touches = lambda b, e: any(b < be and bb < e for bb, be in bad)
    for name, (start, data_end, record_end) in s["layout"][0].items():
        if s["expected"].get(name, b"") is None:
            continue  # folders are made for the files in them too
        if name in got and got[name] != s["expected"][name]:
            problems.append("%s differs (%d bytes)" % (name, len(got[name])))
        elif name in got and (expect_none or touches(start, data_end)):
            problems.append("%s written though it needs the bad part" % name)
        elif name not in got and not expect_none and not touches(start, record_end):
            problems.append("%s missing though its part is there" % name)
    return problems


def pipe_row(fx, key):
    """The parts one after the other on standard input: numbered volumes are one
    archive and come out whole; a split set's parts are refused, and nothing is written."""
    s = fx.sets[key]
    joined = b"".join(open(p, "rb").read() for p in s["parts"])
    work = tempfile.mkdtemp(dir=fx.scratch, prefix="pipe-")
    status, _, text = run([UNZIP, "-", "-d", "out"], cwd=work, stdin=joined)
    if s["numbered"]:
        diff = tree_diff(tree(os.path.join(work, "out")), s["expected"])
        return ["status %d %s %s" % (status, diff, text[-300:])] if status != 0 or diff else []
    problems = ["status %d" % status] if status < 2 else []
    if not re.search(r"split|part|pipe|volume|disk", text, re.I):
        problems.append("no word of a split set: %s" % text.strip()[-300:])
    written = [os.path.join(f, n) for f, _, names in os.walk(work) for n in names]
    if written:
        problems.append("wrote %s" % written[:3])
    return problems


def corvane_row(fx):
    """A .docx split by zip -s 64k (NAME.z01 ... beside NAME.docx) reads as the whole one."""
    base = os.path.join(fx.scratch, "docx")
    os.makedirs(os.path.join(base, "whole"))
    os.makedirs(os.path.join(base, "split"))
    word = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"
    parts = {"[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.'
             'org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-'
             'package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Default Extension='
             '"bin" ContentType="application/octet-stream"/><Override PartName="/word/document.xml" ContentType="'
             'application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>',
             "_rels/.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.'
             'org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/'
             'officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>',
             "word/document.xml": '<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="%s"><w:body>%s</w:body>'
             '</w:document>' % (word, "".join("<w:p><w:r><w:t>Paragraph %d of the harbour report</w:t></w:r></w:p>" %
                                              i for i in range(400)))}
    whole = os.path.join(base, "whole", "report.docx")
    with zipfile.ZipFile(whole, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text)
        z.writestr("word/media/big.bin", random.Random(9).randbytes(200000), zipfile.ZIP_STORED)
    staged = os.path.join(base, "staged")
    with zipfile.ZipFile(whole) as z:
        z.extractall(staged)
    # zip -s wants a .zip; the last part is renamed to .docx, its parts keep report.z01.
    run(["zip", "-q", "-s", "64k", "-r", os.path.join(base, "split", "report.zip"), "."], cwd=staged)
    os.rename(os.path.join(base, "split", "report.zip"), os.path.join(base, "split", "report.docx"))
    if not os.path.exists(os.path.join(base, "split", "report.z02")):
        return ["the split docx has fewer than 3 parts"]
    xsl = os.path.join(base, "view.xsl")
    with open(xsl, "w") as f:
        f.write('<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"/>\n')
    got = {}
    for kind in ("whole", "split"):
        status, _, text = run([CORVANE, os.path.join(base, kind, "report.docx"), xsl, os.path.join(base, "out-" + kind)])
        page = os.path.join(base, "out-" + kind, "report.XML")
        if status != 0 or not os.path.exists(page):
            return ["%s: status %d %s" % (kind, status, text.strip()[-300:])]
        got[kind] = open(page, "rb").read()
    return [] if got["whole"] == got["split"] and b"Paragraph 399" in got["whole"] else ["report.XML differs"]


def main():
    started = time.monotonic()
    scratch = tempfile.mkdtemp(prefix="split-sets-")
    failures = 0
    try:
        fx = make_sets(scratch)
        deflated = fx.sets["deflated"]["parts"]
        # Info-ZIP fills parts whole but keeps a local header on one part: swap two parts of one size.
        swap = next(i for i in range(len(deflated) - 2)
                    if os.path.getsize(deflated[i]) == os.path.getsize(deflated[i + 1]))
        many = fx.sets["many"]
        rows = [("good: %s%s" % (k, ", given " + g if g else ""), lambda k=k, g=g: good_row(fx, k, g)) for k, g in
                (("deflated", None), ("stored", None), ("zip64", None), ("hundred", None), ("upper", None),
                 ("winzip", None), ("volumes", None), ("volumes", "x.zip.002"), ("deflated", "set.z02"))]
        rows += [("fault: %s" % name, lambda a=a, kw=kw: fault_row(fx, *a, **kw)) for name, a, kw in (
            ("set.z02 missing", ("deflated", ("missing", 1)), {}),
            ("set.z02 missing, --threads 4", ("deflated", ("missing", 1)), {"options": ["--threads", "4"]}),
            ("set.z02 cut to half", ("deflated", ("cut", 1)), {}),
            ("stored set.z03 cut to half", ("stored", ("cut", 2)), {}),
            ("parts %d and %d swapped" % (swap + 1, swap + 2), ("deflated", ("swap", swap, swap + 1)), {}),
            ("set.z02 of another set", ("deflated", ("foreign", 1, "other")), {}),
            ("UP.Z02 missing", ("upper", ("missing", 1)), {}),
            ("win.zx02 missing", ("winzip", ("missing", 1)), {}),
            ("hundred: set.z100 missing", ("hundred", ("missing", 99)), {}),
            ("x.zip.002 missing, given .001", ("volumes", ("missing", 1)), {"given": "x.zip.001"}),
            ("x.zip.002 missing, given the last", ("volumes", ("missing", 1)),
             {"given": os.path.basename(fx.sets["volumes"]["parts"][-1])}),
            ("the last volume missing, given .001", ("volumes", ("missing", len(fx.sets["volumes"]["parts"]) - 1)),
             {"given": "x.zip.001"}))]
        if many["layout"][2] < len(many["parts"]) - 1:
            rows.append(("fault: the central directory's first part (cd.z%02d) missing" % (many["layout"][2] + 1),
                         lambda: fault_row(fx, "many", ("missing", many["layout"][2]), expect_none=True)))
        else:
            print("fault: central directory's part missing: SKIP (the directory lies wholly in the last part)")
        rows += [("pipe: cat x.zip.0* | kestrel-unzip -", lambda: pipe_row(fx, "volumes")),
                 ("pipe: cat set.z01 ... set.zip | kestrel-unzip - refused", lambda: pipe_row(fx, "deflated"))]
        rows.append(("corvane: split report.docx reads as the whole", lambda: corvane_row(fx)))
        for name, check in rows:
            try:
                problems = check()
            except Exception as error:  # a row that breaks is a failure of that row alone
                problems = ["%s: %s" % (type(error).__name__, error)]
            failures += bool(problems)
            print("%-58s %s %s" % (name, "FAIL" if problems else "PASS", "; ".join(problems).replace("\n", " | ")[:600]),
                  flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d rows failed, %.1f s" % (failures, time.monotonic() - started))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
