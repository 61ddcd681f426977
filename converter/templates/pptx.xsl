<?xml version="1.0" encoding="UTF-8"?>
<!-- A PowerPoint presentation (.pptx) as an HTML page, read from the whole package in its
     Flat OPC form (as the flat option of corvane gives it): every slide in the
     presentation's order as a block headed by its title (else "Slide N"), then its shapes
     in the order the slide stacks them: text as paragraphs (bullets and levels kept as
     indentation), tables, groups, pictures (written beside the page under the root's
     xml:base), the text of diagrams; last, the slide's speaker notes. Charts are not
     rendered.
     Given a bare slide or presentation part, it shows what that part holds and says so at
     the top. The package and its relationships are read by local names and by the last
     step of a relationship's type, so a Strict package still leads to its slides, whose
     paragraphs are then shown as plain text. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:pkg="http://schemas.microsoft.com/office/2006/xmlPackage"
    xmlns:rel="http://schemas.openxmlformats.org/package/2006/relationships"
    xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main"
    xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"
    xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"
    xmlns:dgm="http://schemas.openxmlformats.org/drawingml/2006/diagram"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    exclude-result-prefixes="pkg rel p r a mc dgm dc">
  <xsl:output method="html" encoding="UTF-8"/>

  <xsl:key name="part" match="pkg:part" use="@pkg:name"/>
  <xsl:key name="rels" match="pkg:part[contains(@pkg:name, '_rels/')]"
      use="concat(substring-before(@pkg:name, '_rels/'),
                  substring-before(substring-after(@pkg:name, '_rels/'), '.rels'))"/>
  <!-- A relationship by the name of its relationships part and its id. -->
  <xsl:key name="rel" match="rel:Relationship" use="concat(ancestor::pkg:part/@pkg:name, '|', @Id)"/>

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
    <xsl:variable name="presentation" select="(key('part', $mainName)/pkg:xmlData/p:presentation
        | /pkg:package/pkg:part/pkg:xmlData/p:presentation)[1]"/>
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
            <xsl:otherwise>
              <xsl:variable name="firstName">
                <xsl:call-template name="related">
                  <xsl:with-param name="from" select="$presentation/ancestor::pkg:part/@pkg:name"/>
                  <xsl:with-param name="id" select="string($presentation/p:sldIdLst/p:sldId[1]/@r:id)"/>
                </xsl:call-template>
              </xsl:variable>
              <xsl:variable name="first" select="normalize-space((key('part', $firstName)/pkg:xmlData/p:sld//p:sp
                  [p:nvSpPr/p:nvPr/p:ph[@type = 'title' or @type = 'ctrTitle']][normalize-space(p:txBody) != ''])[1])"/>
              <xsl:choose>
                <xsl:when test="$first != ''"><xsl:value-of select="$first"/></xsl:when>
                <xsl:otherwise>Presentation</xsl:otherwise>
              </xsl:choose>
            </xsl:otherwise>
          </xsl:choose>
        </title>
        <style>
          body { max-width: 52em; margin: 1em auto; padding: 0 1em; font-family: sans-serif; color: #222; background: #f4f4f4 }
          .slide { background: #fff; border: 1px solid #ccc; border-radius: 4px; margin: 1.2em 0; padding: 0.6em 1.4em 1em }
          .number { color: #999; font-size: 80% }
          h2 { margin: 0.2em 0 0.6em }
          .shape { margin: 0.5em 0 }
          .shape p, .shape ul { margin: 0.25em 0 }
          .group { margin: 0.4em 0 }
          table { border-collapse: collapse; margin: 0.5em 0 }
          td, th { border: 1px solid #999; padding: 0.2em 0.5em; vertical-align: top }
          th { background: #eef; text-align: left }
          td p, th p, td ul, th ul { margin: 0.1em 0 }
          img { max-width: 100%; height: auto }
          .notes { background: #fafae8; border: 1px solid #dd9; font-size: 90%; padding: 0.3em 0.8em; margin-top: 0.8em }
          .notes p { margin: 0.2em 0 }
          .label { font-weight: bold; color: #776 }
          .flat-note { background: #ffd; border: 1px solid #cc9; padding: 0.4em 0.8em }
        </style>
      </head>
      <body>
        <xsl:if test="$title != ''"><h1><xsl:value-of select="$title"/></h1></xsl:if>
        <xsl:choose>
          <xsl:when test="$presentation">
            <xsl:for-each select="$presentation/p:sldIdLst/p:sldId">
              <xsl:variable name="slideName">
                <xsl:call-template name="related">
                  <xsl:with-param name="from" select="$presentation/ancestor::pkg:part/@pkg:name"/>
                  <xsl:with-param name="id" select="@r:id"/>
                </xsl:call-template>
              </xsl:variable>
              <xsl:apply-templates select="key('part', $slideName)/pkg:xmlData/p:sld">
                <xsl:with-param name="number" select="position()"/>
              </xsl:apply-templates>
            </xsl:for-each>
          </xsl:when>
          <xsl:when test="key('part', $mainName)/pkg:xmlData/*[local-name() = 'presentation']">
            <xsl:variable name="other" select="key('part', $mainName)/pkg:xmlData/*"/>
            <xsl:for-each select="$other/*[local-name() = 'sldIdLst']/*[local-name() = 'sldId']">
              <xsl:variable name="slideName">
                <xsl:call-template name="related">
                  <xsl:with-param name="from" select="$mainName"/>
                  <xsl:with-param name="id" select="@*[local-name() = 'id']"/>
                </xsl:call-template>
              </xsl:variable>
              <xsl:apply-templates select="key('part', $slideName)/pkg:xmlData/*" mode="plain">
                <xsl:with-param name="number" select="position()"/>
              </xsl:apply-templates>
            </xsl:for-each>
          </xsl:when>
          <xsl:otherwise>
            <p class="flat-note">This template reads the whole package: run corvane with --flat</p>
            <xsl:apply-templates select="/p:sld"><xsl:with-param name="number" select="1"/></xsl:apply-templates>
          </xsl:otherwise>
        </xsl:choose>
      </body>
    </html>
  </xsl:template>

  <!-- A slide: its title as the heading, its other shapes, its notes. -->
  <xsl:template match="p:sld">
    <xsl:param name="number"/>
    <xsl:variable name="titleShape" select="(.//p:sp[p:nvSpPr/p:nvPr/p:ph[@type = 'title' or @type = 'ctrTitle']]
        [normalize-space(p:txBody) != ''][not(ancestor::mc:Fallback)])[1]"/>
    <div class="slide">
      <xsl:if test="$titleShape or @show = '0' or @show = 'false'">
        <div class="number">
          <xsl:value-of select="concat('Slide ', $number)"/>
          <xsl:if test="@show = '0' or @show = 'false'"> (hidden)</xsl:if>
        </div>
      </xsl:if>
      <h2>
        <xsl:choose>
          <xsl:when test="$titleShape">
            <xsl:apply-templates select="$titleShape/p:txBody/a:p" mode="inline"/>
          </xsl:when>
          <xsl:otherwise><xsl:value-of select="concat('Slide ', $number)"/></xsl:otherwise>
        </xsl:choose>
      </h2>
      <xsl:apply-templates select="p:cSld/p:spTree/*" mode="shape">
        <xsl:with-param name="skip" select="$titleShape"/>
      </xsl:apply-templates>
      <xsl:if test="ancestor::pkg:part">
        <xsl:variable name="notesName">
          <xsl:call-template name="related">
            <xsl:with-param name="from" select="ancestor::pkg:part/@pkg:name"/>
            <xsl:with-param name="type" select="'/notesSlide'"/>
          </xsl:call-template>
        </xsl:variable>
        <!-- The notes are the text of the notes page, less its picture of the slide and
             its header, footer, date and page number. -->
        <xsl:variable name="noteShapes" select="key('part', $notesName)/pkg:xmlData/p:notes/p:cSld/p:spTree//p:sp
            [not(p:nvSpPr/p:nvPr/p:ph[@type = 'sldImg' or @type = 'sldNum' or @type = 'hdr' or @type = 'ftr'
                 or @type = 'dt'])][normalize-space(p:txBody) != '']"/>
        <xsl:if test="$noteShapes">
          <div class="notes">
            <div class="label">Notes</div>
            <xsl:for-each select="$noteShapes">
              <xsl:apply-templates select="p:txBody/a:p"/>
            </xsl:for-each>
          </div>
        </xsl:if>
      </xsl:if>
    </div>
  </xsl:template>

  <!-- A slide in other namespaces than these (the Strict ones): its paragraphs as plain
       text. -->
  <xsl:template match="*" mode="plain">
    <xsl:param name="number"/>
    <div class="slide">
      <h2><xsl:value-of select="concat('Slide ', $number)"/></h2>
      <xsl:for-each select=".//*[local-name() = 'p'][not(ancestor::*[local-name() = 'Fallback'])]">
        <p><xsl:for-each select="*/*[local-name() = 't'] | *[local-name() = 'br']">
          <xsl:choose>
            <xsl:when test="local-name() = 't'"><xsl:value-of select="."/></xsl:when>
            <xsl:otherwise><br/></xsl:otherwise>
          </xsl:choose>
        </xsl:for-each></p>
      </xsl:for-each>
    </div>
  </xsl:template>

  <!-- Shapes -->

  <xsl:template match="p:sp" mode="shape">
    <xsl:param name="skip"/>
    <xsl:if test="count(. | $skip) != count($skip) and normalize-space(p:txBody) != ''">
      <div class="shape"><xsl:apply-templates select="p:txBody/a:p"/></div>
    </xsl:if>
  </xsl:template>
  <xsl:template match="p:grpSp" mode="shape">
    <xsl:param name="skip"/>
    <div class="group">
      <xsl:apply-templates select="*" mode="shape"><xsl:with-param name="skip" select="$skip"/></xsl:apply-templates>
    </div>
  </xsl:template>
  <xsl:template match="mc:AlternateContent" mode="shape">
    <xsl:param name="skip"/>
    <xsl:apply-templates select="(mc:Choice | mc:Fallback)[1]/*" mode="shape">
      <xsl:with-param name="skip" select="$skip"/>
    </xsl:apply-templates>
  </xsl:template>
  <xsl:template match="p:graphicFrame" mode="shape">
    <xsl:apply-templates select="a:graphic/a:graphicData/a:tbl"/>
    <xsl:for-each select="a:graphic/a:graphicData/dgm:relIds[@r:dm]">
      <xsl:variable name="dataName">
        <xsl:call-template name="related">
          <xsl:with-param name="from" select="ancestor::pkg:part/@pkg:name"/>
          <xsl:with-param name="id" select="@r:dm"/>
        </xsl:call-template>
      </xsl:variable>
      <!-- A diagram: the text of its points, one item each. -->
      <xsl:variable name="points" select="key('part', $dataName)/pkg:xmlData/dgm:dataModel/dgm:ptLst
          /dgm:pt[normalize-space(dgm:t) != '']"/>
      <xsl:if test="$points">
        <div class="shape"><ul>
          <xsl:for-each select="$points"><li><xsl:apply-templates select="dgm:t/a:p" mode="inline"/></li></xsl:for-each>
        </ul></div>
      </xsl:if>
    </xsl:for-each>
  </xsl:template>
  <xsl:template match="a:p" mode="inline">
    <xsl:if test="position() &gt; 1"><br/></xsl:if>
    <xsl:apply-templates select="*"/>
  </xsl:template>
  <xsl:template match="p:pic" mode="shape">
    <xsl:for-each select="p:blipFill/a:blip[@r:embed]">
      <xsl:variable name="name">
        <xsl:call-template name="related">
          <xsl:with-param name="from" select="ancestor::pkg:part/@pkg:name"/>
          <xsl:with-param name="id" select="@r:embed"/>
        </xsl:call-template>
      </xsl:variable>
      <xsl:if test="$name != ''">
        <div class="shape">
          <img src="{concat($files, substring($name, 2))}"
              alt="{normalize-space(ancestor::p:pic[1]/p:nvPicPr/p:cNvPr/@descr)}">
            <!-- As wide as the slide shows it (English Metric Units, 9525 to a pixel). -->
            <xsl:variable name="width" select="number(ancestor::p:pic[1]/p:spPr/a:xfrm/a:ext/@cx)"/>
            <xsl:if test="$width &gt; 0">
              <xsl:attribute name="width"><xsl:value-of select="round($width div 9525)"/></xsl:attribute>
            </xsl:if>
          </img>
        </div>
      </xsl:if>
    </xsl:for-each>
  </xsl:template>
  <xsl:template match="*" mode="shape"/>

  <xsl:template match="a:tbl">
    <table>
      <xsl:for-each select="a:tr">
        <tr>
          <!-- The first row of a table that marks it as its header row holds header cells. -->
          <xsl:variable name="cell">
            <xsl:choose>
              <xsl:when test="not(preceding-sibling::a:tr) and (../a:tblPr/@firstRow = '1' or ../a:tblPr/@firstRow = 'true')">th</xsl:when>
              <xsl:otherwise>td</xsl:otherwise>
            </xsl:choose>
          </xsl:variable>
          <xsl:for-each select="a:tc[not(@hMerge = '1' or @hMerge = 'true')]">
            <xsl:element name="{$cell}">
              <xsl:if test="number(@gridSpan) &gt; 1">
                <xsl:attribute name="colspan"><xsl:value-of select="number(@gridSpan)"/></xsl:attribute>
              </xsl:if>
              <xsl:if test="not(@vMerge = '1' or @vMerge = 'true')">
                <xsl:apply-templates select="a:txBody/a:p"/>
              </xsl:if>
            </xsl:element>
          </xsl:for-each>
        </tr>
      </xsl:for-each>
    </table>
  </xsl:template>

  <!-- Text -->

  <!-- A paragraph, indented by its level; a bullet when it asks for one, or when it sits
       in a body placeholder (whose bullets come from the master) and does not refuse it. -->
  <xsl:template match="a:p">
    <xsl:variable name="level" select="number(concat('0', a:pPr/@lvl))"/>
    <xsl:variable name="ph" select="ancestor::p:sp[1]/p:nvSpPr/p:nvPr/p:ph"/>
    <xsl:choose>
      <xsl:when test="not(a:r | a:fld)">
        <xsl:if test="a:br"><p><br/></p></xsl:if>
      </xsl:when>
      <xsl:when test="a:pPr/a:buChar or a:pPr/a:buAutoNum or a:pPr/a:buBlip
          or ($ph and (not($ph/@type) or $ph/@type = 'body' or $ph/@type = 'obj') and not(a:pPr/a:buNone)
              and not(ancestor::p:notes))">
        <ul style="margin-left: {1.5 * $level}em"><li><xsl:apply-templates select="*"/></li></ul>
      </xsl:when>
      <xsl:otherwise>
        <p>
          <xsl:if test="$level &gt; 0"><xsl:attribute name="style">margin-left: <xsl:value-of
              select="1.5 * $level"/>em</xsl:attribute></xsl:if>
          <xsl:apply-templates select="*"/>
        </p>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="a:r | a:fld">
    <xsl:variable name="id" select="a:rPr/a:hlinkClick/@r:id"/>
    <xsl:variable name="target" select="normalize-space(key('rel', concat(key('rels', ancestor::pkg:part/@pkg:name)
        /@pkg:name, '|', $id))/@Target)"/>
    <xsl:variable name="scheme" select="translate(substring-before($target, ':'), $upper, $lower)"/>
    <xsl:choose>
      <xsl:when test="$id and ($scheme = 'http' or $scheme = 'https' or $scheme = 'mailto')">
        <a href="{$target}"><xsl:call-template name="emphasis-run"/></a>
      </xsl:when>
      <xsl:otherwise><xsl:call-template name="emphasis-run"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="emphasis-run">
    <xsl:call-template name="emphasis">
      <xsl:with-param name="bold" select="a:rPr/@b = '1' or a:rPr/@b = 'true'"/>
      <xsl:with-param name="italic" select="a:rPr/@i = '1' or a:rPr/@i = 'true'"/>
      <xsl:with-param name="underline" select="a:rPr/@u and a:rPr/@u != 'none'"/>
      <xsl:with-param name="strike" select="a:rPr/@strike and a:rPr/@strike != 'noStrike'"/>
    </xsl:call-template>
  </xsl:template>

  <!-- The run's text inside the emphasis it asks for. -->
  <xsl:template name="emphasis">
    <xsl:param name="bold" select="false()"/>
    <xsl:param name="italic" select="false()"/>
    <xsl:param name="underline" select="false()"/>
    <xsl:param name="strike" select="false()"/>
    <xsl:choose>
      <xsl:when test="$bold">
        <b><xsl:call-template name="emphasis">
          <xsl:with-param name="italic" select="$italic"/><xsl:with-param name="underline" select="$underline"/>
          <xsl:with-param name="strike" select="$strike"/>
        </xsl:call-template></b>
      </xsl:when>
      <xsl:when test="$italic">
        <i><xsl:call-template name="emphasis">
          <xsl:with-param name="underline" select="$underline"/><xsl:with-param name="strike" select="$strike"/>
        </xsl:call-template></i>
      </xsl:when>
      <xsl:when test="$underline">
        <u><xsl:call-template name="emphasis"><xsl:with-param name="strike" select="$strike"/></xsl:call-template></u>
      </xsl:when>
      <xsl:when test="$strike"><s><xsl:value-of select="a:t"/></s></xsl:when>
      <xsl:otherwise><xsl:value-of select="a:t"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="a:br"><br/></xsl:template>
  <xsl:template match="*"/>

  <!-- Relationships -->

  <!-- The part that a relationship of the part named from leads to: the one with the
       given id, else the first whose type ends in the given last step ("/notesSlide").
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

  <!-- The part name of a relationship's target, relative to the folder base
       ("/ppt/slides/"): an absolute target is the name itself; each leading "../" takes
       one folder off the end of base (up counts them), then the folders of base that
       remain (keep) are written one by one before the rest of the target. -->
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
