<?xml version="1.0" encoding="UTF-8"?>
<!-- A Word document (.docx) as an HTML page, read from the whole package in its Flat OPC
     form (as the flat option of corvane gives it): the main part found through the
     package's relationships, headings by the outline levels and names of styles.xml,
     lists by numbering.xml, runs with their emphasis, links, tables, pictures (written
     beside the page under the root's xml:base), text boxes, content controls and
     equations, the sections' headers before the body and their footers after it, and the
     footnotes and endnotes at the end. Deleted text, field instructions and comments are
     left out. Given a bare word/document.xml, it shows the body without what lives in
     other parts and says so at the top.
     Elements are read in the Transitional namespaces that Word, LibreOffice and Google
     Docs write; the package and its relationships are read by local names and by the last
     step of a relationship's type, so a Strict package still leads to its main part, whose
     paragraphs are then shown as plain text. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:pkg="http://schemas.microsoft.com/office/2006/xmlPackage"
    xmlns:rel="http://schemas.openxmlformats.org/package/2006/relationships"
    xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"
    xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"
    xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing"
    xmlns:v="urn:schemas-microsoft-com:vml"
    xmlns:o="urn:schemas-microsoft-com:office:office"
    xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"
    xmlns:m="http://schemas.openxmlformats.org/officeDocument/2006/math"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    exclude-result-prefixes="pkg rel w r a wp v o mc m dc">
  <xsl:output method="html" encoding="UTF-8"/>

  <!-- Parts by name; relationship parts by the name of the part they belong to
       ("/word/_rels/document.xml.rels" belongs to "/word/document.xml", "/_rels/.rels"
       to the package, "/"). -->
  <xsl:key name="part" match="pkg:part" use="@pkg:name"/>
  <xsl:key name="rels" match="pkg:part[contains(@pkg:name, '_rels/')]"
      use="concat(substring-before(@pkg:name, '_rels/'),
                  substring-before(substring-after(@pkg:name, '_rels/'), '.rels'))"/>
  <!-- A relationship by the name of its relationships part and its id. -->
  <xsl:key name="rel" match="rel:Relationship" use="concat(ancestor::pkg:part/@pkg:name, '|', @Id)"/>
  <!-- Styles, numbering definitions and notes of the document itself (a glossary part
       may hold its own). -->
  <xsl:key name="style" match="w:style[not(contains(ancestor::pkg:part/@pkg:name, 'glossary'))]"
      use="@w:styleId"/>
  <xsl:key name="num" match="w:num[not(contains(ancestor::pkg:part/@pkg:name, 'glossary'))]"
      use="@w:numId"/>
  <xsl:key name="note" match="w:footnote" use="concat('footnoteReference', @w:id)"/>
  <xsl:key name="note" match="w:endnote" use="concat('endnoteReference', @w:id)"/>
  <xsl:key name="section-part" match="w:headerReference | w:footerReference" use="@r:id"/>
  <xsl:key name="abstract" match="w:abstractNum[not(contains(ancestor::pkg:part/@pkg:name, 'glossary'))]"
      use="@w:abstractNumId"/>

  <xsl:variable name="files" select="/*/@xml:base"/>
  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>

  <xsl:template match="/">
    <xsl:variable name="mainName">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="'/'"/>
        <xsl:with-param name="type" select="'/officeDocument'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="main" select="key('part', $mainName)/pkg:xmlData/w:document
        | /w:document"/>
    <xsl:variable name="doc" select="($main | /pkg:package[not($main)]/pkg:part/pkg:xmlData/w:document)[1]"/>
    <xsl:variable name="coreName">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="'/'"/>
        <xsl:with-param name="type" select="'/core-properties'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="title" select="normalize-space(key('part', $coreName)/pkg:xmlData/*/dc:title)"/>
    <xsl:variable name="numberingName">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="$doc/ancestor::pkg:part/@pkg:name"/>
        <xsl:with-param name="type" select="'/numbering'"/>
      </xsl:call-template>
    </xsl:variable>
    <html>
      <head>
        <title>
          <xsl:choose>
            <xsl:when test="$title != ''"><xsl:value-of select="$title"/></xsl:when>
            <xsl:otherwise>
              <xsl:value-of select="normalize-space($doc/w:body/w:p[w:pPr/w:pStyle/@w:val = 'Title'
                  or starts-with(w:pPr/w:pStyle/@w:val, 'Heading')][1])"/>
            </xsl:otherwise>
          </xsl:choose>
        </title>
        <style>
          body { max-width: 48em; margin: 1em auto; padding: 0 1em; font-family: Georgia, serif; line-height: 1.45; color: #222 }
          h1, h2, h3, h4, h5, h6 { font-family: sans-serif; line-height: 1.2 }
          table { border-collapse: collapse; margin: 0.6em 0 }
          td, th { border: 1px solid #999; padding: 0.2em 0.5em; vertical-align: top }
          th { background: #f0f0f0; text-align: left }
          td p, th p { margin: 0.2em 0 }
          .center { text-align: center } .right { text-align: right } .justify { text-align: justify }
          div.p { margin: 1em 0 }
          img { max-width: 100%; height: auto }
          ul, ol { margin: 0.15em 0 }
          .tab { display: inline-block; min-width: 2em }
          .textbox { border: 1px dashed #aaa; padding: 0.3em 0.6em; margin: 0.4em 0 }
          .header, .footer { color: #666; font-size: 90%; border-bottom: 1px solid #ccc; margin-bottom: 1em }
          .footer { border-bottom: none; border-top: 1px solid #ccc; margin: 1em 0 0 }
          .notes { font-size: 90%; border-top: 1px solid #ccc; margin-top: 2em }
          .note { display: flex; gap: 0.5em } .note p { margin: 0.2em 0 }
          .flat-note { background: #ffd; border: 1px solid #cc9; padding: 0.4em 0.8em }
          p.li { margin-top: 0.15em; margin-bottom: 0.15em; text-indent: -1.8em }
          p.li::before { display: inline-block; min-width: 1.8em; text-indent: 0 }
          <xsl:call-template name="counter-rules">
            <xsl:with-param name="numbering" select="key('part', $numberingName)/pkg:xmlData/w:numbering"/>
          </xsl:call-template>
        </style>
      </head>
      <body>
        <xsl:if test="not(/pkg:package)">
          <p class="flat-note">This template reads the whole package: run corvane with --flat</p>
        </xsl:if>
        <xsl:variable name="sections" select="$doc/w:body//w:sectPr"/>
        <xsl:call-template name="header-footer">
          <xsl:with-param name="refs" select="$sections/w:headerReference"/>
          <xsl:with-param name="class" select="'header'"/>
        </xsl:call-template>
        <xsl:apply-templates select="$doc/w:body/*"/>
        <xsl:if test="not($doc)">
          <xsl:apply-templates select="key('part', $mainName)/pkg:xmlData/*[local-name() = 'document']" mode="plain"/>
        </xsl:if>
        <xsl:call-template name="header-footer">
          <xsl:with-param name="refs" select="$sections/w:footerReference"/>
          <xsl:with-param name="class" select="'footer'"/>
        </xsl:call-template>
        <xsl:if test="/pkg:package and $doc">
          <xsl:call-template name="notes">
            <xsl:with-param name="from" select="$doc/ancestor::pkg:part/@pkg:name"/>
          </xsl:call-template>
        </xsl:if>
      </body>
    </html>
  </xsl:template>

  <!-- The headers (or footers) of the default kind, each once, in the order of the
       sections; when there are none, the first of any kind. -->
  <xsl:template name="header-footer">
    <xsl:param name="refs"/>
    <xsl:param name="class"/>
    <xsl:variable name="defaults" select="$refs[@w:type = 'default' or not(@w:type)]"/>
    <xsl:for-each select="$defaults[generate-id() = generate-id(key('section-part', @r:id)[1])]
        | $refs[not($defaults)][1]">
      <xsl:variable name="name">
        <xsl:call-template name="related">
          <xsl:with-param name="from" select="ancestor::pkg:part/@pkg:name"/>
          <xsl:with-param name="id" select="@r:id"/>
        </xsl:call-template>
      </xsl:variable>
      <xsl:variable name="blocks" select="key('part', $name)/pkg:xmlData/*/*"/>
      <xsl:if test="normalize-space($blocks) != '' or $blocks//w:drawing or $blocks//w:pict">
        <div class="{$class}"><xsl:apply-templates select="$blocks"/></div>
      </xsl:if>
    </xsl:for-each>
  </xsl:template>

  <!-- Footnotes, then endnotes; the separators (those with a type) are not notes. -->
  <xsl:template name="notes">
    <xsl:param name="from"/>
    <xsl:variable name="footName">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="$from"/>
        <xsl:with-param name="type" select="'/footnotes'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="endName">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="$from"/>
        <xsl:with-param name="type" select="'/endnotes'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="notes"
        select="key('part', $footName)/pkg:xmlData/w:footnotes/w:footnote[not(@w:type) or @w:type = 'normal']
              | key('part', $endName)/pkg:xmlData/w:endnotes/w:endnote[not(@w:type) or @w:type = 'normal']"/>
    <xsl:if test="$notes">
      <div class="notes">
        <h2>Notes</h2>
        <xsl:for-each select="$notes">
          <div class="note">
            <sup><xsl:apply-templates select="." mode="number"/></sup>
            <div><xsl:apply-templates select="*"/></div>
          </div>
        </xsl:for-each>
      </div>
    </xsl:if>
  </xsl:template>

  <!-- A document in other namespaces than these (the Strict ones): its paragraphs as
       plain text, those of tables and text boxes too, each paragraph with its own text. -->
  <xsl:template match="*" mode="plain">
    <xsl:for-each select=".//*[local-name() = 'p'][not(ancestor::*[local-name() = 'Fallback' or local-name() = 'del'])]">
      <xsl:variable name="id" select="generate-id()"/>
      <p>
        <xsl:for-each select=".//*[local-name() = 't' or local-name() = 'tab' or local-name() = 'br'
            or local-name() = 'cr'][generate-id(ancestor::*[local-name() = 'p'][1]) = $id]
            [not(ancestor::*[local-name() = 'Fallback' or local-name() = 'del'])]">
          <xsl:choose>
            <xsl:when test="local-name() = 't'"><xsl:value-of select="."/></xsl:when>
            <xsl:otherwise><xsl:text> </xsl:text></xsl:otherwise>
          </xsl:choose>
        </xsl:for-each>
      </p>
    </xsl:for-each>
  </xsl:template>

  <!-- CSS counters for the numbered levels of the lists of numbering.xml: counter
       "nN-L" counts the items of list N (w:numId) at level L; the body starts each at its
       level's start, and an item restarts the levels below its own. Names and numbers are
       made of numbers only, never of the document's text. -->
  <xsl:template name="counter-rules">
    <xsl:param name="numbering"/>
    <xsl:variable name="lists" select="$numbering/w:num[number(@w:numId) = number(@w:numId)]"/>
    <xsl:if test="$lists">
      <xsl:text>body { counter-reset:</xsl:text>
      <xsl:for-each select="$lists">
        <xsl:variable name="num" select="."/>
        <xsl:for-each select="key('abstract', w:abstractNumId/@w:val)/w:lvl">
          <xsl:call-template name="counter-start"><xsl:with-param name="num" select="$num"/></xsl:call-template>
        </xsl:for-each>
      </xsl:for-each>
      <xsl:text> }&#10;</xsl:text>
      <xsl:for-each select="$lists">
        <xsl:variable name="num" select="."/>
        <xsl:variable name="levels" select="key('abstract', w:abstractNumId/@w:val)/w:lvl[number(@w:ilvl) &gt;= 0
            and number(@w:ilvl) &lt; 10][w:numFmt/@w:val != 'bullet' and w:numFmt/@w:val != 'none']"/>
        <xsl:for-each select="$levels">
          <xsl:variable name="name" select="concat('n', number($num/@w:numId), '-', number(@w:ilvl))"/>
          <xsl:variable name="ilvl" select="number(@w:ilvl)"/>
          <xsl:value-of select="concat('.', $name, ' { counter-increment: ', $name)"/>
          <xsl:variable name="below" select="../w:lvl[number(@w:ilvl) &gt; $ilvl and number(@w:ilvl) &lt; 10]"/>
          <xsl:if test="$below">
            <xsl:text>; counter-reset:</xsl:text>
            <xsl:for-each select="$below">
              <xsl:call-template name="counter-start"><xsl:with-param name="num" select="$num"/></xsl:call-template>
            </xsl:for-each>
          </xsl:if>
          <xsl:value-of select="concat(' }&#10;.', $name, '::before { content: counter(', $name, ', ')"/>
          <xsl:choose>
            <xsl:when test="w:numFmt/@w:val = 'lowerLetter'">lower-alpha</xsl:when>
            <xsl:when test="w:numFmt/@w:val = 'upperLetter'">upper-alpha</xsl:when>
            <xsl:when test="w:numFmt/@w:val = 'lowerRoman'">lower-roman</xsl:when>
            <xsl:when test="w:numFmt/@w:val = 'upperRoman'">upper-roman</xsl:when>
            <xsl:otherwise>decimal</xsl:otherwise>
          </xsl:choose>
          <xsl:text>) ". " }&#10;</xsl:text>
        </xsl:for-each>
      </xsl:for-each>
    </xsl:if>
  </xsl:template>

  <!-- " nN-L S" for the current level of list num: its counter set one below its start. -->
  <xsl:template name="counter-start">
    <xsl:param name="num"/>
    <xsl:variable name="ilvl" select="number(@w:ilvl)"/>
    <xsl:variable name="override" select="number($num/w:lvlOverride[number(@w:ilvl) = $ilvl]/w:startOverride/@w:val)"/>
    <xsl:variable name="start">
      <xsl:choose>
        <xsl:when test="$override = $override"><xsl:value-of select="$override"/></xsl:when>
        <xsl:when test="number(w:start/@w:val) = number(w:start/@w:val)"><xsl:value-of select="number(w:start/@w:val)"/></xsl:when>
        <xsl:otherwise>1</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:if test="$ilvl &gt;= 0 and $ilvl &lt; 10">
      <xsl:value-of select="concat(' n', number($num/@w:numId), '-', $ilvl, ' ', round($start) - 1)"/>
    </xsl:if>
  </xsl:template>

  <!-- Blocks -->

  <xsl:template match="w:p">
    <xsl:variable name="style" select="key('style', w:pPr/w:pStyle/@w:val)"/>
    <xsl:variable name="level">
      <xsl:call-template name="heading-level"><xsl:with-param name="style" select="$style"/></xsl:call-template>
    </xsl:variable>
    <xsl:variable name="numId" select="(w:pPr/w:numPr/w:numId/@w:val | $style[not(current()/w:pPr/w:numPr/w:numId)]
        /w:pPr/w:numPr/w:numId/@w:val)[1]"/>
    <xsl:choose>
      <xsl:when test="$level &gt; 0 and $level &lt; 7">
        <xsl:element name="h{$level}"><xsl:call-template name="align"/><xsl:apply-templates select="*"/></xsl:element>
      </xsl:when>
      <xsl:when test="$level &gt; 6">
        <h6><xsl:apply-templates select="*"/></h6>
      </xsl:when>
      <xsl:when test="$numId and $numId != '0' and key('num', $numId)">
        <xsl:call-template name="list-item">
          <xsl:with-param name="numId" select="$numId"/>
          <xsl:with-param name="ilvl" select="string((w:pPr/w:numPr/w:ilvl/@w:val | $style[not(current()/w:pPr/w:numPr/w:ilvl)]
              /w:pPr/w:numPr/w:ilvl/@w:val)[1])"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test=".//w:txbxContent">
        <!-- A paragraph that anchors text boxes holds blocks, which a p may not. -->
        <div class="p"><xsl:apply-templates select="*"/></div>
      </xsl:when>
      <xsl:otherwise>
        <p><xsl:call-template name="align"/><xsl:apply-templates select="*"/></p>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The class of the current paragraph's alignment, when it is not the usual one. -->
  <xsl:template name="align">
    <xsl:variable name="jc" select="w:pPr/w:jc/@w:val"/>
    <xsl:choose>
      <xsl:when test="$jc = 'center'"><xsl:attribute name="class">center</xsl:attribute></xsl:when>
      <xsl:when test="$jc = 'right' or $jc = 'end'"><xsl:attribute name="class">right</xsl:attribute></xsl:when>
      <xsl:when test="$jc = 'both' or $jc = 'distribute'"><xsl:attribute name="class">justify</xsl:attribute></xsl:when>
    </xsl:choose>
  </xsl:template>

  <!-- The heading level of the current paragraph (0 when it is none): its own outline
       level, else its style's (or the style it is based on), else the style's name
       ("heading 2", "Title"), else the style's id ("Heading2"). -->
  <xsl:template name="heading-level">
    <xsl:param name="style"/>
    <xsl:variable name="based" select="key('style', $style/w:basedOn/@w:val)"/>
    <xsl:variable name="outline" select="(w:pPr/w:outlineLvl/@w:val | $style[not(current()/w:pPr/w:outlineLvl)]
        /w:pPr/w:outlineLvl/@w:val)[1]"/>
    <xsl:variable name="name" select="translate($style/w:name/@w:val, $upper, $lower)"/>
    <xsl:variable name="id" select="w:pPr/w:pStyle/@w:val"/>
    <xsl:choose>
      <xsl:when test="$outline">
        <xsl:choose>
          <xsl:when test="number($outline) &gt;= 0 and number($outline) &lt; 9"><xsl:value-of select="$outline + 1"/></xsl:when>
          <xsl:otherwise>0</xsl:otherwise>
        </xsl:choose>
      </xsl:when>
      <xsl:when test="$name = 'title' or $id = 'Title'">1</xsl:when>
      <xsl:when test="starts-with($name, 'heading ') and number(substring-after($name, ' ')) &gt; 0">
        <xsl:value-of select="number(substring-after($name, ' '))"/>
      </xsl:when>
      <xsl:when test="not($style) and starts-with($id, 'Heading') and number(substring-after($id, 'Heading')) &gt; 0">
        <xsl:value-of select="number(substring-after($id, 'Heading'))"/>
      </xsl:when>
      <xsl:when test="$based/w:pPr/w:outlineLvl[@w:val &gt;= 0 and @w:val &lt; 9]">
        <xsl:value-of select="$based/w:pPr/w:outlineLvl/@w:val + 1"/>
      </xsl:when>
      <xsl:otherwise>0</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A list paragraph: a one-item list of the kind its numbering level gives, indented
       as that level says; a numbered item is a paragraph that the counter of its list
       and level numbers, so numbering goes on across the paragraphs between the items of
       a list (as Word's does) without counting them at each item. -->
  <xsl:template name="list-item">
    <xsl:param name="numId"/>
    <xsl:param name="ilvl"/>
    <xsl:variable name="lvl0" select="string(number(concat('0', $ilvl)))"/>
    <xsl:variable name="num" select="key('num', $numId)"/>
    <xsl:variable name="lvl" select="($num/w:lvlOverride[@w:ilvl = $lvl0]/w:lvl
        | key('abstract', $num/w:abstractNumId/@w:val)/w:lvl[@w:ilvl = $lvl0])[1]"/>
    <xsl:variable name="format" select="string($lvl/w:numFmt/@w:val)"/>
    <xsl:variable name="indent">
      <xsl:choose>
        <xsl:when test="number($lvl/w:pPr/w:ind/@w:left) &gt; 0">
          <xsl:value-of select="round(number($lvl/w:pPr/w:ind/@w:left) div 20)"/>
        </xsl:when>
        <xsl:when test="number($lvl/w:pPr/w:ind/@w:start) &gt; 0">
          <xsl:value-of select="round(number($lvl/w:pPr/w:ind/@w:start) div 20)"/>
        </xsl:when>
        <xsl:otherwise><xsl:value-of select="24 + 24 * $lvl0"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:choose>
      <xsl:when test="$format = 'bullet' or $format = ''">
        <ul style="padding-left: {$indent}pt"><li><xsl:apply-templates select="*"/></li></ul>
      </xsl:when>
      <xsl:when test="$format = 'none'">
        <p style="margin-left: {$indent}pt"><xsl:apply-templates select="*"/></p>
      </xsl:when>
      <xsl:otherwise>
        <!-- Its number is a CSS counter of its list and level (see counter-rules). -->
        <p class="li n{number($numId)}-{$lvl0}" style="padding-left: {$indent}pt"><xsl:apply-templates select="*"/></p>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="w:tbl">
    <table><xsl:apply-templates select="*"/></table>
  </xsl:template>
  <xsl:template match="w:tr">
    <tr><xsl:apply-templates select="*"/></tr>
  </xsl:template>
  <!-- A cell; those of a row repeated as the table's header are header cells. -->
  <xsl:template match="w:tc">
    <xsl:variable name="name">
      <xsl:choose>
        <xsl:when test="../w:trPr/w:tblHeader[not(@w:val = '0' or @w:val = 'false' or @w:val = 'off')]">th</xsl:when>
        <xsl:otherwise>td</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:element name="{$name}">
      <xsl:if test="number(w:tcPr/w:gridSpan/@w:val) &gt; 1">
        <xsl:attribute name="colspan"><xsl:value-of select="number(w:tcPr/w:gridSpan/@w:val)"/></xsl:attribute>
      </xsl:if>
      <xsl:apply-templates select="*"/>
    </xsl:element>
  </xsl:template>

  <!-- Content controls, custom markup, insertions and moves keep their content;
       deletions and moved-away text do not. Of alternative content, the first choice. -->
  <xsl:template match="w:sdt"><xsl:apply-templates select="w:sdtContent/*"/></xsl:template>
  <xsl:template match="mc:AlternateContent">
    <xsl:apply-templates select="(mc:Choice | mc:Fallback)[1]/*"/>
  </xsl:template>
  <xsl:template match="w:del | w:moveFrom | w:delText | w:delInstrText | w:instrText"/>
  <xsl:template match="w:pPr | w:rPr | w:tblPr | w:tblGrid | w:trPr | w:tcPr | w:sectPr | w:sdtPr | w:sdtEndPr"/>
  <xsl:template match="w:bookmarkStart | w:bookmarkEnd | w:proofErr | w:commentRangeStart | w:commentRangeEnd
      | w:commentReference | w:annotationRef | w:fldChar | w:footnoteRef | w:endnoteRef | w:lastRenderedPageBreak"/>

  <!-- Anything else: its elements, never its text; only w:t (and m:t of an equation)
       gives text. -->
  <xsl:template match="*"><xsl:apply-templates select="*"/></xsl:template>
  <xsl:template match="text()"/>

  <!-- Runs -->

  <xsl:template match="w:r">
    <xsl:variable name="rs" select="key('style', w:rPr/w:rStyle/@w:val)/w:rPr"/>
    <xsl:call-template name="bold">
      <xsl:with-param name="on" select="(w:rPr/w:b | $rs[not(current()/w:rPr/w:b)]/w:b)
          [not(@w:val = '0' or @w:val = 'false' or @w:val = 'off')]"/>
      <xsl:with-param name="italic" select="(w:rPr/w:i | $rs[not(current()/w:rPr/w:i)]/w:i)
          [not(@w:val = '0' or @w:val = 'false' or @w:val = 'off')]"/>
      <xsl:with-param name="underline" select="(w:rPr/w:u | $rs[not(current()/w:rPr/w:u)]/w:u)
          [not(@w:val = 'none' or @w:val = '0' or @w:val = 'false')]"/>
      <xsl:with-param name="strike" select="(w:rPr/w:strike | w:rPr/w:dstrike)
          [not(@w:val = '0' or @w:val = 'false' or @w:val = 'off')]"/>
      <xsl:with-param name="sup" select="w:rPr/w:vertAlign/@w:val"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template name="bold">
    <xsl:param name="on"/><xsl:param name="italic"/><xsl:param name="underline"/><xsl:param name="strike"/>
    <xsl:param name="sup"/>
    <xsl:choose>
      <xsl:when test="$on">
        <b><xsl:call-template name="bold">
          <xsl:with-param name="italic" select="$italic"/><xsl:with-param name="underline" select="$underline"/>
          <xsl:with-param name="strike" select="$strike"/><xsl:with-param name="sup" select="$sup"/>
        </xsl:call-template></b>
      </xsl:when>
      <xsl:when test="$italic">
        <i><xsl:call-template name="bold">
          <xsl:with-param name="underline" select="$underline"/>
          <xsl:with-param name="strike" select="$strike"/><xsl:with-param name="sup" select="$sup"/>
        </xsl:call-template></i>
      </xsl:when>
      <xsl:when test="$underline">
        <u><xsl:call-template name="bold">
          <xsl:with-param name="strike" select="$strike"/><xsl:with-param name="sup" select="$sup"/>
        </xsl:call-template></u>
      </xsl:when>
      <xsl:when test="$strike">
        <s><xsl:call-template name="bold"><xsl:with-param name="sup" select="$sup"/></xsl:call-template></s>
      </xsl:when>
      <xsl:when test="$sup = 'superscript'"><sup><xsl:apply-templates select="*"/></sup></xsl:when>
      <xsl:when test="$sup = 'subscript'"><sub><xsl:apply-templates select="*"/></sub></xsl:when>
      <xsl:otherwise><xsl:apply-templates select="*"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="w:t | m:t"><xsl:value-of select="."/></xsl:template>
  <xsl:template match="w:tab | w:ptab"><span class="tab"><xsl:text> </xsl:text></span></xsl:template>
  <xsl:template match="w:br | w:cr"><br/></xsl:template>
  <xsl:template match="w:noBreakHyphen">-</xsl:template>
  <xsl:template match="w:softHyphen"/>
  <!-- A symbol of a symbol font: the common ones by their code, another as a box. -->
  <xsl:template match="w:sym">
    <xsl:variable name="code" select="translate(substring(@w:char, string-length(@w:char) - 1), $lower, $upper)"/>
    <xsl:choose>
      <xsl:when test="$code = 'B7' or $code = '9F' or $code = '6C'">&#8226;</xsl:when>
      <xsl:when test="$code = 'A7' or $code = '6E'">&#9642;</xsl:when>
      <xsl:when test="$code = 'D8' or $code = 'E0' or $code = 'AE' or $code = 'F0'">&#8594;</xsl:when>
      <xsl:when test="$code = 'FC' or $code = '04'">&#10003;</xsl:when>
      <xsl:when test="$code = 'FB' or $code = 'FD'">&#10007;</xsl:when>
      <xsl:when test="$code = 'A8' or $code = '6F' or $code = '71'">&#9633;</xsl:when>
      <xsl:when test="$code = 'D3' or $code = 'E3'">&#169;</xsl:when>
      <xsl:when test="$code = 'D2' or $code = 'E2'">&#174;</xsl:when>
      <xsl:when test="$code = 'D4' or $code = 'E4'">&#8482;</xsl:when>
      <xsl:when test="$code = '2D'">&#8722;</xsl:when>
      <xsl:when test="$code = 'B1'">&#177;</xsl:when>
      <xsl:when test="$code = 'B4'">&#215;</xsl:when>
      <xsl:when test="$code = 'B3'">&#8805;</xsl:when>
      <xsl:when test="$code = 'A3'">&#8804;</xsl:when>
      <xsl:when test="$code = 'B0'">&#176;</xsl:when>
      <xsl:otherwise>&#9633;</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A note's mark: its place among the notes of its kind, in brackets. -->
  <xsl:template match="w:footnoteReference | w:endnoteReference">
    <sup>
      <xsl:text>[</xsl:text>
      <xsl:apply-templates select="key('note', concat(local-name(), @w:id))" mode="number"/>
      <xsl:text>]</xsl:text>
    </sup>
  </xsl:template>
  <!-- The separators that Word and LibreOffice put first among the notes are not counted;
       the notes before are counted without testing each, which a long book of notes
       would pay for at every mark. -->
  <xsl:template match="w:footnote" mode="number">
    <xsl:value-of select="count(preceding-sibling::w:footnote) + 1 - count((../w:footnote[1] | ../w:footnote[2]
        | ../w:footnote[3])[@w:type and @w:type != 'normal'][count(preceding-sibling::w:footnote) &lt;
        count(current()/preceding-sibling::w:footnote)])"/>
  </xsl:template>
  <xsl:template match="w:endnote" mode="number">
    <xsl:number format="i" value="count(preceding-sibling::w:endnote) + 1 - count((../w:endnote[1] | ../w:endnote[2]
        | ../w:endnote[3])[@w:type and @w:type != 'normal'][count(preceding-sibling::w:endnote) &lt;
        count(current()/preceding-sibling::w:endnote)])"/>
  </xsl:template>

  <!-- A link when its target is on the web or a mail address; else its text. -->
  <xsl:template match="w:hyperlink">
    <xsl:variable name="id" select="@r:id"/>
    <xsl:variable name="rel" select="key('rel', concat(key('rels', ancestor::pkg:part/@pkg:name)/@pkg:name, '|', $id))"/>
    <xsl:variable name="target" select="normalize-space($rel/@Target)"/>
    <xsl:variable name="scheme" select="translate(substring-before($target, ':'), $upper, $lower)"/>
    <xsl:choose>
      <xsl:when test="$id and ($scheme = 'http' or $scheme = 'https' or $scheme = 'mailto')">
        <a href="{$target}"><xsl:apply-templates select="*"/></a>
      </xsl:when>
      <xsl:otherwise><xsl:apply-templates select="*"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Drawings and VML pictures: their images and text boxes, wherever they nest. -->
  <xsl:template match="w:drawing | w:pict | w:object">
    <xsl:apply-templates select="*" mode="drawing"/>
  </xsl:template>
  <xsl:template match="*" mode="drawing"><xsl:apply-templates select="*" mode="drawing"/></xsl:template>
  <xsl:template match="mc:AlternateContent" mode="drawing">
    <xsl:apply-templates select="(mc:Choice | mc:Fallback)[1]/*" mode="drawing"/>
  </xsl:template>
  <xsl:template match="w:txbxContent" mode="drawing">
    <div class="textbox"><xsl:apply-templates select="*"/></div>
  </xsl:template>
  <xsl:template match="a:blip" mode="drawing">
    <xsl:call-template name="image">
      <xsl:with-param name="id" select="@r:embed"/>
      <xsl:with-param name="alt" select="ancestor::w:drawing[1]//wp:docPr/@descr"/>
      <xsl:with-param name="width" select="ancestor::*[local-name() = 'pic'][1]/*[local-name() = 'spPr']/a:xfrm/a:ext/@cx"/>
    </xsl:call-template>
  </xsl:template>
  <xsl:template match="v:imagedata" mode="drawing">
    <xsl:call-template name="image">
      <xsl:with-param name="id" select="@r:id"/>
      <xsl:with-param name="alt" select="@o:title"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template name="image">
    <xsl:param name="id"/>
    <xsl:param name="alt"/>
    <xsl:param name="width"/>
    <xsl:variable name="name">
      <xsl:call-template name="related">
        <xsl:with-param name="from" select="ancestor::pkg:part/@pkg:name"/>
        <xsl:with-param name="id" select="$id"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:if test="$name != ''">
      <img src="{concat($files, substring($name, 2))}" alt="{normalize-space($alt)}">
        <!-- As wide as the document shows it (English Metric Units, 9525 to a pixel). -->
        <xsl:if test="number($width) &gt; 0">
          <xsl:attribute name="width"><xsl:value-of select="round(number($width) div 9525)"/></xsl:attribute>
        </xsl:if>
      </img>
    </xsl:if>
  </xsl:template>

  <!-- Relationships -->

  <!-- The part that a relationship of the part named from leads to: the one with the
       given id, else the first whose type ends in the given last step ("/footnotes").
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

  <!-- The part name of a relationship's target, relative to the folder base ("/word/"):
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
