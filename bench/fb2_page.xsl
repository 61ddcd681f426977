<?xml version="1.0" encoding="UTF-8"?>
<!-- A FictionBook 2 book as one HTML page: the description, the bodies with their
     nested sections, titles, epigraphs, poems, citations, tables, notes and images.
     Images are the payload files corvane writes beside the page ("#name" in the
     book names the file "name"). Used by the benchmark and the tests of the page.  -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:fb="http://www.gribuser.ru/xml/fictionbook/2.0" xmlns:l="http://www.w3.org/1999/xlink"
    exclude-result-prefixes="fb l">
  <xsl:output method="html" encoding="UTF-8" doctype-public="-//W3C//DTD HTML 4.01//EN"/>
  <xsl:key name="note" match="fb:body[@name='notes']//fb:section" use="@id"/>

  <xsl:template match="/fb:FictionBook">
    <xsl:variable name="info" select="fb:description/fb:title-info"/>
    <html lang="{$info/fb:lang}">
      <head>
        <title><xsl:value-of select="$info/fb:book-title"/></title>
        <style>body { max-width: 42em; margin: auto; font-family: serif; line-height: 1.4 }
          .epigraph, .cite { margin-left: 30%; font-style: italic } .stanza { margin: 1em 3em }
          img { max-width: 100% } .note { font-size: smaller }</style>
      </head>
      <body>
        <xsl:apply-templates select="$info"/>
        <xsl:if test="count(fb:body/fb:section) &gt; 1">
          <ul class="contents">
            <xsl:for-each select="fb:body[not(@name)]/fb:section">
              <li><a href="#s{generate-id()}"><xsl:value-of select="normalize-space(fb:title)"/></a></li>
            </xsl:for-each>
          </ul>
        </xsl:if>
        <xsl:apply-templates select="fb:body"/>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="fb:title-info">
    <h1 class="book-title"><xsl:value-of select="fb:book-title"/></h1>
    <xsl:for-each select="fb:author">
      <p class="author"><xsl:value-of select="normalize-space(concat(fb:first-name, ' ', fb:middle-name, ' ',
        fb:last-name, ' ', fb:nickname))"/></p>
    </xsl:for-each>
    <xsl:apply-templates select="fb:coverpage/fb:image"/>
    <xsl:if test="fb:annotation"><div class="annotation"><xsl:apply-templates select="fb:annotation/*"/></div></xsl:if>
  </xsl:template>

  <xsl:template match="fb:body">
    <div class="body">
      <xsl:if test="@name"><xsl:attribute name="class">body <xsl:value-of select="@name"/></xsl:attribute></xsl:if>
      <xsl:apply-templates/>
    </div>
  </xsl:template>

  <xsl:template match="fb:section">
    <div class="section" id="s{generate-id()}">
      <xsl:if test="@id"><a name="{@id}"/></xsl:if>
      <xsl:apply-templates/>
    </div>
  </xsl:template>

  <!-- Headings follow the nesting: a body's title is h1, a top section's h2 ... -->
  <xsl:template match="fb:title">
    <xsl:variable name="level" select="count(ancestor::fb:section) + 1"/>
    <xsl:element name="h{($level &gt; 6) * 6 + ($level &lt;= 6) * $level}">
      <xsl:for-each select="fb:p"><xsl:if test="position() &gt; 1"><br/></xsl:if><xsl:apply-templates/></xsl:for-each>
    </xsl:element>
  </xsl:template>

  <xsl:template match="fb:p"><p><xsl:apply-templates/></p></xsl:template>
  <xsl:template match="fb:subtitle"><h4 class="subtitle"><xsl:apply-templates/></h4></xsl:template>
  <xsl:template match="fb:empty-line"><br/></xsl:template>
  <xsl:template match="fb:epigraph"><div class="epigraph"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="fb:cite"><blockquote class="cite"><xsl:apply-templates/></blockquote></xsl:template>
  <xsl:template match="fb:text-author"><p class="text-author"><xsl:apply-templates/></p></xsl:template>
  <xsl:template match="fb:poem"><div class="poem"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="fb:stanza"><div class="stanza"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="fb:v"><xsl:apply-templates/><br/></xsl:template>
  <xsl:template match="fb:emphasis"><em><xsl:apply-templates/></em></xsl:template>
  <xsl:template match="fb:strong"><strong><xsl:apply-templates/></strong></xsl:template>
  <xsl:template match="fb:strikethrough"><s><xsl:apply-templates/></s></xsl:template>
  <xsl:template match="fb:sub"><sub><xsl:apply-templates/></sub></xsl:template>
  <xsl:template match="fb:sup"><sup><xsl:apply-templates/></sup></xsl:template>
  <xsl:template match="fb:code"><code><xsl:apply-templates/></code></xsl:template>
  <xsl:template match="fb:table"><table border="1"><xsl:apply-templates/></table></xsl:template>
  <xsl:template match="fb:tr"><tr><xsl:apply-templates/></tr></xsl:template>
  <xsl:template match="fb:th"><th><xsl:apply-templates/></th></xsl:template>
  <xsl:template match="fb:td"><td><xsl:apply-templates/></td></xsl:template>

  <!-- A note reference shows the note's text as its title. -->
  <xsl:template match="fb:a">
    <a href="{@l:href}">
      <xsl:variable name="note" select="key('note', substring-after(@l:href, '#'))"/>
      <xsl:if test="$note"><xsl:attribute name="title"><xsl:value-of select="normalize-space($note/fb:p)"/></xsl:attribute></xsl:if>
      <xsl:apply-templates/>
    </a>
  </xsl:template>

  <xsl:template match="fb:image">
    <img src="{substring-after(@l:href, '#')}" alt="{@alt}"/>
  </xsl:template>
  <xsl:template match="fb:section/fb:image | fb:body/fb:image | fb:coverpage/fb:image">
    <div class="image"><img src="{substring-after(@l:href, '#')}" alt="{@alt}"/></div>
  </xsl:template>
</xsl:stylesheet>
