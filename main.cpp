#include "preparation/designtemps.h"
#include "preparation/factorfile.h"
#include "mainwindow/ising.h"
#include "recording/recorder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QIcon>

#include <csignal>
#include <cstdio>

namespace {

// One id for the desktop entry, the AppStream metadata and the icon.
const char appId[] = "io.github.ferrogrid.Ferrogrid";

// The program's own options; main() reads each back by its name after the parse.
void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("A desktop simulator of the two-dimensional Ising model."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("factors"),
                      QStringLiteral("Fill the temperature-factor boxes from <file>: 20 lines of 20 "
                                     "comma-separated factors, as ferrogrid-batch --write-factors writes them."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("record"),
                      QStringLiteral("Append a CSV row to <file> for every point the charts get and for every "
                                     "event that cuts the run (start, clear, reset, new page, snapshot, factors)."),
                      QStringLiteral("file")});
}

// The options every Qt program takes (-platform offscreen, -style Fusion, ...).
// QApplication reads them itself; the parser only has to let them through.
void addToolkitOptions(QCommandLineParser &parser)
{
    const char *const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                     "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                     "display", "geometry", "style", "stylesheet", "qmljsdebugger",
                                     "dialogs", "fontengine"};
    const char *const flags[] = {"reverse", "widgetcount"};
    for (const char *name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "ferrogrid: %s\nTry 'ferrogrid --help' for more information.\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("Ferrogrid"));
    QApplication::setApplicationVersion(QStringLiteral(FERROGRID_VERSION));

    // The command line is read before anything connects to a display, so that
    // --help, --version and a mistyped option work without one and open no window.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addOptions(parser);
    addToolkitOptions(parser);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(QStringLiteral("version"))) {
        QCoreApplication app(argc, argv);
        parser.process(app); // prints the help or the version and ends the program with status 0
        return 0;
    }

    ferro::FactorFileResult factors;
    if (parser.isSet(QStringLiteral("factors"))) {
        factors = ferro::readFactorFile(QFile::encodeName(parser.value(QStringLiteral("factors"))).toStdString());
        if (!factors.ok()) {
            std::fprintf(stderr, "ferrogrid: %s\n", factors.error.c_str());
            return 2;
        }
    }

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(appId));
    QApplication::setWindowIcon(programIcon());
    QApplication::setStyle(QStringLiteral("Fusion"));

    using namespace ferro;
    SystemClock clock;
    Random random;
    DialogBoxes boxes;
    QuitApplication end;
    DefaultPrinter printer;
    // For looking at printed pages without a printer: pages go to this PDF file.
    PdfFile pdf(qEnvironmentVariable("FERROGRID_PRINT_TO_PDF"));
    const bool toPdf = !qEnvironmentVariable("FERROGRID_PRINT_TO_PDF").isEmpty();
    Services services {clock, random, boxes, end, toPdf ? static_cast<PrintTarget &>(pdf) : printer};

    Recorder recorder(QFile::encodeName(parser.value(QStringLiteral("record"))).toStdString());
    Ising window(services);
    if (parser.isSet(QStringLiteral("factors")))
        for (int k = 0; k < Sites; ++k)
            window.designTemps().setFactorText(k, QString::fromStdString(factors.texts[k]));
    window.show();
    if (parser.isSet(QStringLiteral("record"))) {
        // A record file may be a pipe (--record >(...)); a reader that has
        // gone must fail the write, not end the program.
        std::signal(SIGPIPE, SIG_IGN);
        window.startRecording(recorder);
    }
    return app.exec();
}
