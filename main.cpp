#include "ising.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrogrid"));
    QApplication::setStyle(QStringLiteral("Fusion"));

    using namespace ferro;
    SystemClock clock;
    Random random;
    DialogBoxes boxes;
    QuitApplication end;
    DefaultPrinter printer;
    // For looking at printed pages without a printer: pages go to this PDF file.
    PdfFile pdf(qEnvironmentVariable("FERROGRID_PRINT_TO_PDF"));
    const bool toPdf = qEnvironmentVariableIsSet("FERROGRID_PRINT_TO_PDF")
        && !qEnvironmentVariable("FERROGRID_PRINT_TO_PDF").isEmpty();
    ferro::Services services {clock, random, boxes, end, toPdf ? static_cast<PrintTarget &>(pdf) : printer};

    ferro::Ising window(services);
    window.show();
    return app.exec();
}
