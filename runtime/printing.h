#pragma once
// Printing a window's client area on one landscape page, drawn at the
// printer's resolution: the widgets paint themselves into a recorded
// picture, which plays back on the printer, so drawing surfaces replay their
// drawing instead of copying screen pixels.

#include <QString>

#include <memory>

class QPrinter;
class QWidget;

namespace ferro {

// Where printed pages go.
class PrintTarget {
public:
    virtual ~PrintTarget() = default;
    // A printer ready for a document, or null with the reason in `failure`.
    virtual std::unique_ptr<QPrinter> open(QString &failure) = 0;
};

// The system's default printer.
class DefaultPrinter final : public PrintTarget {
public:
    std::unique_ptr<QPrinter> open(QString &failure) override;
};

// A PDF file, written anew by every print.
class PdfFile final : public PrintTarget {
public:
    explicit PdfFile(QString path) : m_path(std::move(path)) {}
    std::unique_ptr<QPrinter> open(QString &failure) override;

private:
    QString m_path;
};

// Prints the client area, scaled to fit the printable area of a landscape
// page with its aspect ratio kept, as one document. Returns an empty text on
// success, otherwise why nothing was printed.
QString printClientArea(PrintTarget &target, QWidget *clientArea, const QString &documentName);

} // namespace ferro
