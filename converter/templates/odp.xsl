<?xml version="1.0" encoding="UTF-8"?>
<!-- Renders an OpenDocument presentation (.odp) as an HTML page: every slide in order as a block
     with its title, the text of its frames and shapes, its tables and pictures, and the speaker
     notes. It reads the flat form of the whole package (root office:document, pictures under its
     xml:base) as well as content.xml alone (pictures beside the copy). -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
    xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
    xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
    xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
    xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
    xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
    xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
    xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
    xmlns:xlink="http://www.w3.org/1999/xlink"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    exclude-result-prefixes="office style text table draw presentation fo svg xlink dc">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:template match="/">
    <xsl:variable name="pages" select="/*/office:body/office:presentation/draw:page"/>
    <html>
      <head>
        <title>
          <xsl:call-template name="doc-title">
            <xsl:with-param name="fallback"
                select="normalize-space($pages[1]//draw:frame[@presentation:class = 'title'])"/>
          </xsl:call-template>
        </title>
        <style>
          <xsl:call-template name="css-common"/>
          .slide { border: 1px solid #999; border-radius: 4px; margin: 1.5em 0; padding: 0.5em 1em }
          .slide-label { color: #777; font-size: smaller }
          .slide .box, .hf .box { border: 0; padding: 0; margin: 0.2em 0 }
          .speaker { font-size: smaller; background: #f4f4f4; border-top: 1px solid #ccc; margin-top: 1em; padding: 0.3em 0.6em }
        </style>
      </head>
      <body>
        <xsl:for-each select="$pages">
          <div class="slide">
            <div class="slide-label">
              <xsl:text>Slide </xsl:text><xsl:value-of select="position()"/>
              <!-- The slide's own name, unless it is a generated one or the title again. -->
              <xsl:variable name="name" select="normalize-space(@draw:name)"/>
              <xsl:if test="$name != '' and not(starts-with($name, 'page'))
                  and translate($name, ' 0123456789', '') != 'Slide'
                  and $name != normalize-space(draw:frame[@presentation:class = 'title'])">
                <xsl:text>: </xsl:text><xsl:value-of select="@draw:name"/>
              </xsl:if>
            </div>
            <xsl:for-each select="draw:frame[@presentation:class = 'title']">
              <h2><xsl:apply-templates select="draw:text-box/*" mode="title"/></h2>
            </xsl:for-each>
            <xsl:apply-templates select="*[not(self::draw:frame[@presentation:class = 'title'])]"/>
            <!-- The footer text the slide shows through its master, declared once for the file. -->
            <xsl:variable name="footer" select="@presentation:use-footer-name"/>
            <xsl:for-each select="../presentation:footer-decl[@presentation:name = $footer][normalize-space()]">
              <div class="slide-label"><xsl:value-of select="."/></div>
            </xsl:for-each>
            <xsl:variable name="notes" select="presentation:notes//draw:frame[normalize-space() != '']"/>
            <xsl:if test="$notes">
              <div class="speaker">
                <b>Notes</b>
                <xsl:apply-templates select="$notes"/>
              </div>
            </xsl:if>
          </div>
        </xsl:for-each>
        <xsl:call-template name="master-text"/>
      </body>
    </html>
  </xsl:template>

  <!-- A slide's title: its paragraphs on lines of their own inside one heading. -->
  <xsl:template match="text:p | text:h" mode="title">
    <xsl:if test="position() &gt; 1"><br/></xsl:if>
    <xsl:apply-templates/>
  </xsl:template>
  <xsl:template match="*" mode="title">
    <xsl:if test="position() &gt; 1"><br/></xsl:if>
    <xsl:apply-templates select=".//text:p" mode="title"/>
  </xsl:template>
  <xsl:template match="presentation:notes"/>
  <xsl:template match="draw:frame[@presentation:class = 'header' or @presentation:class = 'footer'
      or @presentation:class = 'date-time' or @presentation:class = 'page-number'][not(normalize-space())]"/>

  <!-- The text the slide masters carry (a company line, the layout's placeholder texts, the
       page number field), small, once at the end. -->
  <xsl:key name="master-text" match="style:master-page/*[not(self::presentation:notes)]
      | style:master-page/presentation:notes/* | style:handout-master/*" use="normalize-space()"/>
  <xsl:template name="master-text">
    <xsl:variable name="shapes" select="(/*/office:master-styles/style:master-page/*[not(self::presentation:notes)]
        | /*/office:master-styles/style:master-page/presentation:notes/*
        | /*/office:master-styles/style:handout-master/*)[.//text:p[normalize-space()]]
        [generate-id() = generate-id(key('master-text', normalize-space())[1])]"/>
    <xsl:if test="$shapes">
      <div class="hf footer">
        <b>Slide master</b>
        <xsl:apply-templates select="$shapes"/>
      </div>
    </xsl:if>
  </xsl:template>

  <!-- ===== Shared by the OpenDocument templates (odt, ods, odp): styles, inline text, lists, tables, frames ===== -->

  <!-- Named styles of every kind, from the automatic styles and, in the flat form, the common ones. -->
  <xsl:key name="style" match="style:style" use="concat(@style:family, '|', @style:name)"/>
  <xsl:key name="list-style" match="text:list-style" use="@style:name"/>

  <!-- Where the pictures are: the root's xml:base (the flat form's "NAME_files/"), as a relative
       URL; none for content.xml alone, whose pictures lie beside it. A base that would lead off the
       page's folder (from the root or to another host) is not taken. -->
  <xsl:variable name="base">
    <xsl:if test="not(starts-with(/*/@xml:base, '/'))">
      <xsl:call-template name="escape"><xsl:with-param name="text" select="string(/*/@xml:base)"/></xsl:call-template>
    </xsl:if>
  </xsl:variable>
  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>
  <xsl:variable name="metafiles" select="'|.svm|.wmf|.emf|'"/>
  <!-- A spreadsheet, whose tables run on with empty rows and cells up to the sheet's last ones. -->
  <xsl:variable name="sheets" select="boolean(/*/office:body/office:spreadsheet)"/>

  <xsl:template name="css-common">
    body { max-width: 48em; margin: 1em auto; padding: 0 1em; font-family: sans-serif; line-height: 1.4 }
    table { border-collapse: collapse; margin: 0.5em 0 }
    td, th { border: 1px solid #888; padding: 0.2em 0.5em; vertical-align: top; text-align: left }
    th { background: #eee }
    td p, th p, li p { margin: 0.1em 0 }
    img { max-width: 100%; height: auto }
    .tab { white-space: pre; tab-size: 4 }
    .comment { font-size: smaller; color: #555; background: #ffd }
    .box { border: 1px dotted #aaa; padding: 0.2em 0.5em; margin: 0.3em 0 }
    .notes { border-top: 1px solid #888; margin-top: 2em; font-size: smaller }
    li.sub { list-style: none }
    .note > a + p { display: inline }
    .hf { color: #555; font-size: smaller; border-bottom: 1px solid #ccc }
    .hf.footer { border-bottom: 0; border-top: 1px solid #ccc; margin-top: 2em }
  </xsl:template>

  <!-- The letters b, i, u, s, p (raised) and d (lowered) for the look a text or paragraph style
       gives; a style inherits what it does not set itself from its parent style. -->
  <xsl:template name="style-flags">
    <xsl:param name="family"/>
    <xsl:param name="name"/>
    <xsl:variable name="own" select="key('style', concat($family, '|', $name))[1]"/>
    <xsl:variable name="parent" select="key('style', concat($family, '|', $own/@style:parent-style-name))[1]"/>
    <xsl:variable name="a" select="$own/style:text-properties"/>
    <xsl:variable name="b" select="$parent/style:text-properties"/>
    <xsl:variable name="weight">
      <xsl:choose>
        <xsl:when test="$a/@fo:font-weight"><xsl:value-of select="$a/@fo:font-weight"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="$b/@fo:font-weight"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="slant">
      <xsl:choose>
        <xsl:when test="$a/@fo:font-style"><xsl:value-of select="$a/@fo:font-style"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="$b/@fo:font-style"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="under">
      <xsl:choose>
        <xsl:when test="$a/@style:text-underline-style"><xsl:value-of select="$a/@style:text-underline-style"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="$b/@style:text-underline-style"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="strike">
      <xsl:choose>
        <xsl:when test="$a/@style:text-line-through-style"><xsl:value-of select="$a/@style:text-line-through-style"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="$b/@style:text-line-through-style"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="position">
      <xsl:choose>
        <xsl:when test="$a/@style:text-position"><xsl:value-of select="$a/@style:text-position"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="$b/@style:text-position"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <!-- Without the common styles (content.xml alone) the usual character styles go by name. -->
    <xsl:if test="$weight = 'bold' or number($weight) &gt;= 600
        or (not($own) and ($name = 'Strong_20_Emphasis' or $name = 'Strong'))">b</xsl:if>
    <xsl:if test="$slant = 'italic' or $slant = 'oblique' or (not($own) and $name = 'Emphasis')">i</xsl:if>
    <xsl:if test="$under != '' and $under != 'none'">u</xsl:if>
    <xsl:if test="$strike != '' and $strike != 'none'">s</xsl:if>
    <xsl:if test="starts-with($position, 'super') or number(substring-before(concat($position, ' '), '%')) &gt; 0">p</xsl:if>
    <xsl:if test="starts-with($position, 'sub') or number(substring-before(concat($position, ' '), '%')) &lt; 0">d</xsl:if>
  </xsl:template>

  <!-- The current node's content inside the elements the letters of flags stand for. -->
  <xsl:template name="wrap">
    <xsl:param name="flags"/>
    <xsl:choose>
      <xsl:when test="contains($flags, 'b')">
        <b><xsl:call-template name="wrap"><xsl:with-param name="flags" select="translate($flags, 'b', '')"/></xsl:call-template></b>
      </xsl:when>
      <xsl:when test="contains($flags, 'i')">
        <i><xsl:call-template name="wrap"><xsl:with-param name="flags" select="translate($flags, 'i', '')"/></xsl:call-template></i>
      </xsl:when>
      <xsl:when test="contains($flags, 'u')">
        <u><xsl:call-template name="wrap"><xsl:with-param name="flags" select="translate($flags, 'u', '')"/></xsl:call-template></u>
      </xsl:when>
      <xsl:when test="contains($flags, 's')">
        <s><xsl:call-template name="wrap"><xsl:with-param name="flags" select="translate($flags, 's', '')"/></xsl:call-template></s>
      </xsl:when>
      <xsl:when test="contains($flags, 'p')">
        <sup><xsl:call-template name="wrap"><xsl:with-param name="flags" select="translate($flags, 'p', '')"/></xsl:call-template></sup>
      </xsl:when>
      <xsl:when test="contains($flags, 'd')">
        <sub><xsl:call-template name="wrap"><xsl:with-param name="flags" select="translate($flags, 'd', '')"/></xsl:call-template></sub>
      </xsl:when>
      <xsl:otherwise><xsl:apply-templates/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="styled">
    <xsl:param name="family"/>
    <xsl:call-template name="wrap">
      <xsl:with-param name="flags">
        <xsl:call-template name="style-flags">
          <xsl:with-param name="family" select="$family"/>
          <xsl:with-param name="name" select="@text:style-name"/>
        </xsl:call-template>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <!-- Paragraphs. An empty one keeps its line. -->
  <xsl:template match="text:p">
    <xsl:variable name="name" select="@text:style-name"/>
    <xsl:variable name="style" select="key('style', concat('paragraph|', $name))[1]"/>
    <xsl:variable name="kind">
      <xsl:choose>
        <xsl:when test="$style/@style:parent-style-name and $style/parent::office:automatic-styles">
          <xsl:value-of select="$style/@style:parent-style-name"/>
        </xsl:when>
        <xsl:otherwise><xsl:value-of select="$name"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:choose>
      <xsl:when test="$kind = 'Title'"><h1 class="title"><xsl:apply-templates/></h1></xsl:when>
      <xsl:when test="$kind = 'Subtitle'"><p class="subtitle"><i><xsl:apply-templates/></i></p></xsl:when>
      <xsl:when test="not(node())"><p>&#160;</p></xsl:when>
      <xsl:otherwise>
        <p><xsl:call-template name="styled"><xsl:with-param name="family" select="'paragraph'"/></xsl:call-template></p>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="text:h">
    <xsl:variable name="level" select="number(@text:outline-level)"/>
    <xsl:variable name="n">
      <xsl:choose>
        <xsl:when test="$level &gt;= 1 and $level &lt;= 6"><xsl:value-of select="$level"/></xsl:when>
        <xsl:when test="$level &gt; 6">6</xsl:when>
        <xsl:otherwise>1</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:element name="h{$n}"><xsl:apply-templates/></xsl:element>
  </xsl:template>

  <!-- The rendered number of an outline heading, as the document stored it. -->
  <xsl:template match="text:number"><xsl:value-of select="."/><xsl:text> </xsl:text></xsl:template>

  <xsl:template match="text:span">
    <xsl:call-template name="styled"><xsl:with-param name="family" select="'text'"/></xsl:call-template>
  </xsl:template>

  <xsl:template match="text:s">
    <xsl:text> </xsl:text>
    <xsl:call-template name="repeat">
      <xsl:with-param name="text" select="'&#160;'"/>
      <xsl:with-param name="count" select="(@text:c - 1) * (@text:c &lt;= 100) + 99 * (@text:c &gt; 100)"/>
    </xsl:call-template>
  </xsl:template>
  <xsl:template match="text:tab"><span class="tab"><xsl:text>&#9;</xsl:text></span></xsl:template>
  <xsl:template match="text:line-break"><br/></xsl:template>
  <xsl:template match="text:soft-page-break | text:bookmark | text:bookmark-start | text:bookmark-end
      | text:reference-mark | text:reference-mark-start | text:reference-mark-end | text:alphabetical-index-mark
      | text:alphabetical-index-mark-start | text:alphabetical-index-mark-end | text:toc-mark | text:toc-mark-start
      | text:toc-mark-end | text:user-index-mark | text:user-index-mark-start | text:user-index-mark-end
      | office:annotation-end | text:sequence-decls | text:variable-decls | text:user-field-decls | text:dde-connection-decls
      | text:tracked-changes | office:forms | table:table-column | table:table-columns | table:table-column-group
      | svg:title | svg:desc | draw:glue-point | office:event-listeners | draw:contour-polygon | draw:contour-path
      | draw:image-map | text:table-of-content-source | text:alphabetical-index-source | text:illustration-index-source
      | text:table-index-source | text:object-index-source | text:user-index-source | text:bibliography-source
      | presentation:notes | draw:page-thumbnail | text:sheet-name"/>

  <xsl:template name="repeat">
    <xsl:param name="text"/>
    <xsl:param name="count"/>
    <xsl:if test="$count &gt;= 1">
      <xsl:value-of select="$text"/>
      <xsl:call-template name="repeat">
        <xsl:with-param name="text" select="$text"/>
        <xsl:with-param name="count" select="$count - 1"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

  <!-- A link when it leads to the web or to mail; any other target leaves the text alone. -->
  <xsl:template match="text:a | draw:a">
    <xsl:variable name="href" select="normalize-space(@xlink:href)"/>
    <xsl:variable name="scheme" select="translate(substring-before($href, ':'), $upper, $lower)"/>
    <xsl:choose>
      <xsl:when test="$scheme = 'http' or $scheme = 'https' or $scheme = 'mailto'">
        <a href="{$href}"><xsl:apply-templates/></a>
      </xsl:when>
      <xsl:otherwise><xsl:apply-templates/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Footnotes and endnotes: the mark in place, links both ways, the text in the Notes section. -->
  <xsl:template match="text:note">
    <sup class="noteref">&#8202;<a id="ref-{generate-id()}" href="#note-{generate-id()}">
      <xsl:call-template name="note-mark"/>
    </a></sup>
  </xsl:template>
  <xsl:template name="note-mark">
    <xsl:choose>
      <xsl:when test="normalize-space(text:note-citation) != ''"><xsl:value-of select="text:note-citation"/></xsl:when>
      <xsl:otherwise>*</xsl:otherwise>
    </xsl:choose>
  </xsl:template>
  <xsl:template name="notes-section">
    <xsl:param name="notes"/>
    <xsl:if test="$notes">
      <div class="notes">
        <h2>Notes</h2>
        <xsl:for-each select="$notes">
          <div class="note" id="note-{generate-id()}">
            <a href="#ref-{generate-id()}"><sup><xsl:call-template name="note-mark"/></sup></a>
            <xsl:text> </xsl:text>
            <xsl:apply-templates select="text:note-body/*"/>
          </div>
        </xsl:for-each>
      </div>
    </xsl:if>
  </xsl:template>

  <!-- A comment, small, where it was made. -->
  <xsl:template match="office:annotation">
    <xsl:text> </xsl:text>
    <span class="comment">
      <xsl:text>[</xsl:text>
      <xsl:if test="normalize-space(dc:creator) != ''"><xsl:value-of select="dc:creator"/>: </xsl:if>
      <xsl:for-each select=".//text:p | .//text:h">
        <xsl:if test="position() &gt; 1"><br/></xsl:if>
        <xsl:apply-templates/>
      </xsl:for-each>
      <xsl:text>]</xsl:text>
    </span>
    <xsl:text> </xsl:text>
  </xsl:template>

  <!-- Lists: numbered when the list style numbers the item's level, else bulleted. A nested list
       without a style of its own follows the style of the list around it. -->
  <xsl:template match="text:list">
    <xsl:variable name="name" select="ancestor-or-self::text:list[@text:style-name][1]/@text:style-name"/>
    <xsl:variable name="level" select="count(ancestor-or-self::text:list)"/>
    <xsl:variable name="style" select="key('list-style', $name)[1]"/>
    <xsl:choose>
      <xsl:when test="$style/text:list-level-style-number[@text:level = $level]
          and $style/text:list-level-style-number[@text:level = $level]/@style:num-format != ''">
        <xsl:variable name="format"
            select="string($style/text:list-level-style-number[@text:level = $level]/@style:num-format)"/>
        <ol>
          <xsl:if test="$format = 'a' or $format = 'A' or $format = 'i' or $format = 'I'">
            <xsl:attribute name="type"><xsl:value-of select="$format"/></xsl:attribute>
          </xsl:if>
          <xsl:if test="number(text:list-item[1]/@text:start-value) &gt; 1">
            <xsl:attribute name="start"><xsl:value-of select="number(text:list-item[1]/@text:start-value)"/></xsl:attribute>
          </xsl:if>
          <xsl:apply-templates select="text:list-header | text:list-item"/>
        </ol>
      </xsl:when>
      <xsl:otherwise><ul><xsl:apply-templates select="text:list-header | text:list-item"/></ul></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
  <!-- An item that only holds a deeper list shows no mark of its own. -->
  <xsl:template match="text:list-item">
    <xsl:choose>
      <xsl:when test="text:list and not(text:p | text:h)"><li class="sub"><xsl:apply-templates/></li></xsl:when>
      <xsl:otherwise><li><xsl:apply-templates/></li></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
  <xsl:template match="text:list-header">
    <li style="list-style: none"><xsl:apply-templates/></li>
  </xsl:template>

  <xsl:template match="text:section | text:index-title">
    <div class="section"><xsl:apply-templates/></div>
  </xsl:template>
  <!-- Tables of content and other indexes show the entries the document holds. -->
  <xsl:template match="text:table-of-content | text:alphabetical-index | text:illustration-index | text:table-index
      | text:object-index | text:user-index | text:bibliography">
    <div class="index"><xsl:apply-templates select="text:index-body"/></div>
  </xsl:template>
  <xsl:template match="text:index-body"><xsl:apply-templates/></xsl:template>

  <!-- Tables. Covered cells lie under a spanning cell; header rows become a thead. -->
  <xsl:template match="table:table">
    <xsl:if test="table:shapes//draw:frame">
      <div class="shapes"><xsl:apply-templates select="table:shapes/*"/></div>
    </xsl:if>
    <table>
      <xsl:if test="table:table-header-rows">
        <thead><xsl:apply-templates select="table:table-header-rows/table:table-row"/></thead>
      </xsl:if>
      <xsl:variable name="rows" select="table:table-row | table:table-rows/table:table-row
          | table:table-row-group//table:table-row"/>
      <xsl:variable name="last"
          select="$rows[normalize-space() != '' or .//draw:image[@xlink:href or office:binary-data]][last()]"/>
      <tbody>
        <xsl:apply-templates select="$rows">
          <xsl:with-param name="end">
            <xsl:for-each select="$rows">
              <xsl:if test="generate-id() = generate-id($last)"><xsl:value-of select="position()"/></xsl:if>
            </xsl:for-each>
          </xsl:with-param>
        </xsl:apply-templates>
      </tbody>
    </table>
  </xsl:template>
  <!-- A row is repeated only when it holds something (spreadsheets end with a run of a million
       empty rows); a run of empty rows shows once, and not at all after the last row with content
       (end: its place among the rows; no axis is searched per row, so long tables stay fast). In
       a text or on a slide a single empty row shows wherever it is: a table may well end with one. -->
  <xsl:template match="table:table-row">
    <xsl:param name="end" select="1000000000"/>
    <xsl:variable name="times" select="number(@table:number-rows-repeated)"/>
    <xsl:variable name="full" select="normalize-space() != '' or .//draw:image[@xlink:href or office:binary-data]"/>
    <xsl:if test="$full or position() &lt; number($end) or not(@table:number-rows-repeated or $sheets)">
      <xsl:call-template name="row"/>
    </xsl:if>
    <xsl:if test="$times &gt; 1 and $full">
      <xsl:call-template name="row-again">
        <xsl:with-param name="count" select="($times - 1) * ($times &lt;= 1000) + 999 * ($times &gt; 1000)"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>
  <xsl:template name="row-again">
    <xsl:param name="count"/>
    <xsl:if test="$count &gt;= 1">
      <xsl:call-template name="row"/>
      <xsl:call-template name="row-again"><xsl:with-param name="count" select="$count - 1"/></xsl:call-template>
    </xsl:if>
  </xsl:template>
  <!-- The cells, each told where the last cell with content stands (0: none). -->
  <xsl:template name="row">
    <xsl:variable name="last" select="table:table-cell[normalize-space() != ''
        or .//draw:image[@xlink:href or office:binary-data]][last()]"/>
    <tr>
      <xsl:apply-templates select="table:table-cell | table:covered-table-cell">
        <xsl:with-param name="end" select="(count($last/preceding-sibling::*) + 1) * boolean($last)"/>
      </xsl:apply-templates>
    </tr>
  </xsl:template>
  <!-- Repeated cells: one with content up to its count, a run of empty ones only between cells
       with content, never at the end of the row; in a text or on a slide a single empty cell shows
       wherever it is. -->
  <xsl:template match="table:table-cell">
    <xsl:param name="end" select="0"/>
    <xsl:variable name="times" select="number(@table:number-columns-repeated)"/>
    <xsl:variable name="wanted" select="position() &lt;= $end"/>
    <xsl:if test="$wanted or position() = 1 or not(@table:number-columns-repeated or $sheets)">
      <xsl:call-template name="cell"/>
    </xsl:if>
    <xsl:if test="$times &gt; 1">
      <xsl:call-template name="cell-again">
        <xsl:with-param name="count">
          <xsl:choose>
            <xsl:when test="$wanted">
              <xsl:value-of select="($times - 1) * ($times &lt;= 200) + 199 * ($times &gt; 200)"/>
            </xsl:when>
            <xsl:otherwise>0</xsl:otherwise>
          </xsl:choose>
        </xsl:with-param>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>
  <xsl:template name="cell-again">
    <xsl:param name="count"/>
    <xsl:if test="$count &gt;= 1">
      <xsl:call-template name="cell"/>
      <xsl:call-template name="cell-again"><xsl:with-param name="count" select="$count - 1"/></xsl:call-template>
    </xsl:if>
  </xsl:template>
  <xsl:template name="cell">
    <xsl:variable name="tag">
      <xsl:choose>
        <xsl:when test="ancestor::table:table-header-rows">th</xsl:when>
        <xsl:otherwise>td</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:element name="{$tag}">
      <xsl:if test="number(@table:number-columns-spanned) &gt; 1">
        <xsl:attribute name="colspan"><xsl:value-of select="number(@table:number-columns-spanned)"/></xsl:attribute>
      </xsl:if>
      <xsl:if test="number(@table:number-rows-spanned) &gt; 1">
        <xsl:attribute name="rowspan"><xsl:value-of select="number(@table:number-rows-spanned)"/></xsl:attribute>
      </xsl:if>
      <xsl:apply-templates/>
    </xsl:element>
  </xsl:template>
  <xsl:template match="table:covered-table-cell"/>

  <!-- Frames: a table (on a slide), a text box (which may hold pictures and their captions), else the
       first picture a browser draws. Embedded objects (charts, formulas) are left out. -->
  <xsl:template match="draw:frame">
    <xsl:choose>
      <xsl:when test="table:table"><xsl:apply-templates select="table:table"/></xsl:when>
      <xsl:when test="draw:text-box"><xsl:apply-templates select="draw:text-box"/></xsl:when>
      <xsl:when test="draw:image[not(contains($metafiles, concat('|', translate(substring(@xlink:href,
          string-length(@xlink:href) - 3), $upper, $lower), '|')))]">
        <xsl:apply-templates select="draw:image[not(contains($metafiles, concat('|', translate(substring(@xlink:href,
            string-length(@xlink:href) - 3), $upper, $lower), '|')))][1]"/>
      </xsl:when>
      <xsl:otherwise><xsl:apply-templates select="text:p | text:list"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
  <xsl:template match="draw:text-box">
    <div class="box"><xsl:apply-templates/></div>
  </xsl:template>
  <xsl:template match="draw:g"><xsl:apply-templates/></xsl:template>
  <!-- Shapes show the text written on them. -->
  <xsl:template match="draw:custom-shape | draw:rect | draw:ellipse | draw:circle | draw:polygon | draw:polyline
      | draw:path | draw:line | draw:connector | draw:caption | draw:measure | draw:regular-polygon">
    <xsl:if test="text:p[normalize-space()] or text:list">
      <div class="box"><xsl:apply-templates select="text:p | text:h | text:list"/></div>
    </xsl:if>
  </xsl:template>
  <xsl:template match="draw:enhanced-geometry | draw:object | draw:object-ole | draw:plugin | draw:applet"/>

  <xsl:template match="draw:image">
    <xsl:variable name="href" select="normalize-space(@xlink:href)"/>
    <xsl:variable name="path">
      <xsl:choose>
        <xsl:when test="starts-with($href, './')"><xsl:value-of select="substring($href, 3)"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="$href"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="alt" select="normalize-space(../svg:title | ../svg:desc)"/>
    <!-- Metafiles (.svm, .wmf, .emf) are previews that no browser draws. -->
    <xsl:variable name="kind" select="concat(translate($path, $upper, $lower), '?')"/>
    <xsl:variable name="scheme" select="translate(substring-before($path, ':'), $upper, $lower)"/>
    <xsl:choose>
      <!-- A picture stored in the document itself, as the flat files of the office suite keep them. -->
      <xsl:when test="office:binary-data">
        <xsl:variable name="type">
          <xsl:choose>
            <xsl:when test="starts-with(@draw:mime-type, 'image/') and not(contains(@draw:mime-type, '&quot;'))">
              <xsl:value-of select="@draw:mime-type"/>
            </xsl:when>
            <xsl:otherwise>image/png</xsl:otherwise>
          </xsl:choose>
        </xsl:variable>
        <img src="data:{$type};base64,{normalize-space(office:binary-data)}" alt="{$alt}">
          <xsl:call-template name="picture-width"/>
        </img>
      </xsl:when>
      <!-- Pictures linked from outside the document are named, never fetched. -->
      <xsl:when test="$scheme = 'http' or $scheme = 'https'">
        <a href="{$path}">[picture: <xsl:value-of select="$path"/>]</a>
      </xsl:when>
      <xsl:when test="$path = '' or contains($path, ':') or starts-with($path, '/') or starts-with($path, '../')
          or starts-with($path, '\') or starts-with($path, 'ObjectReplacements/')
          or contains($kind, '.svm?') or contains($kind, '.wmf?') or contains($kind, '.emf?')">
        <xsl:if test="$path != '' and not(starts-with($path, 'ObjectReplacements/') or contains($path, ':'))
            and (starts-with($path, '/') or starts-with($path, '../'))">
          <span class="missing">[picture: <xsl:value-of select="$path"/>]</span>
        </xsl:if>
      </xsl:when>
      <xsl:otherwise>
        <img src="{$base}{$path}" alt="{$alt}"><xsl:call-template name="picture-width"/></img>
      </xsl:otherwise>
    </xsl:choose>
    <xsl:apply-templates select="text:p[normalize-space()] | text:list"/>
  </xsl:template>

  <!-- A picture as wide as its frame in the document, when the frame's width is a plain length. -->
  <xsl:template name="picture-width">
    <xsl:variable name="width" select="normalize-space(../@svg:width)"/>
    <xsl:variable name="unit" select="translate($width, '0123456789.', '')"/>
    <xsl:if test="string-length($width) &lt; 16 and ($unit = 'cm' or $unit = 'mm' or $unit = 'in' or $unit = 'pt'
        or $unit = 'px') and number(substring-before($width, $unit)) &gt; 0">
      <xsl:attribute name="style">width: <xsl:value-of select="$width"/></xsl:attribute>
    </xsl:if>
  </xsl:template>

  <!-- Master pages' header and footer text, once, from the flat form (content.xml alone lacks them);
       left, right and first pages that say the same show it once. -->
  <xsl:key name="page-margin" match="style:master-page/*"
      use="concat(substring-before(concat(local-name(), '-'), '-'), '|', normalize-space())"/>
  <xsl:template name="page-margins">
    <xsl:param name="part"/>
    <xsl:variable name="areas" select="/*/office:master-styles/style:master-page/*[local-name() = $part
        or local-name() = concat($part, '-left') or local-name() = concat($part, '-first')]
        [not(@style:display = 'false')]
        [.//text:p[normalize-space() != normalize-space(text:sheet-name)]
          or .//draw:image[@xlink:href or office:binary-data]]
        [generate-id() = generate-id(key('page-margin', concat($part, '|', normalize-space()))[1])]"/>
    <xsl:if test="$areas">
      <div class="hf {$part}">
        <xsl:for-each select="$areas">
          <xsl:choose>
            <xsl:when test="style:region-left | style:region-center | style:region-right">
              <div><xsl:apply-templates select="style:region-left/* | style:region-center/* | style:region-right/*"/></div>
            </xsl:when>
            <xsl:otherwise><div><xsl:apply-templates/></div></xsl:otherwise>
          </xsl:choose>
        </xsl:for-each>
      </div>
    </xsl:if>
  </xsl:template>

  <xsl:template name="doc-title">
    <xsl:param name="fallback"/>
    <xsl:choose>
      <xsl:when test="normalize-space(/*/office:meta/dc:title) != ''">
        <xsl:value-of select="normalize-space(/*/office:meta/dc:title)"/>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$fallback"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A file name as a relative URL: "%", "#", "?", ":" and "\" would otherwise change its meaning
       (a name's ":" would read as a scheme, a leading "\" as another host). -->
  <xsl:template name="escape">
    <xsl:param name="text"/>
    <xsl:variable name="c" select="substring($text, 1, 1)"/>
    <xsl:choose>
      <xsl:when test="$text = ''"/>
      <xsl:when test="not(contains($text, '%') or contains($text, '#') or contains($text, '?')
          or contains($text, ':') or contains($text, '\'))">
        <xsl:value-of select="$text"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:choose>
          <xsl:when test="$c = '%'">%25</xsl:when>
          <xsl:when test="$c = '#'">%23</xsl:when>
          <xsl:when test="$c = '?'">%3F</xsl:when>
          <xsl:when test="$c = ':'">%3A</xsl:when>
          <xsl:when test="$c = '\'">%5C</xsl:when>
          <xsl:otherwise><xsl:value-of select="$c"/></xsl:otherwise>
        </xsl:choose>
        <xsl:call-template name="escape"><xsl:with-param name="text" select="substring($text, 2)"/></xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Everything this page does not name shows its text, nothing more. -->
  <xsl:template match="*"><xsl:apply-templates/></xsl:template>
</xsl:stylesheet>
