<?xml version="1.0" encoding="UTF-8"?>
<!-- An Excel workbook (.xlsx) as an HTML page, read from the whole package in its Flat OPC
     form (as the flat option of corvane gives it): every sheet in the workbook's order
     under its name, as a table of its rows with each cell in its column (the gaps of a
     sparse row left empty), the text of a cell by its type (shared strings, inline
     strings, formula results, booleans, errors, numbers as stored), then the pictures and
     text boxes of the sheet's drawing (written beside the page under the root's xml:base).
     Dates and times are shown as dates and times (2020-01-04, 14:30:00) when the style of a
     number has a date or time format; other number formats are not rendered, nor charts and
     merged cells. Given a bare worksheet, it
     shows its cells without the shared strings and says so at the top.
     A formula is shown in small print below its result. The package and its relationships
     are read by local names and by the last step of a relationship's type; sheets and cells are
     read in the Transitional namespace and in the Strict one alike. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:pkg="http://schemas.microsoft.com/office/2006/xmlPackage"
    xmlns:rel="http://schemas.openxmlformats.org/package/2006/relationships"
    xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    xmlns:xs="http://purl.oclc.org/ooxml/spreadsheetml/main"
    xmlns:sa="http://purl.oclc.org/ooxml/drawingml/main"
    xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"
    xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing"
    xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:exsl="http://exslt.org/common"
    exclude-result-prefixes="pkg rel x xs sa r a xdr mc dc exsl">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:key name="part" match="pkg:part" use="@pkg:name"/>
  <xsl:key name="rels" match="pkg:part[contains(@pkg:name, '_rels/')]"
      use="concat(substring-before(@pkg:name, '_rels/'),
                  substring-before(substring-after(@pkg:name, '_rels/'), '.rels'))"/>
  <!-- A relationship by the name of its relationships part and its id. -->
  <xsl:key name="rel" match="rel:Relationship" use="concat(ancestor::pkg:part/@pkg:name, '|', @Id)"/>

  <!-- A shared string by its place in the table (from 0). Where the processor turns a tree
       built here into nodes (libxslt, Chromium and Firefox do), the strings are numbered once
       in document order, each string's text in an s element of its own, and a cell finds its
       string by its number there: time in proportion to the strings. Elsewhere a key counts
       the strings before each string, which takes time in proportion to their square (the
       processor may build every key of a document at its first look-up, so this one holds no
       string where it is not needed); looking a place up in the list at each cell instead
       would take time in proportion to cells times strings. -->
  <xsl:key name="si" match="x:sst/x:si[not(function-available('exsl:node-set'))]
      | xs:sst/xs:si[not(function-available('exsl:node-set'))]" use="count(preceding-sibling::*)"/>
  <xsl:variable name="nodeSets" select="function-available('exsl:node-set')"/>
  <xsl:key name="string" match="s" use="@n"/>
  <xsl:variable name="stringTable">
    <xsl:if test="$nodeSets">
      <xsl:for-each select="/x:sst | /xs:sst | /pkg:package/pkg:part/pkg:xmlData/*[self::x:sst or self::xs:sst]">
        <xsl:for-each select="x:si | xs:si">
          <s n="{position() - 1}">
            <xsl:for-each select="x:t | x:r/x:t | xs:t | xs:r/xs:t"><xsl:value-of select="."/></xsl:for-each>
          </s>
        </xsl:for-each>
      </xsl:for-each>
    </xsl:if>
  </xsl:variable>

  <xsl:variable name="files" select="/*/@xml:base"/>
  <xsl:variable name="letters" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>

  <xsl:variable name="bookName">
    <xsl:call-template name="related">
      <xsl:with-param name="from" select="'/'"/>
      <xsl:with-param name="type" select="'/officeDocument'"/>
    </xsl:call-template>
  </xsl:variable>
  <xsl:variable name="book" select="(key('part', $bookName)/pkg:xmlData/*[local-name() = 'workbook']
      | /pkg:package/pkg:part/pkg:xmlData/x:workbook)[1]"/>

  <!-- Dates. A date is a number of days (its fraction the time of day) from serial 0: 1899-12-30,
       or 1904-01-01 in a workbook of the 1904 date system. The calendar counts days from
       1600-03-01, the day after a leap day that starts a 400-year cycle; serial 0 of each system is
       that many days after it. -->
  <xsl:variable name="date1904" select="$book/*[local-name() = 'workbookPr']/@date1904 = '1'
      or $book/*[local-name() = 'workbookPr']/@date1904 = 'true'"/>
  <xsl:variable name="epoch" select="109511 + 1462 * number($date1904)"/>
  <xsl:key name="numFmt" match="x:numFmts/x:numFmt | xs:numFmts/xs:numFmt" use="@numFmtId"/>
  <xsl:variable name="stylesName">
    <xsl:call-template name="related">
      <xsl:with-param name="from" select="$book/ancestor::pkg:part/@pkg:name"/>
      <xsl:with-param name="type" select="'/styles'"/>
    </xsl:call-template>
  </xsl:variable>
  <!-- The cell styles (xf, numbered from 0 as a cell's s attribute counts them) whose number
       format shows a date or time, each once as <k n="STYLE"> STYLE=KIND</k>, KIND as the
       template date-kind says. A cell finds its style's kind by key where nodes can be made of
       this, else in its text; a workbook without date styles leaves it empty. -->
  <xsl:variable name="dateStyles">
    <xsl:for-each select="key('part', $stylesName)/pkg:xmlData/*/*[local-name() = 'cellXfs']
        /*[local-name() = 'xf']">
      <xsl:variable name="kind">
        <xsl:call-template name="date-kind">
          <xsl:with-param name="id" select="normalize-space(@numFmtId)"/>
        </xsl:call-template>
      </xsl:variable>
      <xsl:if test="$kind != ''">
        <k n="{position() - 1}"><xsl:value-of select="concat(' ', position() - 1, '=', $kind)"/></k>
      </xsl:if>
    </xsl:for-each>
  </xsl:variable>
  <xsl:variable name="dateList" select="concat(string($dateStyles), ' ')"/>
  <xsl:key name="dateStyle" match="k" use="@n"/>

  <xsl:template match="/">
    <xsl:variable name="coreName">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="'/'"/>
        <xsl:with-param name="type" select="'/core-properties'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="title" select="normalize-space(key('part', $coreName)/pkg:xmlData/*/dc:title)"/>
    <html>
      <head>
        <title>
          <xsl:choose>
            <xsl:when test="$title != ''"><xsl:value-of select="$title"/></xsl:when>
            <xsl:otherwise>Workbook</xsl:otherwise>
          </xsl:choose>
        </title>
        <style>
          body { margin: 1em; font-family: sans-serif; font-size: 14px; color: #222 }
          h1 { font-size: 1.5em } h2 { font-size: 1.2em; margin: 1.5em 0 0.4em; border-bottom: 2px solid #7a9; padding-bottom: 0.1em }
          .scroll { overflow-x: auto; max-width: 100% }
          table { border-collapse: collapse }
          td, th { border: 1px solid #bbb; padding: 0.15em 0.45em; vertical-align: top; white-space: pre-wrap }
          th { background: #eee; color: #666; font-weight: normal; text-align: right }
          td.n { text-align: right }
          td.e { color: #a22 }
          .f { color: #999; font-size: 75%; text-align: left }
          img { max-width: 100%; height: auto; margin: 0.5em 0.5em 0 0 }
          .hidden { color: #888; font-weight: normal; font-size: 80% }
          .shape { border: 1px dashed #aaa; padding: 0.3em 0.6em; margin: 0.5em 0 }
          .flat-note { background: #ffd; border: 1px solid #cc9; padding: 0.4em 0.8em }
        </style>
      </head>
      <body>
        <xsl:if test="$title != ''"><h1><xsl:value-of select="$title"/></h1></xsl:if>
        <xsl:choose>
          <xsl:when test="$book">
            <xsl:apply-templates select="$book/*[local-name() = 'sheets']/*[local-name() = 'sheet']"/>
          </xsl:when>
          <xsl:otherwise>
            <p class="flat-note">This template reads the whole package: run corvane with --flat</p>
            <xsl:apply-templates select="(/x:worksheet | /pkg:package/pkg:part/pkg:xmlData/x:worksheet)/x:sheetData
                | /x:workbook/x:sheets/x:sheet"/>
          </xsl:otherwise>
        </xsl:choose>
      </body>
    </html>
  </xsl:template>

  <!-- A sheet of the workbook: its name, its cells, its drawing. -->
  <xsl:template match="x:sheet | xs:sheet">
    <xsl:variable name="name">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="$book/ancestor::pkg:part/@pkg:name"/>
        <xsl:with-param name="id" select="@*[local-name() = 'id']"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="sheet" select="key('part', $name)/pkg:xmlData/*"/>
    <h2>
      <xsl:value-of select="@name"/>
      <xsl:if test="@state = 'hidden' or @state = 'veryHidden'"><span class="hidden"> (hidden)</span></xsl:if>
    </h2>
    <xsl:apply-templates select="$sheet/*[local-name() = 'sheetData']"/>
    <xsl:for-each select="$sheet/*[local-name() = 'drawing']">
      <xsl:variable name="drawingName">
        <xsl:call-template name="related">
          <xsl:with-param name="from" select="$name"/>
          <xsl:with-param name="id" select="@*[local-name() = 'id']"/>
        </xsl:call-template>
      </xsl:variable>
      <xsl:apply-templates select="key('part', $drawingName)/pkg:xmlData/*/*" mode="drawing"/>
    </xsl:for-each>
  </xsl:template>

  <!-- The rows with cells; each is filled up to the last column of the sheet's dimension,
       unless that claims more columns than a reader would scroll through. -->
  <xsl:template match="x:sheetData | xs:sheetData">
    <xsl:variable name="dimension" select="normalize-space(../*[local-name() = 'dimension']/@ref)"/>
    <xsl:variable name="last">
      <xsl:call-template name="column">
        <xsl:with-param name="ref" select="concat(substring-after($dimension, ':'),
            substring($dimension, 1, number(not(contains($dimension, ':'))) * string-length($dimension)))"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:if test="x:row/x:c | xs:row/xs:c">
      <div class="scroll"><table>
        <xsl:apply-templates select="x:row | xs:row">
          <xsl:with-param name="width" select="$last * number($last &lt;= 256)"/>
        </xsl:apply-templates>
      </table></div>
    </xsl:if>
  </xsl:template>

  <!-- A row with cells (a row without a number is numbered by its place among the rows). -->
  <xsl:template match="x:row | xs:row">
    <xsl:param name="width" select="0"/>
    <xsl:if test="x:c | xs:c">
      <tr>
        <th>
          <xsl:choose>
            <xsl:when test="@r"><xsl:value-of select="@r"/></xsl:when>
            <xsl:otherwise><xsl:value-of select="position()"/></xsl:otherwise>
          </xsl:choose>
        </th>
        <xsl:apply-templates select="x:c | xs:c"/>
        <xsl:variable name="end">
          <xsl:for-each select="*[last()]"><xsl:call-template name="column"/></xsl:for-each>
        </xsl:variable>
        <xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$width - $end"/></xsl:call-template>
      </tr>
    </xsl:if>
  </xsl:template>

  <!-- A cell in its column: the columns between it and the cell before are left empty. -->
  <xsl:template match="x:c | xs:c">
    <xsl:variable name="v" select="x:v | xs:v"/>
    <xsl:variable name="f" select="x:f | xs:f"/>
    <xsl:variable name="place" select="position()"/>
    <xsl:variable name="column">
      <xsl:call-template name="column"><xsl:with-param name="place" select="$place"/></xsl:call-template>
    </xsl:variable>
    <xsl:variable name="before">
      <xsl:choose>
        <xsl:when test="$place &gt; 1">
          <xsl:for-each select="preceding-sibling::*[1]">
            <xsl:call-template name="column"><xsl:with-param name="place" select="$place - 1"/></xsl:call-template>
          </xsl:for-each>
        </xsl:when>
        <xsl:otherwise>0</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:call-template name="empty-cells">
      <xsl:with-param name="count" select="$column - $before - 1"/>
    </xsl:call-template>
    <td>
      <xsl:choose>
        <xsl:when test="@t = 'e'"><xsl:attribute name="class">e</xsl:attribute></xsl:when>
        <xsl:when test="(not(@t) or @t = 'n') and $v"><xsl:attribute name="class">n</xsl:attribute></xsl:when>
      </xsl:choose>
      <xsl:choose>
        <xsl:when test="@t = 's' and $nodeSets">
          <xsl:variable name="n" select="string(number($v))"/>
          <xsl:for-each select="exsl:node-set($stringTable)">
            <xsl:for-each select="key('string', $n)"><xsl:value-of select="."/></xsl:for-each>
          </xsl:for-each>
        </xsl:when>
        <xsl:when test="@t = 's'">
          <xsl:for-each select="key('si', number($v))">
            <xsl:for-each select="x:t | x:r/x:t | xs:t | xs:r/xs:t"><xsl:value-of select="."/></xsl:for-each>
          </xsl:for-each>
        </xsl:when>
        <xsl:when test="@t = 'inlineStr'">
          <xsl:for-each select="*/x:t | */x:r/x:t | */xs:t | */xs:r/xs:t"><xsl:value-of select="."/></xsl:for-each>
        </xsl:when>
        <xsl:when test="@t = 'b'">
          <xsl:choose>
            <xsl:when test="$v = '1' or $v = 'true'">TRUE</xsl:when>
            <xsl:when test="$v">FALSE</xsl:when>
          </xsl:choose>
        </xsl:when>
        <xsl:when test="(not(@t) or @t = 'n') and @s and $dateList != ' ' and number($v) &gt;= 0 and number($v) &lt; 2958466">
          <xsl:variable name="s" select="string(number(@s))"/>
          <xsl:variable name="entry">
            <xsl:choose>
              <xsl:when test="$nodeSets">
                <xsl:for-each select="exsl:node-set($dateStyles)">
                  <xsl:value-of select="substring-after(key('dateStyle', $s), '=')"/>
                </xsl:for-each>
              </xsl:when>
              <xsl:otherwise>
                <xsl:value-of select="substring-before(substring-after($dateList, concat(' ', $s, '=')), ' ')"/>
              </xsl:otherwise>
            </xsl:choose>
          </xsl:variable>
          <xsl:call-template name="date">
            <xsl:with-param name="serial" select="number($v)"/>
            <xsl:with-param name="stored" select="string($v)"/>
            <xsl:with-param name="kind" select="string($entry)"/>
          </xsl:call-template>
        </xsl:when>
        <xsl:otherwise><xsl:value-of select="$v"/></xsl:otherwise>
      </xsl:choose>
      <xsl:if test="normalize-space($f) != ''">
        <div class="f"><xsl:value-of select="concat('=', $f)"/></div>
      </xsl:if>
    </td>
  </xsl:template>

  <!-- The column number of a cell reference ("C7" is 3, "AB1" is 28); without one, the
       current cell's place in its row (given by a caller that knows it, counted if not). -->
  <xsl:template name="column">
    <xsl:param name="ref" select="@r"/>
    <xsl:param name="place" select="count(preceding-sibling::*) + 1"/>
    <xsl:variable name="cleaned" select="translate($ref, concat('0123456789$', $lower), concat('           ', $upper))"/>
    <xsl:variable name="l" select="translate(normalize-space($cleaned), ' ', '')"/>
    <xsl:choose>
      <xsl:when test="string-length($l) &gt; 0 and string-length($l) &lt; 4 and translate($l, $letters, '') = ''">
        <xsl:variable name="n" select="string-length($l)"/>
        <xsl:variable name="c1" select="string-length(substring-before($letters, substring($l, $n, 1))) + 1"/>
        <xsl:variable name="c2" select="(string-length(substring-before($letters, substring($l, $n - 1, 1))) + 1)
            * number($n &gt; 1)"/>
        <xsl:variable name="c3" select="(string-length(substring-before($letters, substring($l, $n - 2, 1))) + 1)
            * number($n &gt; 2)"/>
        <xsl:value-of select="$c1 + 26 * $c2 + 676 * $c3"/>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$place"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- count empty cells: one by one for a few, as one wide cell for many. -->
  <xsl:template name="empty-cells">
    <xsl:param name="count"/>
    <xsl:choose>
      <xsl:when test="$count &gt; 24"><td colspan="{$count}"></td></xsl:when>
      <xsl:when test="$count &gt; 0">
        <td></td>
        <xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$count - 1"/></xsl:call-template>
      </xsl:when>
    </xsl:choose>
  </xsl:template>

  <!-- Dates and times -->

  <!-- What the number format numbered id shows of a number: d a date (with the time of day when
       the number has one), t the time of day alone, h a time whose hours run past a day
       ([h]:mm:ss), nothing for a number. The workbook's own formats come first, then the
       formats built into the reader: 14-17 and 22 dates, 18-21 and 45-47 times, 27-36 and 50-58
       the dates (32 and 33 times) of East Asian locales. -->
  <xsl:template name="date-kind">
    <xsl:param name="id"/>
    <xsl:variable name="own" select="key('numFmt', $id)"/>
    <xsl:choose>
      <xsl:when test="$own">
        <xsl:variable name="letters">
          <xsl:call-template name="format-letters">
            <xsl:with-param name="code" select="string($own[1]/@formatCode)"/>
          </xsl:call-template>
        </xsl:variable>
        <xsl:choose>
          <xsl:when test="contains($letters, 'y') or contains($letters, 'd') or contains($letters, 'm')
              and not(contains($letters, 'h') or contains($letters, 's'))">d</xsl:when>
          <xsl:when test="contains($letters, 'e')">h</xsl:when>
          <xsl:when test="contains($letters, 'h') or contains($letters, 's')">t</xsl:when>
        </xsl:choose>
      </xsl:when>
      <xsl:when test="$id &gt;= 14 and $id &lt;= 17 or $id = 22 or $id &gt;= 27 and $id &lt;= 31
          or $id &gt;= 34 and $id &lt;= 36 or $id &gt;= 50 and $id &lt;= 58">d</xsl:when>
      <xsl:when test="$id &gt;= 18 and $id &lt;= 21 or $id = 32 or $id = 33 or $id = 45 or $id = 47">t</xsl:when>
      <xsl:when test="$id = 46">h</xsl:when>
    </xsl:choose>
  </xsl:template>

  <!-- The letters of a format code that stand for parts of a date or time (y m d h s, lower
       case), leaving out quoted text, [..] brackets (colours, conditions, locales) and the
       character after \, _ and *; an elapsed-time bracket ([h], [mm], [ss]) gives e and its
       letter. "General" and number formats give nothing. -->
  <xsl:template name="format-letters">
    <xsl:param name="code"/>
    <xsl:variable name="c" select="substring($code, 1, 1)"/>
    <xsl:variable name="rest">
      <xsl:choose>
        <xsl:when test="$c = '&quot;'"><xsl:value-of select="substring-after(substring($code, 2), '&quot;')"/></xsl:when>
        <xsl:when test="$c = '['"><xsl:value-of select="substring-after($code, ']')"/></xsl:when>
        <xsl:when test="$c = '\' or $c = '_' or $c = '*'"><xsl:value-of select="substring($code, 3)"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="substring($code, 2)"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="inside" select="translate(substring-before(substring($code, 2), ']'), 'HMS', 'hms')"/>
    <xsl:variable name="l" select="translate($c, 'YMDHS', 'ymdhs')"/>
    <xsl:choose>
      <xsl:when test="$c = '['">
        <xsl:if test="$inside != '' and translate($inside, 'hms', '') = ''">
          <xsl:value-of select="concat('e', substring($inside, 1, 1))"/>
        </xsl:if>
      </xsl:when>
      <xsl:when test="$l != '' and contains('ymdhs', $l)"><xsl:value-of select="$l"/></xsl:when>
    </xsl:choose>
    <xsl:if test="$rest != ''">
      <xsl:call-template name="format-letters"><xsl:with-param name="code" select="$rest"/></xsl:call-template>
    </xsl:if>
  </xsl:template>

  <!-- A serial date as a reader writes it, rounded to the second: 2020-01-04 for a whole day,
       with the time of day after it (2020-01-04 14:30, 14:30:15) when it has one; 14:30:15 for
       kind t; 36:00:00 for kind h. The 1900 date system counts a 29 February 1900 that was
       not (serial 60), so the days before it are one day later here than their count from
       1899-12-30, and serial 0 is written 1900-01-00 as the reader shows it. -->
  <xsl:template name="date">
    <xsl:param name="serial"/>
    <xsl:param name="kind"/>
    <xsl:param name="stored"/>
    <xsl:variable name="seconds" select="round($serial * 86400)"/>
    <xsl:variable name="clock" select="concat(format-number(floor($seconds mod 86400 div 3600), '00'), ':',
        format-number(floor($seconds mod 3600 div 60), '00'))"/>
    <xsl:variable name="second" select="format-number($seconds mod 60, '00')"/>
    <xsl:choose>
      <xsl:when test="$kind = 't'"><xsl:value-of select="concat($clock, ':', $second)"/></xsl:when>
      <xsl:when test="$kind = 'h'">
        <xsl:value-of select="concat(format-number(floor($seconds div 3600), '00'), substring($clock, 3), ':', $second)"/>
      </xsl:when>
      <xsl:when test="$kind = 'd'">
        <xsl:variable name="days" select="floor($seconds div 86400)"/>
        <xsl:choose>
          <xsl:when test="$date1904 or $days &gt; 60">
            <xsl:call-template name="calendar"><xsl:with-param name="day" select="$epoch + $days"/></xsl:call-template>
          </xsl:when>
          <xsl:when test="$days = 60">1900-02-29</xsl:when>
          <xsl:when test="$days = 0">1900-01-00</xsl:when>
          <xsl:otherwise>
            <xsl:call-template name="calendar"><xsl:with-param name="day" select="$epoch + $days + 1"/></xsl:call-template>
          </xsl:otherwise>
        </xsl:choose>
        <xsl:if test="$seconds mod 86400 != 0">
          <xsl:value-of select="concat(' ', $clock)"/>
          <xsl:if test="$seconds mod 60 != 0"><xsl:value-of select="concat(':', $second)"/></xsl:if>
        </xsl:if>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$stored"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The date (YYYY-MM-DD) of the given day counted from 1600-03-01 (day 0). The Gregorian
       calendar repeats every 400 years (146097 days); within them a century has 36524 days but
       the last has one more, four years have 1461 days but the last four of a common century
       one fewer, a year 365 days but the fourth one more. Years are counted from March here,
       so that the leap day ends a year: March has day 0 of its year, February starts on day 337. -->
  <xsl:template name="calendar">
    <xsl:param name="day"/>
    <xsl:variable name="inCycle" select="$day mod 146097"/>
    <xsl:variable name="century" select="floor($inCycle div 36524) - number($inCycle = 146096)"/>
    <xsl:variable name="inCentury" select="$inCycle - 36524 * $century"/>
    <xsl:variable name="inFour" select="$inCentury mod 1461"/>
    <xsl:variable name="year" select="floor($inFour div 365) - number($inFour = 1460)"/>
    <xsl:variable name="inYear" select="$inFour - 365 * $year"/>
    <xsl:variable name="month" select="number($inYear &gt;= 31) + number($inYear &gt;= 61) + number($inYear &gt;= 92) + number($inYear &gt;= 122) + number($inYear &gt;= 153) + number($inYear &gt;= 184) + number($inYear &gt;= 214) + number($inYear &gt;= 245) + number($inYear &gt;= 275) + number($inYear &gt;= 306) + number($inYear &gt;= 337)"/>
    <xsl:variable name="first" select="number(substring('000031061092122153184214245275306337', 3 * $month + 1, 3))"/>
    <xsl:variable name="january" select="number($month &gt;= 10)"/>
    <xsl:value-of select="concat(format-number(1600 + 400 * floor($day div 146097) + 100 * $century
        + 4 * floor($inCentury div 1461) + $year + $january, '0000'), '-',
        format-number($month + 3 - 12 * $january, '00'), '-', format-number($inYear - $first + 1, '00'))"/>
  </xsl:template>

  <!-- A drawing: its pictures, and the text of its shapes; charts are left out. -->
  <xsl:template match="*" mode="drawing"><xsl:apply-templates select="*" mode="drawing"/></xsl:template>
  <xsl:template match="text()" mode="drawing"/>
  <xsl:template match="mc:AlternateContent" mode="drawing">
    <xsl:apply-templates select="(mc:Choice | mc:Fallback)[1]/*" mode="drawing"/>
  </xsl:template>
  <xsl:template match="a:blip | sa:blip" mode="drawing">
    <xsl:variable name="name">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="ancestor::pkg:part/@pkg:name"/>
        <xsl:with-param name="id" select="@*[local-name() = 'embed']"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:if test="$name != ''">
      <img src="{concat($files, substring($name, 2))}"
          alt="{normalize-space(ancestor::*[local-name() = 'pic'][1]/*/*[local-name() = 'cNvPr']/@descr)}">
        <!-- As wide as the sheet shows it (English Metric Units, 9525 to a pixel). -->
        <xsl:variable name="width" select="number(ancestor::*[local-name() = 'pic'][1]/*[local-name() = 'spPr']
            /*[local-name() = 'xfrm']/*[local-name() = 'ext']/@cx)"/>
        <xsl:if test="$width &gt; 0">
          <xsl:attribute name="width"><xsl:value-of select="round($width div 9525)"/></xsl:attribute>
        </xsl:if>
      </img>
    </xsl:if>
  </xsl:template>
  <xsl:template match="xdr:txBody" mode="drawing">
    <xsl:if test="normalize-space(.) != ''">
      <div class="shape">
        <xsl:for-each select="a:p">
          <p><xsl:for-each select="a:r/a:t | a:fld/a:t | a:br">
            <xsl:choose>
              <xsl:when test="self::a:br"><br/></xsl:when>
              <xsl:otherwise><xsl:value-of select="."/></xsl:otherwise>
            </xsl:choose>
          </xsl:for-each></p>
        </xsl:for-each>
      </div>
    </xsl:if>
  </xsl:template>

  <!-- Relationships -->

  <!-- The part that a relationship of the part named from leads to: the one with the
       given id, else the first whose type ends in the given last step ("/sharedStrings").
       Nothing for an external target or an unknown relationship. -->
  <xsl:template name="related">
    <xsl:param name="from"/>
    <xsl:param name="id" select="''"/>
    <xsl:param name="type" select="''"/>
    <xsl:variable name="relsPart" select="key('rels', $from)"/>
    <xsl:variable name="all" select="$relsPart/pkg:xmlData/*/*[local-name() = 'Relationship']"/>
    <xsl:variable name="rel" select="(key('rel', concat($relsPart/@pkg:name, '|', $id))[$id != '']
        | $all[$id = '' and substring(@Type, string-length(@Type) - string-length($type) + 1) = $type])[1]"/>
    <xsl:if test="$rel and not($rel/@TargetMode = 'External')">
      <xsl:call-template name="part-name">
        <xsl:with-param name="base" select="substring-before($relsPart/@pkg:name, '_rels/')"/>
        <xsl:with-param name="target" select="normalize-space($rel/@Target)"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

  <!-- The part name of a relationship's target, relative to the folder base ("/xl/"):
       an absolute target is the name itself; each leading "../" takes one folder off the
       end of base (up counts them), then the folders of base that remain (keep) are
       written one by one before the rest of the target. -->
  <xsl:template name="part-name">
    <xsl:param name="base"/>
    <xsl:param name="target"/>
    <xsl:param name="up" select="0"/>
    <xsl:param name="keep" select="-1"/>
    <xsl:choose>
      <xsl:when test="$keep = -1 and starts-with($target, '/')"><xsl:value-of select="$target"/></xsl:when>
      <xsl:when test="$keep = -1 and (starts-with($target, '../') or starts-with($target, './'))">
        <xsl:call-template name="part-name">
          <xsl:with-param name="base" select="$base"/>
          <xsl:with-param name="target" select="substring-after($target, '/')"/>
          <xsl:with-param name="up" select="$up + number(starts-with($target, '../'))"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test="$keep = -1">
        <xsl:variable name="depth" select="string-length($base) - string-length(translate($base, '/', '')) - 1"/>
        <xsl:call-template name="part-name">
          <xsl:with-param name="base" select="substring($base, 2)"/>
          <xsl:with-param name="target" select="$target"/>
          <xsl:with-param name="keep" select="($depth - $up) * number($depth &gt; $up)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test="$keep &gt; 0">
        <xsl:value-of select="concat('/', substring-before($base, '/'))"/>
        <xsl:call-template name="part-name">
          <xsl:with-param name="base" select="substring-after($base, '/')"/>
          <xsl:with-param name="target" select="$target"/>
          <xsl:with-param name="keep" select="$keep - 1"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="concat('/', $target)"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
