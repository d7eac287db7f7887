#include "settings/DgmlReader.h"

#include <QFile>

namespace {

// Ports outside 1 ... 65535 give no usable address: the theme is asked on 80.
QString usablePort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? QString::number(port) : QStringLiteral("80");
}

} // namespace

DgmlReader::Result DgmlReader::readFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_theme = DgmlTheme();
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
    m_xml.setDevice(device);
    m_xml.setEntityExpansionLimit(EntityExpansionLimit);
    bool licenseRead = false;

    while (!m_xml.atEnd()) {
        if (m_xml.readNext() != QXmlStreamReader::StartElement)
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
    m_error = QStringLiteral("%1 (line %2, column %3)")
                  .arg(m_xml.errorString())
                  .arg(m_xml.lineNumber())
                  .arg(m_xml.columnNumber());
    return Result::Error;
}

// The text of the current element without its child elements, up to
// MaxTextLength characters; a longer text is an error of the file.
QString DgmlReader::readText(const QString &element)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !m_xml.atEnd()) {
        switch (m_xml.readNext()) {
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
