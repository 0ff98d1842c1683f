#include "runtime/printing.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPicture>
#include <QPointer>
#include <QPrinter>
#include <QPrinterInfo>
#include <QWidget>

#include <memory>

namespace ferro {

namespace {

// Paper shows the content, not the keyboard focus: while the page is drawn
// no control has the focus (no focus frame, no caret); afterwards the focus,
// the caret and the selection are where they were.
class FocusAside {
public:
    explicit FocusAside(QWidget *area)
    {
        QWidget *focused = QApplication::focusWidget();
        if (!focused || !area->isAncestorOf(focused))
            return;
        m_widget = focused;
        if (auto *edit = qobject_cast<QLineEdit *>(focused)) {
            m_cursor = edit->cursorPosition();
            m_selectionStart = edit->selectionStart();
            m_selectionLength = edit->selectionLength();
        }
        focused->clearFocus();
    }
    ~FocusAside()
    {
        if (!m_widget)
            return;
        m_widget->setFocus(Qt::OtherFocusReason);
        if (auto *edit = qobject_cast<QLineEdit *>(m_widget.data())) {
            if (m_selectionLength <= 0)
                edit->setCursorPosition(m_cursor);
            else if (m_cursor == m_selectionStart)
                edit->setSelection(m_selectionStart + m_selectionLength, -m_selectionLength);
            else
                edit->setSelection(m_selectionStart, m_selectionLength);
        }
    }
    FocusAside(const FocusAside &) = delete;
    FocusAside &operator=(const FocusAside &) = delete;

private:
    QPointer<QWidget> m_widget;
    int m_cursor = 0;
    int m_selectionStart = -1;
    int m_selectionLength = 0;
};

} // namespace

std::unique_ptr<QPrinter> DefaultPrinter::open(QString &failure)
{
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        failure = QStringLiteral("no default printer is set up on this computer");
        return nullptr;
    }
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    if (!printer->isValid()) {
        failure = QStringLiteral("the printer %1 is not available").arg(info.printerName());
        return nullptr;
    }
    return printer;
}

std::unique_ptr<QPrinter> PdfFile::open(QString &)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(m_path);
    return printer;
}

QString printClientArea(PrintTarget &target, QWidget *clientArea, const QString &documentName)
{
    QString failure;
    const std::unique_ptr<QPrinter> printer = target.open(failure);
    if (!printer)
        return failure;
    const QString printerName = printer->outputFormat() == QPrinter::PdfFormat ? printer->outputFileName()
                                                                                : printer->printerName();
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
        FocusAside focus(clientArea);
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
