#include "settings/DgmlReader.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

// Ports outside 1 ... 65535 give no usable address: the theme is asked on 80.
QString usablePort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? QString::number(port) : QStringLiteral("80");
}

QString atPlace(const QString &text, qint64 line, qint64 column)
{
    return QStringLiteral("%1 (line %2, column %3)").arg(text).arg(line).arg(column);
}

// The characters that each declared entity expands to, its references to
// other entities followed; a cycle or anything past the bound counts as
// beyond the bound.
class ExpansionTable
{
public:
    explicit ExpansionTable(const QXmlStreamEntityDeclarations &declarations)
    {
        for (const QXmlStreamEntityDeclaration &d : declarations)
            m_values.insert(d.name().toString(), d.value().toString());
    }

    bool declares(const QString &name) const { return m_values.contains(name); }

    qint64 length(const QString &name)
    {
        const auto known = m_lengths.constFind(name);
        if (known != m_lengths.constEnd())
            return *known < 0 ? Beyond : *known;
        m_lengths.insert(name, -1); // being worked out: a reference back is a cycle
        const QString value = m_values.value(name);
        qint64 total = 0;
        int from = 0;
        while (from < value.size() && total <= DgmlReader::FileExpansionLimit) {
            const int amp = value.indexOf(QLatin1Char('&'), from);
            const int semi = amp < 0 ? -1 : value.indexOf(QLatin1Char(';'), amp);
            if (semi < 0) {
                total += value.size() - from;
                break;
            }
            total += amp - from;
            const QString inner = value.mid(amp + 1, semi - amp - 1);
            total += declares(inner) ? length(inner) : semi - amp + 1;
            from = semi + 1;
        }
        total = qMin(total, Beyond);
        m_lengths.insert(name, total);
        return total;
    }

    static constexpr qint64 Beyond = DgmlReader::FileExpansionLimit + 1;

private:
    QHash<QString, QString> m_values;
    QHash<QString, qint64> m_lengths;
};

} // namespace

DgmlReader::Result DgmlReader::readFile(const QString &fileName)
{
    m_theme = DgmlTheme();
    m_error.clear();
    // Opening a FIFO would wait for a writer, and a device never ends: only a
    // regular file of a theme's size is opened at all.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        return Result::NotAFile;
    if (info.isFile() && info.size() > MaxFileBytes)
        return Result::TooLarge;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_error = file.errorString();
        return Result::CannotOpen;
    }
    return read(&file);
}

DgmlReader::Result DgmlReader::read(QIODevice *device)
{
    m_theme = DgmlTheme();
    m_error.clear();
    m_xml.clear();
    // The bytes are looked at once before the reader expands anything; the
    // reader then reads the device again from where it was.
    if (device->isSequential()) {
        m_error = QStringLiteral("A theme is read from a file, not from a stream.");
        return Result::Error;
    }
    const qint64 start = device->pos();
    QByteArray raw = device->read(MaxFileBytes + 1);
    device->seek(start);
    if (raw.size() > MaxFileBytes)
        return Result::TooLarge;
    m_error = checkDeclarations(raw);
    if (!m_error.isEmpty())
        return Result::Error;
    m_xml.setDevice(device);
    m_xml.setEntityExpansionLimit(EntityExpansionLimit);
    bool licenseRead = false;

    while (!m_xml.atEnd()) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (token == QXmlStreamReader::DTD) {
            // Nothing after the document type has been expanded yet.
            m_error = checkEntities(raw);
            if (!m_error.isEmpty())
                return Result::Error;
            continue;
        }
        if (token == QXmlStreamReader::StartElement && !raw.isNull())
            raw = QByteArray(); // past any document type
        if (!withinBounds())
            break;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QString element = m_xml.name().toString();
        const QXmlStreamAttributes attributes = m_xml.attributes();
        if (element == QLatin1String("name")) {
            const QString text = readText(element);
            m_theme.name = attributes.hasAttribute(QLatin1String("name"))
                               ? attributes.value(QLatin1String("name")).toString()
                               : text;
        } else if (element == QLatin1String("license")) {
            // Themes name their credit in the short attribute and explain it
            // in the text; a theme without the attribute is credited by its
            // text. Only the first element counts, as it sits in the head.
            const QString text = readText(element);
            if (!licenseRead) {
                licenseRead = true;
                const QString shortText = attributes.value(QLatin1String("short")).toString().simplified();
                m_theme.license = shortText.isEmpty() ? text.simplified() : shortText;
            }
        } else if (element == QLatin1String("sourcedir")) {
            QString text = readText(element);
            text.remove(QLatin1Char(' '));
            m_theme.sourceDir = text;
            m_theme.hasSourceDir = true;
            if (!text.isEmpty())
                m_theme.sourceDirs << text;
            if (attributes.hasAttribute(QLatin1String("format"))) {
                m_theme.format = attributes.value(QLatin1String("format")).toString();
                m_theme.hasFormat = true;
            }
        } else if (element == QLatin1String("storageLayout")) {
            if (attributes.hasAttribute(QLatin1String("mode")))
                m_theme.storageMode = attributes.value(QLatin1String("mode")).toString();
        } else if (element == QLatin1String("downloadUrl")) {
            readDownloadUrl();
            return Result::Read;
        }
    }
    if (!m_xml.hasError())
        return Result::NoDownloadUrl;
    m_error = atPlace(m_xml.errorString(), m_xml.lineNumber(), m_xml.columnNumber());
    return Result::Error;
}

// Every text and attribute value of the file, also of the elements that are
// skipped, stays within MaxTextLength; false (and the reader's error) beyond.
bool DgmlReader::withinBounds()
{
    if (m_xml.hasError())
        return false;
    if (m_xml.isCharacters() && m_xml.text().size() > MaxTextLength) {
        m_xml.raiseError(QStringLiteral("A text is longer than %1 characters.").arg(MaxTextLength));
        return false;
    }
    if (m_xml.isStartElement()) {
        const QXmlStreamAttributes attributes = m_xml.attributes();
        for (const QXmlStreamAttribute &attribute : attributes) {
            if (attribute.value().size() > MaxTextLength) {
                m_xml.raiseError(QStringLiteral("The attribute %1 is longer than %2 characters.")
                                     .arg(attribute.qualifiedName().toString())
                                     .arg(MaxTextLength));
                return false;
            }
        }
    }
    return true;
}

// Declarations that expand while the document type is still being read,
// before its entities can be judged: references in default attribute values
// and parameter entities. DGML needs neither; a file with them is refused
// before the reader sees it. An empty text when there are none.
QString DgmlReader::checkDeclarations(const QByteArray &raw)
{
    const int doctype = raw.indexOf("<!DOCTYPE");
    if (doctype < 0)
        return QString();
    auto place = [&raw](int at, const char *text) {
        const int line = raw.left(at).count('\n') + 1;
        return atPlace(QString::fromLatin1(text), line, at - raw.lastIndexOf('\n', at));
    };
    for (int at = raw.indexOf("<!ATTLIST", doctype); at >= 0; at = raw.indexOf("<!ATTLIST", at + 1)) {
        const int end = raw.indexOf('>', at);
        const int amp = raw.indexOf('&', at);
        if (amp >= 0 && (end < 0 || amp < end))
            return place(at, "The document type gives a default attribute value with a reference; "
                             "such files are not read.");
    }
    for (int at = raw.indexOf("<!ENTITY", doctype); at >= 0; at = raw.indexOf("<!ENTITY", at + 1)) {
        int next = at + 8;
        while (next < raw.size() && (raw.at(next) == ' ' || raw.at(next) == '\t' || raw.at(next) == '\n'
                                     || raw.at(next) == '\r'))
            ++next;
        if (next < raw.size() && raw.at(next) == '%')
            return place(at, "The document type declares a parameter entity; such files are not read.");
    }
    return QString();
}

// The document type's entities, judged before any reference to them is
// expanded: none may live in another file, and all references of the file
// after the document type together stay within FileExpansionLimit
// characters. The references are counted in the file's bytes. An empty text
// when the file may be read on.
QString DgmlReader::checkEntities(const QByteArray &raw)
{
    const QXmlStreamEntityDeclarations declarations = m_xml.entityDeclarations();
    for (const QXmlStreamEntityDeclaration &d : declarations) {
        if (!d.systemId().isEmpty() || !d.publicId().isEmpty())
            return atPlace(QStringLiteral("The document type declares the external entity %1; "
                                          "files with external entities are not read.")
                               .arg(d.name().toString()),
                           m_xml.lineNumber(), m_xml.columnNumber());
    }
    if (declarations.isEmpty())
        return QString();

    ExpansionTable table(declarations);
    // References inside the declarations are followed by the table; only
    // those after the document type are counted (for a prolog with other
    // than ASCII text this starts a little early, which only counts more).
    constexpr int MaxNameBytes = 256;
    qint64 total = 0;
    for (int amp = raw.indexOf('&', int(qMin(m_xml.characterOffset(), qint64(raw.size())))); amp >= 0;
         amp = raw.indexOf('&', amp + 1)) {
        int end = amp + 1;
        while (end < raw.size() && end - amp <= MaxNameBytes && raw.at(end) != ';' && raw.at(end) != '<'
               && raw.at(end) != '&' && raw.at(end) != ' ' && raw.at(end) != '\n')
            ++end;
        if (end >= raw.size() || raw.at(end) != ';')
            continue;
        const QString entity = QString::fromUtf8(raw.mid(amp + 1, end - amp - 1));
        if (!table.declares(entity))
            continue;
        total += table.length(entity);
        if (total > FileExpansionLimit) {
            const int line = raw.left(amp).count('\n') + 1;
            return atPlace(QStringLiteral("The entity references of this file expand to more than %1 characters.")
                               .arg(FileExpansionLimit),
                           line, amp - raw.lastIndexOf('\n', amp));
        }
    }
    return QString();
}

// The text of the current element without its child elements, up to
// MaxTextLength characters; a longer text is an error of the file.
QString DgmlReader::readText(const QString &element)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !m_xml.atEnd()) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (!withinBounds())
            return text;
        switch (token) {
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (depth == 1) {
                if (text.size() + m_xml.text().size() > MaxTextLength) {
                    m_xml.raiseError(QStringLiteral("The text of element %1 is longer than %2 characters.")
                                         .arg(element)
                                         .arg(MaxTextLength));
                    return text;
                }
                text += m_xml.text();
            }
            break;
        default:
            break;
        }
    }
    return text;
}

void DgmlReader::readDownloadUrl()
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
    auto take = [&attributes](const char *attribute, QString &field) {
        const QLatin1String key(attribute);
        if (attributes.hasAttribute(key))
            field = attributes.value(key).toString();
    };
    m_theme.hasDownloadUrl = true;
    take("host", m_theme.host);
    take("protocol", m_theme.protocol);
    take("port", m_theme.port);
    take("path", m_theme.path);
    take("query", m_theme.query);
    m_theme.port = usablePort(m_theme.port);
}
