<?xml version="1.0" encoding="UTF-8"?>
<!-- Renders the main part of a Word document (word/document.xml of a .docx) as an HTML
     page: headings, paragraphs with bold and italic runs, tables and pictures. A
     picture names its image by a relationship id; corvane, given its fourth argument,
     writes the images beside the .XML copy together with document.xml.rels, where the
     id leads to the image's name. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"
    xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"
    xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    xmlns:rel="http://schemas.openxmlformats.org/package/2006/relationships"
    exclude-result-prefixes="w a r rel">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:template match="/w:document">
    <html>
      <head>
        <title><xsl:value-of select="(//w:p[w:pPr/w:pStyle/@w:val = 'Title' or
            starts-with(w:pPr/w:pStyle/@w:val, 'Heading')])[1]"/></title>
        <style>
          body { max-width: 45em; margin: auto; font-family: sans-serif }
          table { border-collapse: collapse } td { border: 1px solid #888; padding: 0.2em 0.5em }
        </style>
      </head>
      <body><xsl:apply-templates select="w:body/*"/></body>
    </html>
  </xsl:template>

  <!-- A paragraph, or a heading when its style is Title or Heading1 to Heading6. -->
  <xsl:template match="w:p">
    <xsl:variable name="style" select="w:pPr/w:pStyle/@w:val"/>
    <xsl:variable name="level" select="substring-after($style, 'Heading')"/>
    <xsl:choose>
      <xsl:when test="$style = 'Title'"><h1 class="title"><xsl:apply-templates select="w:r"/></h1></xsl:when>
      <xsl:when test="string-length($level) = 1 and contains('123456', $level)">
        <xsl:element name="h{$level}"><xsl:apply-templates select="w:r"/></xsl:element>
      </xsl:when>
      <xsl:otherwise><p><xsl:apply-templates select="w:r | w:hyperlink/w:r"/></p></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="w:r">
    <xsl:choose>
      <xsl:when test="w:rPr/w:b[not(@w:val = '0' or @w:val = 'false')]"><b><xsl:apply-templates/></b></xsl:when>
      <xsl:when test="w:rPr/w:i[not(@w:val = '0' or @w:val = 'false')]"><i><xsl:apply-templates/></i></xsl:when>
      <xsl:otherwise><xsl:apply-templates/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
  <xsl:template match="w:t"><xsl:value-of select="."/></xsl:template>
  <xsl:template match="w:tab"><xsl:text> </xsl:text></xsl:template>
  <xsl:template match="w:br"><br/></xsl:template>
  <xsl:template match="w:rPr"/>

  <xsl:template match="w:tbl">
    <table>
      <xsl:for-each select="w:tr">
        <tr><xsl:for-each select="w:tc"><td><xsl:apply-templates select="w:p | w:tbl"/></td></xsl:for-each></tr>
      </xsl:for-each>
    </table>
  </xsl:template>

  <!-- A picture: its relationship id, through document.xml.rels beside the copy, gives
       the image's part name; the image lies beside the copy under its last step. -->
  <xsl:template match="w:drawing">
    <xsl:for-each select=".//a:blip">
      <xsl:variable name="id" select="@r:embed"/>
      <xsl:variable name="target"
          select="document('document.xml.rels', /)/rel:Relationships/rel:Relationship[@Id = $id]/@Target"/>
      <xsl:variable name="name">
        <xsl:call-template name="last-step"><xsl:with-param name="path" select="$target"/></xsl:call-template>
      </xsl:variable>
      <img src="{$name}" alt="{$name}"/>
    </xsl:for-each>
  </xsl:template>

  <xsl:template name="last-step">
    <xsl:param name="path"/>
    <xsl:choose>
      <xsl:when test="contains($path, '/')">
        <xsl:call-template name="last-step">
          <xsl:with-param name="path" select="substring-after($path, '/')"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$path"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="w:sectPr | w:bookmarkStart | w:bookmarkEnd"/>
</xsl:stylesheet>
