#include "printing.h"

#include <QPainter>
#include <QPicture>
#include <QPrinter>
#include <QPrinterInfo>
#include <QWidget>

#include <memory>

namespace ferro {

namespace {

QString &pdfPath()
{
    static QString path;
    return path;
}

bool g_printRendering = false;

struct PrintRenderingScope {
    PrintRenderingScope() { g_printRendering = true; }
    ~PrintRenderingScope() { g_printRendering = false; }
};

} // namespace

void setPrintToPdf(const QString &path)
{
    pdfPath() = path;
}

bool isPrintRendering()
{
    return g_printRendering;
}

QString printClientArea(QWidget *clientArea, const QString &documentName)
{
    std::unique_ptr<QPrinter> printer;
    QString printerName;
    if (!pdfPath().isEmpty()) {
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdfPath());
        printerName = pdfPath();
    } else {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull())
            return QStringLiteral("no default printer is set up on this computer");
        printerName = info.printerName();
        printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
        if (!printer->isValid())
            return QStringLiteral("the printer %1 is not available").arg(printerName);
    }
    printer->setDocName(documentName);
    printer->setPageOrientation(QPageLayout::Landscape);

    QPainter painter;
    if (!painter.begin(printer.get()))
        return QStringLiteral("the printer %1 could not be opened").arg(printerName);

    const QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
    const QSize source = clientArea->size();
    if (source.isEmpty() || page.isEmpty()) {
        painter.end();
        return QStringLiteral("the page of %1 has no printable area").arg(printerName);
    }
    const double scale = std::min(double(page.width()) / source.width(), double(page.height()) / source.height());
    painter.translate((page.width() - source.width() * scale) / 2, (page.height() - source.height() * scale) / 2);
    painter.scale(scale, scale);
    // Rendering a widget straight onto a printer goes through a pixmap of
    // the page's size; recording it as a picture keeps every line, square
    // and glyph a vector, drawn at the printer's resolution.
    QPicture picture;
    {
        PrintRenderingScope scope;
        QPainter recorder(&picture);
        clientArea->render(&recorder, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    // A picture plays back scaled by the ratio of the printer's resolution
    // to its own; the scale above already maps screen pixels to the page.
    painter.scale(double(picture.logicalDpiX()) / printer->logicalDpiX(),
                  double(picture.logicalDpiY()) / printer->logicalDpiY());
    painter.drawPicture(0, 0, picture);
    if (!painter.end() || printer->printerState() == QPrinter::Error)
        return QStringLiteral("the printer %1 refused the page").arg(printerName);
    return {};
}

} // namespace ferro
