#include "ising.h"
#include "printing.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrogrid"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    // For looking at printed pages without a printer: pages go to this PDF file.
    const QString pdf = qEnvironmentVariable("FERROGRID_PRINT_TO_PDF");
    if (!pdf.isEmpty())
        ferro::setPrintToPdf(pdf);
    ferro::Ising window;
    window.show();
    return app.exec();
}
