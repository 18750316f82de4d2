<?xml version="1.0" encoding="UTF-8"?>
<!-- The job report (/qx/report.xml) as a page: one row per queue item. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" encoding="UTF-8" indent="yes"/>

<xsl:template match="/QuorvexReport">
<html>
<head>
<meta charset="utf-8"/>
<title>Job report</title>
<link rel="stylesheet" href="../style.css"/>
</head>
<body>
<h2>Job report</h2>
<xsl:choose>
<xsl:when test="item">
<table id="report">
<tr><th>#</th><th>File</th><th>Type</th><th>Size (bytes)</th><th>Duration</th><th>Audio</th><th>Done</th><th>Time (s)</th><th>Speed</th></tr>
<xsl:apply-templates select="item"/>
</table>
</xsl:when>
<xsl:otherwise><p id="empty">The queue is empty.</p></xsl:otherwise>
</xsl:choose>
</body>
</html>
</xsl:template>

<xsl:template match="item">
<tr class="item">
<td><xsl:value-of select="position()"/></td>
<td class="path">
<xsl:choose>
<xsl:when test="url"><a href="{url}"><xsl:value-of select="path"/></a></xsl:when>
<xsl:otherwise><xsl:value-of select="path"/></xsl:otherwise>
</xsl:choose>
<xsl:if test="info/tags/title"><br/><small><xsl:value-of select="info/tags/artist"/><xsl:if test="info/tags/artist"> - </xsl:if><xsl:value-of select="info/tags/title"/></small></xsl:if>
</td>
<td><xsl:value-of select="type"/></td>
<td><xsl:value-of select="size"/></td>
<td><xsl:value-of select="duration"/></td>
<td>
<xsl:for-each select="info/audio">
<xsl:value-of select="codec"/>
<xsl:if test="samplerate &gt; 0">, <xsl:value-of select="samplerate"/> Hz</xsl:if>
<xsl:if test="channels &gt; 0">, <xsl:value-of select="channels"/> ch</xsl:if>
<xsl:if test="bitrate &gt; 0">, <xsl:value-of select="round(bitrate div 1000)"/> kbps</xsl:if>
<xsl:if test="position() != last()"><br/></xsl:if>
</xsl:for-each>
</td>
<td class="done">
<xsl:choose>
<xsl:when test="done = 1">yes</xsl:when>
<xsl:otherwise>no</xsl:otherwise>
</xsl:choose>
</td>
<td><xsl:value-of select="benchmark/elapsed"/></td>
<td><xsl:if test="benchmark/speed"><xsl:value-of select="benchmark/speed"/>x</xsl:if></td>
</tr>
</xsl:template>

</xsl:stylesheet>
