#!/usr/bin/env python3
"""corvane at a real terminal, with kestrel-unzip's terminal helpers: Ctrl-C typed
while a template runs (one that would run for ever) ends the run with
kestrel-unzip's status and line, and takes back what the run wrote (the copy; no
page) and its work folder; a file that was in the output folder before stays.

Usage: corvane_terminal_test.py CORVANE UNZIP_TESTS_FOLDER"""

import os
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, sys.argv[2])
import terminal_test as terminal  # noqa: E402  (its program is argv[1]: corvane)

# 2^60 calls: no depth limit stops it, only Ctrl-C.
FOREVER = """<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:template match="/"><html><xsl:call-template name="twice"/></html></xsl:template>
<xsl:template name="twice"><xsl:param name="n" select="60"/><xsl:if test="$n &gt; 0">
<xsl:call-template name="twice"><xsl:with-param name="n" select="$n - 1"/></xsl:call-template>
<xsl:call-template name="twice"><xsl:with-param name="n" select="$n - 1"/></xsl:call-template>
</xsl:if></xsl:template></xsl:stylesheet>"""


def main():
    with tempfile.TemporaryDirectory() as work:
        temp, out = os.path.join(work, "tmp"), os.path.join(work, "out")
        os.mkdir(temp)
        os.mkdir(out)
        os.environ["TMPDIR"] = temp
        with open(os.path.join(work, "forever.xsl"), "w") as f:
            f.write(FOREVER)
        with open(os.path.join(out, "kept.txt"), "w") as f:
            f.write("the user's")
        # A package: the run has a work folder to take back.
        with zipfile.ZipFile(os.path.join(work, "book.odt"), "w") as z:
            z.writestr("mimetype", "application/vnd.oasis.opendocument.text")
            z.writestr("content.xml", "<office:document-content xmlns:office='urn:x'>words</office:document-content>")
        process, master, slave = terminal.start(["--html", "book.odt", "forever.xsl", "out"], work)
        deadline = time.monotonic() + 20
        while not os.path.exists(os.path.join(out, "book.XML")) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5)  # well inside the transformation
        os.write(master, terminal.CTRL_C)
        screen = bytearray()
        status = terminal.finish(process, master, slave, screen)
        terminal.check("Ctrl-C while the template runs", status, screen, 80, "corvane: book.odt: interrupted", out,
                       absent=("book.XML", "book.html"))
        if not os.path.exists(os.path.join(out, "kept.txt")):
            terminal.failures.append("the file that was in the output folder before is gone")
        if os.listdir(temp):
            terminal.failures.append(f"left in TMPDIR: {os.listdir(temp)}")
    for failure in terminal.failures:
        print(failure)
    print(f"{terminal.passed} passed, {len(terminal.failures)} failed")
    return 1 if terminal.failures else 0


if __name__ == "__main__":
    sys.exit(main())
