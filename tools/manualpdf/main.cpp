// Turns the user manual (HTML or Markdown) into an A4 PDF.
//
//   manualpdf <manual.html|manual.md> <output.pdf>
//
// Relative image paths in the manual are resolved against the manual's folder.
// The first page is a title page and gets no footer; every other page carries
// the document title and "Page n of m". A heading that would stand at the foot of
// a page moves to the next one. The text "{page:NAME}" is replaced by the number
// of the page that holds the anchor <a name="NAME">, which is how the table of
// contents gets its page numbers. Needs no display: without a QT_QPA_PLATFORM
// setting it runs on the offscreen platform.

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QHash>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>
#include <QUrl>

namespace {

constexpr qreal FooterHeightMm = 9.0;
constexpr int ResolutionDpi = 300;

// A heading needs at least this much of its page below it, or it starts the next page.
constexpr qreal HeadingKeepMm = 32.0;

qreal mmToDevice(qreal mm)
{
    return mm / 25.4 * ResolutionDpi;
}

int pageOf(const QTextDocument &doc, const QTextBlock &block)
{
    const qreal top = doc.documentLayout()->blockBoundingRect(block).top();
    return int(top / doc.pageSize().height()) + 1;
}

// Keeps headings with the text that follows them. Blocks are visited in order,
// so each break is placed in the layout that the earlier breaks produced.
void keepHeadingsWithText(QTextDocument &doc)
{
    const qreal pageHeight = doc.pageSize().height();
    const qreal keep = mmToDevice(HeadingKeepMm);
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (format.headingLevel() == 0 || (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore))
            continue;
        const QRectF rect = doc.documentLayout()->blockBoundingRect(block);
        const qreal pageBottom = (int(rect.top() / pageHeight) + 1) * pageHeight;
        if (pageBottom - rect.top() < keep) {
            format.setPageBreakPolicy(format.pageBreakPolicy() | QTextFormat::PageBreak_AlwaysBefore);
            QTextCursor(block).setBlockFormat(format);
            // The incremental relayout after a format change leaves later blocks
            // of a paginated document with tables unplaced: lay it all out anew.
            doc.markContentsDirty(0, doc.characterCount());
            doc.pageCount();
        }
    }
}

// Replaces every "{page:NAME}" by the page of the anchor NAME. Returns the
// placeholders whose anchor does not exist.
QStringList fillPageReferences(QTextDocument &doc)
{
    QHash<QString, int> anchorPages;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QStringList names = it.fragment().charFormat().anchorNames();
            for (const QString &name : names)
                anchorPages.insert(name, pageOf(doc, block));
        }
    }
    QStringList missing;
    const QRegularExpression reference(QStringLiteral("\\{page:([A-Za-z0-9_-]+)\\}"));
    QTextCursor cursor = doc.find(reference);
    while (!cursor.isNull()) {
        const QString name = reference.match(cursor.selectedText()).captured(1);
        if (anchorPages.contains(name))
            cursor.insertText(QString::number(anchorPages.value(name)));
        else
            missing.append(name);
        cursor = doc.find(reference, cursor);
    }
    return missing;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        err << "usage: manualpdf <manual.html|manual.md> <output.pdf>\n";
        return 2;
    }
    const QFileInfo input(args.at(1));
    const QString output = args.at(2);

    QFile source(input.absoluteFilePath());
    if (!source.open(QIODevice::ReadOnly)) {
        err << "manualpdf: cannot read " << input.filePath() << ": " << source.errorString() << "\n";
        return 1;
    }
    const QString text = QString::fromUtf8(source.readAll());

    QPdfWriter writer(output);
    writer.setResolution(ResolutionDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(20, 18, 20, 14), QPageLayout::Millimeter);
    writer.setCreator(QStringLiteral("CvTilewright manualpdf"));

    QTextDocument doc;
    // Lay the text out with the PDF's metrics, so point sizes and image sizes
    // come out as on paper.
    doc.documentLayout()->setPaintDevice(&writer);
    doc.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    doc.setMetaInformation(QTextDocument::DocumentUrl, QUrl::fromLocalFile(input.absoluteFilePath()).toString());
    if (input.suffix().compare(QLatin1String("md"), Qt::CaseInsensitive) == 0)
        doc.setMarkdown(text);
    else
        doc.setHtml(text);

    QString title = doc.metaInformation(QTextDocument::DocumentTitle);
    if (title.isEmpty())
        title = input.completeBaseName();
    writer.setTitle(title);

    const QRect paintRect = writer.pageLayout().paintRectPixels(writer.resolution());
    const qreal footerHeight = mmToDevice(FooterHeightMm);
    const QSizeF bodySize(paintRect.width(), paintRect.height() - footerHeight);
    doc.setDocumentMargin(0);
    doc.setPageSize(bodySize);
    keepHeadingsWithText(doc);
    const QStringList missing = fillPageReferences(doc);
    if (!missing.isEmpty()) {
        err << "manualpdf: no anchor for page references: " << missing.join(QStringLiteral(", ")) << "\n";
        return 1;
    }

    QPainter painter;
    if (!painter.begin(&writer)) {
        err << "manualpdf: cannot write " << output << "\n";
        return 1;
    }
    QFont footerFont(QStringLiteral("DejaVu Sans"), 8);
    const int pageCount = doc.pageCount();
    for (int page = 0; page < pageCount; ++page) {
        if (page > 0)
            writer.newPage();

        painter.save();
        const QRectF view(0, page * bodySize.height(), bodySize.width(), bodySize.height());
        painter.translate(0, -view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        context.palette.setColor(QPalette::Text, Qt::black);
        doc.documentLayout()->draw(&painter, context);
        painter.restore();

        if (page == 0)
            continue;   // the title page carries no footer
        const qreal lineY = bodySize.height() + footerHeight * 0.35;
        painter.setPen(QPen(QColor(0x9a, 0xaa, 0xc4), mmToDevice(0.2)));
        painter.drawLine(QPointF(0, lineY), QPointF(bodySize.width(), lineY));
        painter.setFont(footerFont);
        painter.setPen(QColor(0x55, 0x55, 0x55));
        const QRectF footer(0, lineY, bodySize.width(), footerHeight * 0.65);
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter, title);
        painter.drawText(footer, Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("Page %1 of %2").arg(page + 1).arg(pageCount));
    }
    if (!painter.end()) {
        err << "manualpdf: writing " << output << " failed\n";
        return 1;
    }
    return 0;
}
