<?xml version="1.0" encoding="UTF-8"?>
<!-- Renders a FictionBook document as an HTML page. The images are the files that
     corvane writes beside the .XML copy, named by the binary elements' ids. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:fb="http://www.gribuser.ru/xml/fictionbook/2.0" xmlns:l="http://www.w3.org/1999/xlink">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:template match="/fb:FictionBook">
    <html>
      <head><title><xsl:value-of select="fb:description/fb:title-info/fb:book-title"/></title></head>
      <body style="max-width: 40em; margin: auto; font-family: serif">
        <xsl:apply-templates select="fb:description/fb:title-info"/>
        <xsl:apply-templates select="fb:body"/>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="fb:title-info">
    <h1 class="book-title"><xsl:value-of select="fb:book-title"/></h1>
    <p class="author"><xsl:value-of select="fb:author/fb:first-name"/>
      <xsl:text> </xsl:text><xsl:value-of select="fb:author/fb:last-name"/></p>
    <xsl:apply-templates select="fb:coverpage/fb:image"/>
  </xsl:template>

  <xsl:template match="fb:body/fb:title"/>
  <xsl:template match="fb:section/fb:title"><h2><xsl:value-of select="."/></h2></xsl:template>
  <xsl:template match="fb:p"><p><xsl:value-of select="."/></p></xsl:template>

  <!-- "#name" in the book names the payload file "name" beside the page. -->
  <xsl:template match="fb:image">
    <img src="{substring-after(@l:href, '#')}" alt="{substring-after(@l:href, '#')}"/>
  </xsl:template>
</xsl:stylesheet>
