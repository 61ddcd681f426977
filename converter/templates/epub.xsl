<?xml version="1.0" encoding="UTF-8"?>
<!-- Renders an EPUB book (2 or 3) as one HTML page. It reads the flat form of the package: a
     pkg:package whose parts are the container, the package document and the XHTML documents of
     the spine in reading order. The page shows the book's title and authors, the cover when no
     document of the spine shows it already, then every document as a section. The documents'
     markup is rebuilt element by element from a fixed list of harmless elements; no attribute
     passes but a link's target (web and mail only, or another section of the book), a picture's
     source and text, and a table cell's spans. Pictures are the files written under the
     package's xml:base, each at its part name. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:pkg="http://schemas.microsoft.com/office/2006/xmlPackage"
    exclude-result-prefixes="pkg">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>
  <!-- Where the pictures are: the root's xml:base (the flat form's "NAME_files/"), as a relative
       URL. A base that would lead off the page's folder (from the root or to another host) is not
       taken. -->
  <xsl:variable name="base">
    <xsl:if test="not(starts-with(/*/@xml:base, '/'))">
      <xsl:call-template name="escape"><xsl:with-param name="text" select="string(/*/@xml:base)"/></xsl:call-template>
    </xsl:if>
  </xsl:variable>
  <xsl:variable name="parts" select="/*/pkg:part"/>
  <xsl:variable name="opf-part" select="$parts[pkg:xmlData/*[local-name() = 'package']][1]"/>
  <xsl:variable name="opf" select="$opf-part/pkg:xmlData/*"/>
  <xsl:variable name="metadata" select="$opf/*[local-name() = 'metadata']"/>
  <xsl:variable name="documents" select="$parts[pkg:xmlData/*[local-name() = 'html']]"/>

  <!-- Elements rebuilt as they are, and elements that become a div (blocks, and the frames, objects,
       forms and media whose own markup never passes, so that their fallback text stays apart). Any
       other element shows its content alone. -->
  <xsl:variable name="kept" select="concat('|p|h1|h2|h3|h4|h5|h6|div|section|article|aside|header|footer|',
      'blockquote|pre|code|ul|ol|li|dl|dt|dd|table|thead|tbody|tfoot|tr|th|td|caption|em|i|strong|b|u|s|',
      'sub|sup|small|span|br|hr|figure|figcaption|')"/>
  <xsl:variable name="as-div" select="concat('|nav|main|address|center|details|summary|hgroup|fieldset|legend|body|',
      'iframe|object|form|video|audio|canvas|noscript|frameset|frame|noframes|select|textarea|button|')"/>
  <!-- Left out with their content: code, styling and the document's head. -->
  <xsl:variable name="dropped" select="'|script|style|link|meta|head|title|template|base|embed|param|input|'"/>

  <xsl:template match="/">
    <xsl:variable name="title" select="normalize-space($metadata/*[local-name() = 'title'][1])"/>
    <html>
      <head>
        <title>
          <xsl:choose>
            <xsl:when test="$title != ''"><xsl:value-of select="$title"/></xsl:when>
            <xsl:otherwise>EPUB</xsl:otherwise>
          </xsl:choose>
        </title>
        <style>
          body { max-width: 40em; margin: 1em auto; padding: 0 1em; font-family: serif; font-size: 1.1em; line-height: 1.5 }
          h1, h2, h3, h4, h5, h6 { font-family: sans-serif }
          .book-title { text-align: center; font-size: 2em }
          .authors { text-align: center; font-size: 1.2em }
          .cover { text-align: center; margin: 1em 0 }
          img { max-width: 100%; height: auto }
          .part { border-top: 1px solid #ccc; margin-top: 2em; padding-top: 0.5em }
          table { border-collapse: collapse; margin: 0.5em 0 }
          td, th { border: 1px solid #888; padding: 0.2em 0.5em; vertical-align: top }
          th { background: #eee }
          pre { white-space: pre-wrap }
          blockquote { margin: 1em 2em }
          aside { font-size: smaller; border-left: 3px solid #ccc; padding-left: 0.5em }
        </style>
      </head>
      <body>
        <xsl:if test="$title != ''"><h1 class="book-title"><xsl:value-of select="$title"/></h1></xsl:if>
        <xsl:if test="$metadata/*[local-name() = 'creator'][normalize-space()]">
          <p class="authors">
            <xsl:for-each select="$metadata/*[local-name() = 'creator'][normalize-space()]">
              <xsl:if test="position() &gt; 1">, </xsl:if>
              <xsl:value-of select="normalize-space()"/>
            </xsl:for-each>
          </p>
        </xsl:if>
        <xsl:call-template name="cover"/>
        <xsl:for-each select="$documents">
          <section class="part" id="{generate-id()}">
            <xsl:apply-templates select="pkg:xmlData/*/*[local-name() = 'body']/node()">
              <xsl:with-param name="folder">
                <xsl:call-template name="folder"><xsl:with-param name="path" select="substring(@pkg:name, 2)"/></xsl:call-template>
              </xsl:with-param>
            </xsl:apply-templates>
          </section>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>

  <!-- The cover the package document names (EPUB 3: the item with the property cover-image;
       EPUB 2: the item a meta named "cover" gives), unless a document of the spine shows it. -->
  <xsl:template name="cover">
    <xsl:variable name="manifest" select="$opf/*[local-name() = 'manifest']/*[local-name() = 'item']"/>
    <xsl:variable name="cover-id" select="$metadata/*[local-name() = 'meta'][@name = 'cover'][1]/@content"/>
    <xsl:variable name="item" select="($manifest[contains(concat(' ', normalize-space(@properties), ' '), ' cover-image ')]
        | $manifest[@id = $cover-id][starts-with(@media-type, 'image/')])[1]"/>
    <xsl:if test="$item">
      <xsl:variable name="file">
        <xsl:call-template name="last-step"><xsl:with-param name="path" select="$item/@href"/></xsl:call-template>
      </xsl:variable>
      <xsl:variable name="shown" select="$documents//*[local-name() = 'img' or local-name() = 'image']
          [@*[local-name() = 'src' or local-name() = 'href']
            [substring(., string-length(.) - string-length($file) + 1) = $file]]"/>
      <xsl:if test="not($shown)">
        <xsl:variable name="folder">
          <xsl:call-template name="folder"><xsl:with-param name="path" select="substring($opf-part/@pkg:name, 2)"/></xsl:call-template>
        </xsl:variable>
        <div class="cover">
          <xsl:call-template name="picture">
            <xsl:with-param name="href" select="$item/@href"/>
            <xsl:with-param name="folder" select="$folder"/>
            <xsl:with-param name="alt" select="'Cover'"/>
          </xsl:call-template>
        </div>
      </xsl:if>
    </xsl:if>
  </xsl:template>

  <!-- The rebuilding of a document's body. -->
  <xsl:template match="*">
    <xsl:param name="folder"/>
    <xsl:variable name="name" select="translate(local-name(), $upper, $lower)"/>
    <xsl:variable name="key" select="concat('|', $name, '|')"/>
    <xsl:choose>
      <xsl:when test="contains($dropped, $key)"/>
      <xsl:when test="$name = 'img'">
        <xsl:call-template name="picture">
          <xsl:with-param name="href" select="@src"/>
          <xsl:with-param name="folder" select="$folder"/>
          <xsl:with-param name="alt" select="@alt"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test="$name = 'svg'">
        <xsl:for-each select=".//*[local-name() = 'image']">
          <xsl:call-template name="picture">
            <xsl:with-param name="href" select="@*[local-name() = 'href']"/>
            <xsl:with-param name="folder" select="$folder"/>
            <xsl:with-param name="alt" select="''"/>
          </xsl:call-template>
        </xsl:for-each>
      </xsl:when>
      <xsl:when test="$name = 'a'">
        <xsl:call-template name="link"><xsl:with-param name="folder" select="$folder"/></xsl:call-template>
      </xsl:when>
      <xsl:when test="$name = 'td' or $name = 'th'">
        <xsl:element name="{$name}">
          <xsl:if test="number(@colspan) &gt; 1 and number(@colspan) &lt; 1000">
            <xsl:attribute name="colspan"><xsl:value-of select="number(@colspan)"/></xsl:attribute>
          </xsl:if>
          <xsl:if test="number(@rowspan) &gt; 1 and number(@rowspan) &lt; 10000">
            <xsl:attribute name="rowspan"><xsl:value-of select="number(@rowspan)"/></xsl:attribute>
          </xsl:if>
          <xsl:apply-templates><xsl:with-param name="folder" select="$folder"/></xsl:apply-templates>
        </xsl:element>
      </xsl:when>
      <xsl:when test="contains($kept, $key)">
        <xsl:element name="{$name}">
          <xsl:apply-templates><xsl:with-param name="folder" select="$folder"/></xsl:apply-templates>
        </xsl:element>
      </xsl:when>
      <xsl:when test="contains($as-div, $key)">
        <div><xsl:apply-templates><xsl:with-param name="folder" select="$folder"/></xsl:apply-templates></div>
      </xsl:when>
      <xsl:otherwise>
        <xsl:apply-templates><xsl:with-param name="folder" select="$folder"/></xsl:apply-templates>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="comment() | processing-instruction()"/>

  <!-- A link to the web or to mail stays a link, one to another document of the book leads to its
       section; any other target leaves the text alone. -->
  <xsl:template name="link">
    <xsl:param name="folder"/>
    <xsl:variable name="href" select="normalize-space(@href | @*[local-name() = 'href'][not(../@href)])"/>
    <xsl:variable name="scheme" select="translate(substring-before($href, ':'), $upper, $lower)"/>
    <xsl:variable name="file">
      <xsl:choose>
        <xsl:when test="contains($href, '#')"><xsl:value-of select="substring-before($href, '#')"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="$href"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="target">
      <xsl:if test="$file != '' and not(contains($file, ':'))">
        <xsl:call-template name="resolve">
          <xsl:with-param name="folder" select="$folder"/>
          <xsl:with-param name="path" select="$file"/>
        </xsl:call-template>
      </xsl:if>
    </xsl:variable>
    <xsl:variable name="section" select="$documents[$target != ''][@pkg:name = concat('/', $target)]"/>
    <xsl:choose>
      <xsl:when test="$scheme = 'http' or $scheme = 'https' or $scheme = 'mailto'">
        <a href="{$href}"><xsl:apply-templates><xsl:with-param name="folder" select="$folder"/></xsl:apply-templates></a>
      </xsl:when>
      <xsl:when test="$section">
        <a href="#{generate-id($section[1])}">
          <xsl:apply-templates><xsl:with-param name="folder" select="$folder"/></xsl:apply-templates>
        </a>
      </xsl:when>
      <xsl:otherwise>
        <span><xsl:apply-templates><xsl:with-param name="folder" select="$folder"/></xsl:apply-templates></span>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A picture of the book: its path resolved against the folder of the document that names
       it, under the package's base. Pictures from elsewhere are not fetched. -->
  <xsl:template name="picture">
    <xsl:param name="href"/>
    <xsl:param name="folder"/>
    <xsl:param name="alt"/>
    <!-- A "\" counts as the "/" that browsers take it for. -->
    <xsl:variable name="src" select="translate(normalize-space($href), '\', '/')"/>
    <xsl:variable name="scheme" select="translate(substring-before($src, ':'), $upper, $lower)"/>
    <xsl:choose>
      <xsl:when test="$src = ''"/>
      <xsl:when test="$scheme = 'data' and starts-with(translate(substring($src, 6, 6), $upper, $lower), 'image/')">
        <img src="{$src}" alt="{normalize-space($alt)}"/>
      </xsl:when>
      <xsl:when test="contains(substring-before($src, '/'), ':') or (contains($src, ':') and not(contains($src, '/')))">
        <xsl:if test="normalize-space($alt) != ''"><span>[<xsl:value-of select="normalize-space($alt)"/>]</span></xsl:if>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="path">
          <xsl:call-template name="resolve">
            <xsl:with-param name="folder" select="$folder"/>
            <xsl:with-param name="path" select="$src"/>
          </xsl:call-template>
        </xsl:variable>
        <img src="{$base}{$path}" alt="{normalize-space($alt)}"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A relative path against a folder of the package ("OEBPS/Text/" with "../images/x.jpg" gives
       "OEBPS/images/x.jpg"). A path from the package's root keeps its own folders; no path climbs
       above the root. -->
  <xsl:template name="resolve">
    <xsl:param name="folder"/>
    <xsl:param name="path"/>
    <xsl:choose>
      <xsl:when test="starts-with($path, '/')">
        <xsl:call-template name="resolve">
          <xsl:with-param name="folder" select="''"/>
          <xsl:with-param name="path" select="substring($path, 2)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test="starts-with($path, './')">
        <xsl:call-template name="resolve">
          <xsl:with-param name="folder" select="$folder"/>
          <xsl:with-param name="path" select="substring($path, 3)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test="starts-with($path, '../')">
        <xsl:call-template name="resolve">
          <xsl:with-param name="folder">
            <xsl:call-template name="folder">
              <xsl:with-param name="path" select="substring($folder, 1, string-length($folder) - 1)"/>
            </xsl:call-template>
          </xsl:with-param>
          <xsl:with-param name="path" select="substring($path, 4)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test="contains($path, '/')">
        <xsl:call-template name="resolve">
          <xsl:with-param name="folder" select="concat($folder, substring-before($path, '/'), '/')"/>
          <xsl:with-param name="path" select="substring-after($path, '/')"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="concat($folder, $path)"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The folder part of a path, with its final "/" ("a/b/c.xhtml" gives "a/b/"; "c" gives ""). -->
  <xsl:template name="folder">
    <xsl:param name="path"/>
    <xsl:if test="contains($path, '/')">
      <xsl:value-of select="substring-before($path, '/')"/>
      <xsl:text>/</xsl:text>
      <xsl:call-template name="folder"><xsl:with-param name="path" select="substring-after($path, '/')"/></xsl:call-template>
    </xsl:if>
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

  <xsl:template name="last-step">
    <xsl:param name="path"/>
    <xsl:choose>
      <xsl:when test="contains($path, '/')">
        <xsl:call-template name="last-step"><xsl:with-param name="path" select="substring-after($path, '/')"/></xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$path"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
