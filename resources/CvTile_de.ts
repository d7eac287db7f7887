<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CvTilewright</name>
    <message>
        <source>Info</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>F1</source>
        <translation>F1</translation>
    </message>
    <message>
        <source>Import MapView Dgml</source>
        <translation>MapView-DGML importieren</translation>
    </message>
    <message>
        <source>F3</source>
        <translation>F3</translation>
    </message>
    <message>
        <source>Current Zoomlevel: %1</source>
        <translation>Aktuelle Zoomstufe: %1</translation>
    </message>
    <message>
        <source>Longitude: %1</source>
        <translation>Länge: %1</translation>
    </message>
    <message>
        <source>Latitude: %1</source>
        <translation>Breite: %1</translation>
    </message>
    <message>
        <source>About Tilewright</source>
        <translation>Über Tilewright</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Tilewright %1&lt;/h3&gt;&lt;p&gt;Fills a local map tile folder for offline use: OpenStreetMap tiles, OpenSeaMap seamarks, SRTM elevation archives and the tile servers of your own list.&lt;/p&gt;&lt;p&gt;Map data &amp;copy; OpenStreetMap contributors.&lt;/p&gt;&lt;p&gt;&amp;copy; Corvane &amp;mdash; &lt;a href=&quot;https://www.corvane.com/&quot;&gt;www.corvane.com&lt;/a&gt;&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Tilewright %1&lt;/h3&gt;&lt;p&gt;Füllt einen lokalen Kartenkachel-Ordner für die Offline-Nutzung: OpenStreetMap-Kacheln, OpenSeaMap-Seezeichen, SRTM-Höhenarchive und die Kachelserver Ihrer eigenen Liste.&lt;/p&gt;&lt;p&gt;Kartendaten &amp;copy; OpenStreetMap-Mitwirkende.&lt;/p&gt;&lt;p&gt;&amp;copy; Corvane &amp;mdash; &lt;a href=&quot;https://www.corvane.com/&quot;&gt;www.corvane.com&lt;/a&gt;&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Select folder to store map tiles</source>
        <translation>Ordner für die Kartenkacheln wählen</translation>
    </message>
    <message>
        <source>Download canceled!</source>
        <translation>Download abgebrochen!</translation>
    </message>
    <message>
        <source>Copy finished!</source>
        <translation>Kopieren beendet!</translation>
    </message>
    <message>
        <source>Tilewright</source>
        <translation>Tilewright</translation>
    </message>
    <message>
        <source>Download from host %1 rejected!</source>
        <translation>Download vom Server %1 abgelehnt!</translation>
    </message>
    <message>
        <source>Download finished! The tile format &quot;%1&quot; is no file extension; tiles were saved as .%2</source>
        <translation>Download beendet! Das Kachelformat „%1“ ist keine Dateiendung; die Kacheln wurden als .%2 gespeichert</translation>
    </message>
    <message>
        <source>Download SRTM (%1):</source>
        <translation>Download SRTM (%1):</translation>
    </message>
    <message>
        <source>Download Level %1/Tile %2 :</source>
        <translation>Download Stufe %1/Kachel %2 :</translation>
    </message>
    <message>
        <source>Download failed: no tile could be written to %1</source>
        <translation>Download fehlgeschlagen: keine Kachel konnte in %1 geschrieben werden</translation>
    </message>
    <message>
        <source>Download finished!</source>
        <translation>Download beendet!</translation>
    </message>
    <message>
        <source>Copy Level %1/Tile %2:</source>
        <translation>Kopiere Stufe %1/Kachel %2:</translation>
    </message>
    <message>
        <source>Copy:</source>
        <translation>Kopieren:</translation>
    </message>
    <message>
        <source>Download:</source>
        <translation>Download:</translation>
    </message>
    <message>
        <source>Open Dgml map</source>
        <translation>Dgml-Karte öffnen</translation>
    </message>
    <message>
        <source>Dgml map  (*.dgml)</source>
        <translation>Dgml-Karte  (*.dgml)</translation>
    </message>
    <message>
        <source>1 archive</source>
        <translation>1 Archiv</translation>
    </message>
    <message>
        <source>%1 archives</source>
        <translation>%1 Archive</translation>
    </message>
    <message>
        <source>1 tile</source>
        <translation>1 Kachel</translation>
    </message>
    <message>
        <source>%1 tiles</source>
        <translation>%1 Kacheln</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>Download: %1</source>
        <translation>Download: %1</translation>
    </message>
    <message>
        <source>Copy: %1</source>
        <translation>Kopieren: %1</translation>
    </message>
    <message>
        <source>This job downloads %1 in all levels, about %2.</source>
        <translation>Dieser Auftrag lädt %1 über alle Zoomstufen, etwa %2.</translation>
    </message>
    <message>
        <source>This job copies %1 in all levels, about %2.</source>
        <translation>Dieser Auftrag kopiert %1 über alle Zoomstufen, etwa %2.</translation>
    </message>
    <message>
        <source>At the pace of the last job it takes about %1.</source>
        <translation>Im Tempo des letzten Auftrags dauert er etwa %1.</translation>
    </message>
    <message>
        <source>Start it?</source>
        <translation>Starten?</translation>
    </message>
    <message>
        <source>The usage policy of the public OpenStreetMap tile server forbids bulk downloading for offline use, so a job of more than %1 tiles from it does not start (this one has %2). To download it, use a server that allows it: a server of your list (Source), an imported map theme (Import MapView Dgml), or your own tile server named in the environment variable TILEWRIGHT_OSM_TILE_URL.</source>
        <translation>Die Nutzungsrichtlinie des öffentlichen OpenStreetMap-Kachelservers verbietet das massenhafte Herunterladen zur Offline-Nutzung, daher startet ein Auftrag von mehr als %1 Kacheln von diesem Server nicht (dieser hat %2). Zum Herunterladen nehmen Sie einen Server, der es erlaubt: einen Server Ihrer Liste (Quelle), ein importiertes Kartenthema (MapView-DGML importieren) oder Ihren eigenen Kachelserver in der Umgebungsvariablen TILEWRIGHT_OSM_TILE_URL.</translation>
    </message>
    <message>
        <source>Download refused: more than %1 tiles from the public OpenStreetMap server.</source>
        <translation>Download abgelehnt: mehr als %1 Kacheln vom öffentlichen OpenStreetMap-Server.</translation>
    </message>
    <message>
        <source>Not started: %1.</source>
        <translation>Nicht gestartet: %1.</translation>
    </message>
    <message>
        <source>Download stopped: cannot write to %1 (%2)</source>
        <translation>Download angehalten: in %1 kann nicht geschrieben werden (%2)</translation>
    </message>
    <message>
        <source>The server asked to wait: asking again in %1 s (HTTP %2)</source>
        <translation>Der Server bittet zu warten: neue Anfrage in %1 s (HTTP %2)</translation>
    </message>
    <message>
        <source>Download stopped: the server refused %1 requests in a row (HTTP %2)</source>
        <translation>Download angehalten: der Server hat %1 Anfragen nacheinander abgelehnt (HTTP %2)</translation>
    </message>
    <message>
        <source>Download stopped: the server refused %1 requests in a row (HTTP %2): %3</source>
        <translation>Download angehalten: der Server hat %1 Anfragen nacheinander abgelehnt (HTTP %2): %3</translation>
    </message>
    <message>
        <source>Download finished: %1 of %2 tiles stored</source>
        <translation>Download beendet: %1 von %2 Kacheln gespeichert</translation>
    </message>
    <message>
        <source>Copy finished: %1 of %2 tiles copied</source>
        <translation>Kopieren beendet: %1 von %2 Kacheln kopiert</translation>
    </message>
    <message>
        <source>, %1 unchanged</source>
        <translation>, %1 unverändert</translation>
    </message>
    <message>
        <source>, %1 failed (%2)</source>
        <translation>, %1 fehlgeschlagen (%2)</translation>
    </message>
    <message>
        <source>, %1 skipped (%2)</source>
        <translation>, %1 übersprungen (%2)</translation>
    </message>
    <message>
        <source>Nothing to download: the area holds no tile at these zoom levels</source>
        <translation>Nichts herunterzuladen: der Bereich enthält auf diesen Zoomstufen keine Kachel</translation>
    </message>
    <message>
        <source>%1 is not a regular file; nothing was imported.</source>
        <translation>%1 ist keine gewöhnliche Datei; nichts wurde importiert.</translation>
    </message>
    <message>
        <source>%1 is larger than %2 MiB, more than any map theme; nothing was imported.</source>
        <translation>%1 ist größer als %2 MiB, größer als jedes Kartenthema; nichts wurde importiert.</translation>
    </message>
    <message>
        <source>%1 names no download server; nothing was imported.</source>
        <translation>%1 nennt keinen Download-Server; nichts wurde importiert.</translation>
    </message>
    <message>
        <source> (the descriptions for other programs could not be written: %1)</source>
        <translation> (die Beschreibungen für andere Programme konnten nicht geschrieben werden: %1)</translation>
    </message>
    <message>
        <source>incomplete</source>
        <translation>unvollständig</translation>
    </message>
    <message>
        <source>an error document</source>
        <translation>ein Fehlerdokument</translation>
    </message>
    <message>
        <source>not an image</source>
        <translation>kein Bild</translation>
    </message>
    <message>
        <source>corrupt</source>
        <translation>beschädigt</translation>
    </message>
    <message>
        <source>Export stopped: %1 was left as it was</source>
        <translation>Export angehalten: %1 blieb unverändert</translation>
    </message>
    <message>
        <source>Export failed: %1; %2 was left as it was</source>
        <translation>Export fehlgeschlagen: %1; %2 blieb unverändert</translation>
    </message>
    <message>
        <source>Export finished: %1 tiles packed into %2</source>
        <translation>Export beendet: %1 Kacheln in %2 gepackt</translation>
    </message>
    <message>
        <source>%1 not %2</source>
        <translation>%1 nicht %2</translation>
    </message>
    <message>
        <source>%1 unreadable</source>
        <translation>%1 unlesbar</translation>
    </message>
    <message>
        <source>Export finished: %1 of %2 tiles packed into %3, %4 skipped (%5)</source>
        <translation>Export beendet: %1 von %2 Kacheln in %3 gepackt, %4 übersprungen (%5)</translation>
    </message>
    <message>
        <source>Export MBTiles: %1 of %2 tiles</source>
        <translation>MBTiles-Export: %1 von %2 Kacheln</translation>
    </message>
    <message>
        <source>Export MBTiles</source>
        <translation>MBTiles exportieren</translation>
    </message>
    <message>
        <source>Ctrl+E</source>
        <translation>Ctrl+E</translation>
    </message>
    <message>
        <source>MBTiles (*.mbtiles)</source>
        <translation>MBTiles (*.mbtiles)</translation>
    </message>
    <message>
        <source>%1 twice in the folder</source>
        <translation>%1 doppelt im Ordner</translation>
    </message>
    <message>
        <source>Download zoom lowered to %1: at map zoom %2 the public tile servers&apos; usage policy allows downloads up to zoom %1. Zoom the map in for deeper levels.</source>
        <translation>Download-Zoomstufe auf %1 gesenkt: bei Kartenzoom %2 erlaubt die Nutzungsrichtlinie der öffentlichen Kachelserver Downloads bis Zoomstufe %1. Für tiefere Stufen die Karte weiter hineinzoomen.</translation>
    </message>
    <message>
        <source>How long it takes is unknown: no job has had answers from this server yet.</source>
        <translation>Wie lange er dauert, ist unbekannt: von diesem Server hat noch kein Auftrag Antworten erhalten.</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>1 place has no seamarks</source>
        <translation>1 Ort hat keine Seezeichen</translation>
    </message>
    <message>
        <source>%1 places have no seamarks</source>
        <translation>%1 Orte haben keine Seezeichen</translation>
    </message>
    <message>
        <source>1 place has no elevation data</source>
        <translation>1 Ort hat keine Höhendaten</translation>
    </message>
    <message>
        <source>%1 places have no elevation data</source>
        <translation>%1 Orte haben keine Höhendaten</translation>
    </message>
    <message>
        <source>Download failed: none of %1 tiles stored — %2</source>
        <translation>Download fehlgeschlagen: keine der %1 Kacheln gespeichert — %2</translation>
    </message>
    <message>
        <source>; %1</source>
        <translation>; %1</translation>
    </message>
    <message>
        <source>Download finished: 1 tile stored</source>
        <translation>Download beendet: 1 Kachel gespeichert</translation>
    </message>
    <message>
        <source>Download finished: %1 tiles stored</source>
        <translation>Download beendet: %1 Kacheln gespeichert</translation>
    </message>
    <message>
        <source>%1 / %2</source>
        <translation>%1 / %2</translation>
    </message>
    <message>
        <source>%1 tiles/s</source>
        <translation>%1 Kacheln/s</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>noch %1</translation>
    </message>
    <message>
        <source>This folder holds tiles of %1. Download %2 tiles into it?</source>
        <translation>Dieser Ordner enthält Kacheln von %1. %2-Kacheln hinein herunterladen?</translation>
    </message>
    <message>
        <source>no address for this source</source>
        <translation>keine Adresse für diese Quelle</translation>
    </message>
    <message>
        <source>not a tile server</source>
        <translation>kein Kachelserver</translation>
    </message>
    <message>
        <source>not writable</source>
        <translation>nicht beschreibbar</translation>
    </message>
    <message>
        <source>network error</source>
        <translation>Netzwerkfehler</translation>
    </message>
    <message>
        <source>not a tile</source>
        <translation>keine Kachel</translation>
    </message>
    <message>
        <source>not a sound tile</source>
        <translation>keine einwandfreie Kachel</translation>
    </message>
    <message>
        <source>transfer failed</source>
        <translation>Übertragung fehlgeschlagen</translation>
    </message>
    <message>
        <source>too large</source>
        <translation>zu groß</translation>
    </message>
    <message>
        <source>timed out</source>
        <translation>Zeitüberschreitung</translation>
    </message>
    <message>
        <source>incomplete body</source>
        <translation>unvollständige Antwort</translation>
    </message>
    <message>
        <source>disk full</source>
        <translation>Datenträger voll</translation>
    </message>
    <message>
        <source>no source tile</source>
        <translation>keine Quellkachel</translation>
    </message>
    <message>
        <source>HTTP %1</source>
        <translation>HTTP %1</translation>
    </message>
    <message>
        <source>OpenSeaMap seamarks</source>
        <translation>OpenSeaMap-Seezeichen</translation>
    </message>
    <message>
        <source>SRTM elevation</source>
        <translation>SRTM-Höhendaten</translation>
    </message>
    <message>
        <source>No program to show PDF files was found. The manual is here:
%1</source>
        <translation>Es wurde kein Programm zum Anzeigen von PDF-Dateien gefunden. Das Handbuch liegt hier:
%1</translation>
    </message>
    <message>
        <source>The manual is missing; it belongs here:
%1</source>
        <translation>Das Handbuch fehlt; es gehört hierher:
%1</translation>
    </message>
    <message>
        <source>Map theme &quot;%1&quot; imported: server %2, tiles go to %3. Choose it under Source.</source>
        <translation>Kartenthema „%1“ importiert: Server %2, Kacheln kommen nach %3. Unter Quelle auswählen.</translation>
    </message>
    <message>
        <source>Not started: %1 holds tiles of %2.</source>
        <translation>Nicht gestartet: %1 enthält Kacheln von %2.</translation>
    </message>
    <message>
        <source>The map theme %1 could not be read again; it is no longer offered.</source>
        <translation>Das Kartenthema %1 ließ sich nicht wieder lesen; es wird nicht mehr angeboten.</translation>
    </message>
    <message>
        <source>The remembered tile server is empty; the source is Mapnik again.</source>
        <translation>Der gemerkte Kachelserver ist leer; die Quelle ist wieder Mapnik.</translation>
    </message>
    <message>
        <source>The remembered destination %1 no longer exists; tiles go to %2.</source>
        <translation>Das gemerkte Ziel %1 gibt es nicht mehr; die Kacheln kommen nach %2.</translation>
    </message>
</context>
<context>
    <name>CvTilewrightClass</name>
    <message>
        <source>CvTilewright</source>
        <translation>CvTilewright</translation>
    </message>
    <message>
        <source>OpenStreetMap</source>
        <translation>OpenStreetMap</translation>
    </message>
    <message>
        <source>Area</source>
        <translation>Gebiet</translation>
    </message>
    <message>
        <source>Longitude:</source>
        <translation>Länge:</translation>
    </message>
    <message>
        <source>Latitude:</source>
        <translation>Breite:</translation>
    </message>
    <message>
        <source>Current Zoomlevel:</source>
        <translation>Aktuelle Zoomstufe:</translation>
    </message>
    <message>
        <source>Download Zoomlevel:</source>
        <translation>Download-Zoomstufe:</translation>
    </message>
    <message>
        <source>OSM Tiles folder:</source>
        <translation>OSM-Kachelordner:</translation>
    </message>
    <message>
        <source>Download:</source>
        <translation>Download:</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>Destination</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>Downloader</name>
    <message>
        <source>Downloading %1,%2 (zoom %3)...</source>
        <translation>Lade %1,%2 (Zoom %3)...</translation>
    </message>
</context>
<context>
    <name>HttpWindow</name>
    <message>
        <source>Please enter Username and Password </source>
        <translation>Bitte Benutzername und Passwort eingeben </translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>&amp;Benutzername:</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Passwort:</translation>
    </message>
    <message>
        <source>P&amp;ort:</source>
        <translation>P&amp;ort:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>use this proxy </source>
        <translation>diesen Proxy verwenden </translation>
    </message>
    <message>
        <source>save credentials</source>
        <translation>Zugangsdaten speichern</translation>
    </message>
    <message>
        <source>Connect to </source>
        <translation>Verbinden mit </translation>
    </message>
    <message>
        <source>The server %1 requires a username and password.</source>
        <translation>Der Server %1 verlangt einen Benutzernamen und ein Passwort.</translation>
    </message>
    <message>
        <source>Proxy</source>
        <translation>Proxy</translation>
    </message>
    <message>
        <source>Connection failed, error: %1.</source>
        <translation>Verbindung fehlgeschlagen, Fehler: %1.</translation>
    </message>
    <message>
        <source>the proxy did not answer within %1 seconds</source>
        <translation>der Proxy hat nicht binnen %1 Sekunden geantwortet</translation>
    </message>
</context>
<context>
    <name>QUrlLan</name>
    <message>
        <source>Source settings</source>
        <translation>Quelleneinstellungen</translation>
    </message>
    <message>
        <source>&amp;Connect to tiles server:</source>
        <translation>&amp;Verbinden mit Kachelserver:</translation>
    </message>
    <message>
        <source>&amp;Edit tiles server:</source>
        <translation>Kachelserver &amp;bearbeiten:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>use Http connection</source>
        <translation>Http-Verbindung verwenden</translation>
    </message>
    <message>
        <source>Mapnik</source>
        <translation>Mapnik</translation>
    </message>
    <message>
        <source>Seamarks</source>
        <translation>Seezeichen</translation>
    </message>
    <message>
        <source>SRTM elevation tiles (90m)</source>
        <translation>SRTM-Höhenkacheln (90 m)</translation>
    </message>
    <message>
        <source>&amp;Copy tiles from folder:</source>
        <translation>Kacheln aus Ordner &amp;kopieren:</translation>
    </message>
    <message>
        <source>&amp;Browse</source>
        <translation>&amp;Durchsuchen</translation>
    </message>
    <message>
        <source>Select source folder to copy OSM Tiles from</source>
        <translation>Quellordner wählen, aus dem OSM-Kacheln kopiert werden</translation>
    </message>
    <message>
        <source>The server list is full (%1 entries); %2 was not saved.</source>
        <translation>Die Serverliste ist voll (%1 Einträge); %2 wurde nicht gespeichert.</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Removes the chosen server from your list</source>
        <translation>Entfernt den gewählten Server aus Ihrer Liste</translation>
    </message>
    <message>
        <source>A tile is requested as %1</source>
        <translation>Eine Kachel wird angefragt als %1</translation>
    </message>
</context>
</TS>
