#include "factorfile.h"
#include "ising.h"
#include "printing.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QLineEdit>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrogrid"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    // For looking at printed pages without a printer: pages go to this PDF file.
    const QString pdf = qEnvironmentVariable("FERROGRID_PRINT_TO_PDF");
    if (!pdf.isEmpty())
        ferro::setPrintToPdf(pdf);
    QCommandLineParser parser;
    const QCommandLineOption factorsOption(QStringLiteral("factors"),
        QStringLiteral("Fill the temperature-factor boxes from <file>: 20 lines of 20 comma-separated factors."),
        QStringLiteral("file"));
    parser.addOption(factorsOption);
    parser.process(app);
    ferro::FactorFileResult factors;
    if (parser.isSet(factorsOption)) {
        factors = ferro::readFactorFile(QFile::encodeName(parser.value(factorsOption)).toStdString());
        if (!factors.ok()) {
            std::fprintf(stderr, "ferrogrid: %s\n", factors.error.c_str());
            return 2;
        }
    }

    ferro::Ising window;
    if (parser.isSet(factorsOption))
        for (int k = 0; k < ferro::Sites; ++k)
            window.designTemps().Text1[k]->setText(QString::fromStdString(factors.texts[k]));
    window.show();
    return app.exec();
}
