#pragma once
// Printing a window's client area on one landscape page, drawn at the
// printer's resolution: the widgets paint themselves onto the printer, and
// drawing surfaces replay their drawing instead of copying screen pixels.

#include <QString>

class QWidget;

namespace ferro {

// Prints the client area, scaled to fit the printable area of a landscape
// page with its aspect ratio kept, as one document. Returns an empty text on
// success, otherwise why nothing was printed.
QString printClientArea(QWidget *clientArea, const QString &documentName);

// Tests and tools: send pages to this PDF file instead of the default
// printer; an empty path sends them to the default printer again.
void setPrintToPdf(const QString &path);

// True while a window is being painted onto a printer.
bool isPrintRendering();

} // namespace ferro
