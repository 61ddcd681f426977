<?xml version="1.0" encoding="UTF-8"?>
<!-- Renders a FictionBook 2 book as an HTML page: the title, authors, annotation and cover,
     the sections of the main body with their titles, epigraphs, poems, citations, tables and
     pictures, and the notes with links from their marks. Elements go by their local names, so a
     book written with a wrong namespace shows as well. The pictures are the files corvane writes
     beside the copy from the binary elements, each named by its id. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>
  <xsl:variable name="book" select="/*[local-name() = 'FictionBook']"/>
  <xsl:variable name="info" select="$book/*[local-name() = 'description']/*[local-name() = 'title-info']"/>
  <xsl:variable name="bodies" select="$book/*[local-name() = 'body']"/>
  <xsl:variable name="notes" select="$bodies[position() &gt; 1][@name = 'notes' or @name = 'comments'
      or @name = 'footnotes']"/>

  <xsl:template match="/">
    <html>
      <head>
        <title>
          <xsl:choose>
            <xsl:when test="normalize-space($info/*[local-name() = 'book-title']) != ''">
              <xsl:value-of select="normalize-space($info/*[local-name() = 'book-title'])"/>
            </xsl:when>
            <xsl:otherwise>FictionBook</xsl:otherwise>
          </xsl:choose>
        </title>
        <style>
          body { max-width: 40em; margin: 1em auto; padding: 0 1em; font-family: serif; font-size: 1.1em; line-height: 1.5 }
          h1, h2, h3, h4, h5, h6 { font-family: sans-serif; text-align: center }
          p { margin: 0.3em 0; text-indent: 1.5em }
          .book-title { font-size: 2em }
          .authors { text-align: center; font-size: 1.2em; text-indent: 0 }
          .annotation { font-style: italic; margin: 1em 2em }
          .cover, .picture { text-align: center; margin: 1em 0 }
          img { max-width: 100%; height: auto }
          .body-title { text-align: center; font-size: 1.4em; font-weight: bold; margin: 1em 0 }
          .body-title p, h1 p, h2 p, h3 p, h4 p, h5 p, h6 p, .subtitle, .text-author, .v, td p, th p { text-indent: 0 }
          .epigraph { margin: 1em 0 1em 40%; font-style: italic }
          .text-author { text-align: right; font-weight: bold }
          .poem { margin: 1em 0 1em 2em }
          .stanza { margin: 0.5em 0 }
          .subtitle { text-align: center; font-weight: bold }
          blockquote { margin: 1em 2em }
          table { border-collapse: collapse; margin: 1em auto }
          td, th { border: 1px solid #888; padding: 0.2em 0.5em; vertical-align: top }
          th { background: #eee }
          .notes { border-top: 1px solid #888; margin-top: 2em; font-size: 0.9em }
          .notes h2, .notes h3, .notes h4 { font-size: 1em; text-align: left; margin: 0.8em 0 0.2em }
          .info { border-top: 1px solid #ccc; margin-top: 2em; font-size: 0.8em; color: #555 }
          .info p { text-indent: 0 }
        </style>
      </head>
      <body>
        <xsl:call-template name="title-page"/>
        <xsl:apply-templates select="$bodies[count(. | $notes) != count($notes)]"/>
        <xsl:for-each select="$notes">
          <div class="notes">
            <xsl:if test="not(*[local-name() = 'title'])"><h2>Notes</h2></xsl:if>
            <xsl:apply-templates select="."/>
          </div>
        </xsl:for-each>
        <xsl:call-template name="book-info"/>
      </body>
    </html>
  </xsl:template>

  <!-- The title page from the description: title, authors, cover, annotation, series. -->
  <xsl:template name="title-page">
    <xsl:if test="normalize-space($info/*[local-name() = 'book-title']) != ''">
      <h1 class="book-title"><xsl:value-of select="$info/*[local-name() = 'book-title']"/></h1>
    </xsl:if>
    <xsl:if test="$info/*[local-name() = 'author']">
      <p class="authors">
        <xsl:for-each select="$info/*[local-name() = 'author']">
          <xsl:if test="position() &gt; 1">, </xsl:if>
          <xsl:call-template name="person"/>
        </xsl:for-each>
      </p>
    </xsl:if>
    <xsl:for-each select="$info/*[local-name() = 'sequence'][@name]">
      <p class="authors">
        <xsl:value-of select="@name"/>
        <xsl:if test="@number"><xsl:text> </xsl:text><xsl:value-of select="@number"/></xsl:if>
      </p>
    </xsl:for-each>
    <xsl:for-each select="$info/*[local-name() = 'coverpage']/*[local-name() = 'image']">
      <div class="cover"><xsl:call-template name="picture"/></div>
    </xsl:for-each>
    <xsl:for-each select="$info/*[local-name() = 'annotation']">
      <div class="annotation"><xsl:apply-templates/></div>
    </xsl:for-each>
  </xsl:template>

  <xsl:template name="person">
    <xsl:variable name="name">
      <xsl:for-each select="*[local-name() = 'first-name' or local-name() = 'middle-name'
          or local-name() = 'last-name']">
        <xsl:value-of select="normalize-space()"/><xsl:text> </xsl:text>
      </xsl:for-each>
    </xsl:variable>
    <xsl:choose>
      <xsl:when test="normalize-space($name) != ''"><xsl:value-of select="normalize-space($name)"/></xsl:when>
      <xsl:otherwise><xsl:value-of select="normalize-space(*[local-name() = 'nickname'])"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Who made and published the book, small, at the end. -->
  <xsl:template name="book-info">
    <xsl:variable name="desc" select="$book/*[local-name() = 'description']"/>
    <xsl:variable name="parts" select="$desc/*[local-name() = 'publish-info' or local-name() = 'document-info'
        or local-name() = 'custom-info'][normalize-space()]
        | $info/*[local-name() = 'translator' or local-name() = 'date' or local-name() = 'keywords'
        or local-name() = 'genre'][normalize-space()]"/>
    <xsl:if test="$parts">
      <div class="info">
        <xsl:for-each select="$parts">
          <xsl:choose>
            <xsl:when test="*">
              <xsl:for-each select="*[normalize-space()]">
                <p>
                  <xsl:value-of select="local-name()"/>
                  <xsl:text>: </xsl:text>
                  <xsl:choose>
                    <xsl:when test="local-name() = 'author'"><xsl:call-template name="person"/></xsl:when>
                    <xsl:when test="local-name() = 'history'"><xsl:apply-templates/></xsl:when>
                    <xsl:otherwise><xsl:value-of select="normalize-space()"/></xsl:otherwise>
                  </xsl:choose>
                </p>
              </xsl:for-each>
            </xsl:when>
            <xsl:otherwise>
              <p><xsl:value-of select="local-name()"/>: <xsl:value-of select="normalize-space()"/></p>
            </xsl:otherwise>
          </xsl:choose>
        </xsl:for-each>
      </div>
    </xsl:if>
  </xsl:template>

  <xsl:template match="*[local-name() = 'body']">
    <div class="body"><xsl:apply-templates/></div>
  </xsl:template>

  <!-- Titles: the body's as the book's heading, a section's by its depth. -->
  <xsl:template match="*[local-name() = 'title']">
    <xsl:variable name="depth" select="count(ancestor::*[local-name() = 'section'])"/>
    <xsl:choose>
      <xsl:when test="parent::*[local-name() = 'body']">
        <div class="body-title"><xsl:apply-templates/></div>
      </xsl:when>
      <xsl:when test="parent::*[local-name() = 'section']">
        <xsl:element name="h{1 + $depth * ($depth &lt;= 5) + 5 * ($depth &gt; 5)}">
          <xsl:call-template name="title-lines"/>
        </xsl:element>
      </xsl:when>
      <xsl:otherwise>
        <p class="subtitle"><xsl:call-template name="title-lines"/></p>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>
  <xsl:template name="title-lines">
    <xsl:for-each select="*">
      <xsl:if test="position() &gt; 1"><br/></xsl:if>
      <xsl:if test="local-name() != 'empty-line'"><xsl:apply-templates/></xsl:if>
    </xsl:for-each>
  </xsl:template>

  <xsl:template match="*[local-name() = 'section']">
    <div class="section">
      <xsl:if test="@id"><xsl:attribute name="id">n-<xsl:value-of select="@id"/></xsl:attribute></xsl:if>
      <xsl:apply-templates/>
    </div>
  </xsl:template>

  <xsl:template match="*[local-name() = 'p']">
    <p>
      <xsl:if test="@id"><xsl:attribute name="id">n-<xsl:value-of select="@id"/></xsl:attribute></xsl:if>
      <xsl:apply-templates/>
    </p>
  </xsl:template>
  <xsl:template match="*[local-name() = 'empty-line']"><p>&#160;</p></xsl:template>
  <xsl:template match="*[local-name() = 'subtitle']"><p class="subtitle"><xsl:apply-templates/></p></xsl:template>
  <xsl:template match="*[local-name() = 'text-author']"><p class="text-author"><xsl:apply-templates/></p></xsl:template>
  <xsl:template match="*[local-name() = 'epigraph']"><div class="epigraph"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="*[local-name() = 'cite']"><blockquote><xsl:apply-templates/></blockquote></xsl:template>
  <xsl:template match="*[local-name() = 'annotation']"><div class="annotation"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="*[local-name() = 'poem']"><div class="poem"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="*[local-name() = 'stanza']"><div class="stanza"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="*[local-name() = 'v']"><div class="v"><xsl:apply-templates/></div></xsl:template>
  <xsl:template match="*[local-name() = 'date']">
    <p class="text-author"><xsl:apply-templates/></p>
  </xsl:template>

  <xsl:template match="*[local-name() = 'strong']"><strong><xsl:apply-templates/></strong></xsl:template>
  <xsl:template match="*[local-name() = 'emphasis']"><em><xsl:apply-templates/></em></xsl:template>
  <xsl:template match="*[local-name() = 'strikethrough']"><s><xsl:apply-templates/></s></xsl:template>
  <xsl:template match="*[local-name() = 'sub']"><sub><xsl:apply-templates/></sub></xsl:template>
  <xsl:template match="*[local-name() = 'sup']"><sup><xsl:apply-templates/></sup></xsl:template>
  <xsl:template match="*[local-name() = 'code']"><code><xsl:apply-templates/></code></xsl:template>

  <xsl:template match="*[local-name() = 'table']">
    <table><xsl:apply-templates select="*[local-name() = 'tr']"/></table>
  </xsl:template>
  <xsl:template match="*[local-name() = 'tr']">
    <tr><xsl:apply-templates select="*[local-name() = 'td' or local-name() = 'th']"/></tr>
  </xsl:template>
  <xsl:template match="*[local-name() = 'td' or local-name() = 'th']">
    <xsl:element name="{local-name()}">
      <xsl:if test="number(@colspan) &gt; 1">
        <xsl:attribute name="colspan"><xsl:value-of select="number(@colspan)"/></xsl:attribute>
      </xsl:if>
      <xsl:if test="number(@rowspan) &gt; 1">
        <xsl:attribute name="rowspan"><xsl:value-of select="number(@rowspan)"/></xsl:attribute>
      </xsl:if>
      <xsl:apply-templates/>
    </xsl:element>
  </xsl:template>

  <!-- Links: to a note or section of the book, to the web or to mail; anything else is text. -->
  <xsl:template match="*[local-name() = 'a']">
    <xsl:variable name="href" select="normalize-space(@*[local-name() = 'href'])"/>
    <xsl:variable name="scheme" select="translate(substring-before($href, ':'), $upper, $lower)"/>
    <xsl:choose>
      <xsl:when test="starts-with($href, '#') and @type = 'note' and not(parent::*[local-name() = 'sup'])">
        <sup class="noteref"><a href="#n-{substring($href, 2)}"><xsl:apply-templates/></a></sup>
      </xsl:when>
      <xsl:when test="starts-with($href, '#')">
        <a href="#n-{substring($href, 2)}"><xsl:apply-templates/></a>
      </xsl:when>
      <xsl:when test="$scheme = 'http' or $scheme = 'https' or $scheme = 'mailto'">
        <a href="{$href}"><xsl:apply-templates/></a>
      </xsl:when>
      <xsl:otherwise><xsl:apply-templates/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Pictures: a block of their own in a section, inline in a paragraph. -->
  <xsl:template match="*[local-name() = 'image']">
    <xsl:choose>
      <xsl:when test="parent::*[local-name() = 'p' or local-name() = 'v' or local-name() = 'subtitle'
          or local-name() = 'text-author' or local-name() = 'td' or local-name() = 'th' or local-name() = 'a']">
        <xsl:call-template name="picture"/>
      </xsl:when>
      <xsl:otherwise>
        <div class="picture">
          <xsl:if test="@id"><xsl:attribute name="id">n-<xsl:value-of select="@id"/></xsl:attribute></xsl:if>
          <xsl:call-template name="picture"/>
          <xsl:if test="normalize-space(@title) != ''">
            <p class="subtitle"><xsl:value-of select="@title"/></p>
          </xsl:if>
        </div>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- "#name" names the binary "name", written beside the page; other targets are not fetched. -->
  <xsl:template name="picture">
    <xsl:variable name="href" select="normalize-space(@*[local-name() = 'href'])"/>
    <xsl:if test="starts-with($href, '#') and string-length($href) &gt; 1">
      <xsl:variable name="src">
        <xsl:call-template name="escape">
          <xsl:with-param name="text" select="substring($href, 2)"/>
        </xsl:call-template>
      </xsl:variable>
      <img src="{$src}" alt="{normalize-space(@alt)}"/>
    </xsl:if>
  </xsl:template>

  <!-- A file name as a relative URL: "%", "#", "?", ":" and "\" would otherwise change its meaning
       (a name's ":" would read as a scheme, a leading "\" as another host). A binary's id names a file
       beside the page, so a "/" in it is escaped too: it stays one name and never leads elsewhere. -->
  <xsl:template name="escape">
    <xsl:param name="text"/>
    <xsl:variable name="c" select="substring($text, 1, 1)"/>
    <xsl:choose>
      <xsl:when test="$text = ''"/>
      <xsl:when test="not(contains($text, '%') or contains($text, '#') or contains($text, '?')
          or contains($text, ':') or contains($text, '\') or contains($text, '/'))">
        <xsl:value-of select="$text"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:choose>
          <xsl:when test="$c = '%'">%25</xsl:when>
          <xsl:when test="$c = '#'">%23</xsl:when>
          <xsl:when test="$c = '?'">%3F</xsl:when>
          <xsl:when test="$c = ':'">%3A</xsl:when>
          <xsl:when test="$c = '\'">%5C</xsl:when>
          <xsl:when test="$c = '/'">%2F</xsl:when>
          <xsl:otherwise><xsl:value-of select="$c"/></xsl:otherwise>
        </xsl:choose>
        <xsl:call-template name="escape"><xsl:with-param name="text" select="substring($text, 2)"/></xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="*[local-name() = 'binary' or local-name() = 'description' or local-name() = 'stylesheet'
      or local-name() = 'script' or local-name() = 'style']"/>

  <!-- Anything else shows its text. -->
  <xsl:template match="*"><xsl:apply-templates/></xsl:template>
</xsl:stylesheet>
