<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CvTilewright</name>
    <message>
        <source>Info</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>F1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Import MapView Dgml</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>F3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current Zoomlevel: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Longitude: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Latitude: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About Tilewright</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;h3&gt;Tilewright 5.15&lt;/h3&gt;&lt;p&gt;Fills a local map tile folder for offline use: OpenStreetMap tiles, OpenSeaMap seamarks, SRTM elevation archives and the tile servers of your own list.&lt;/p&gt;&lt;p&gt;Map data &amp;copy; OpenStreetMap contributors.&lt;/p&gt;&lt;p&gt;&amp;copy; Corvane &amp;mdash; &lt;a href=&quot;https://www.corvane.com/&quot;&gt;www.corvane.com&lt;/a&gt;&lt;/p&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select folder to store map tiles</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download canceled!</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CvTilewrightClass</name>
    <message>
        <source>CvTilewright</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OpenStreetMap</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Area</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Longitude:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Latitude:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current Zoomlevel:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download Zoomlevel:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OSM Tiles folder:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Destination</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
