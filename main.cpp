#include "preparation/designtemps.h"
#include "preparation/factorfile.h"
#include "mainwindow/ising.h"
#include "recording/recordsession.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

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

// The toolkit's own options (Qt's and its X11 platform's), declared so
// that the command line can be checked before any display is opened. The
// toolkit takes them out of the arguments, or leaves them for the platform
// that reads them (-sync on X11, the X11 options elsewhere).
void addToolkitOptions(QCommandLineParser &parser)
{
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                             "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "qmljsdebugger",
                             "display", "geometry", "title", "icon", "name", "visual"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : {"reverse", "widgetcount", "testability", "sync", "nograb", "dograb"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

// The arguments byte for byte, each byte the character of the same number:
// a file name need not be UTF-8, and toLatin1() gives its bytes back.
QStringList argumentBytes(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLatin1(argv[i]);
    return arguments;
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
    std::fprintf(stderr, "ferrogrid: %s\nTry 'ferrogrid --help' for more information.\n",
                 message.toLatin1().constData());
    return 2;
}

// What is wrong with the program's own options, or nothing.
QString commandLineError(const QCommandLineParser &parser)
{
    if (!parser.errorText().isEmpty())
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    for (const QString &name : {QStringLiteral("record"), QStringLiteral("factors")}) {
        const QStringList files = parser.values(name);
        if (files.size() > 1)
            return QStringLiteral("--%1 is given more than once.").arg(name);
        if (files.size() == 1 && files[0].isEmpty())
            return QStringLiteral("--%1 needs a file name.").arg(name);
    }
    return {};
}

// Reads --factors FILE and prints its warnings; false, after saying why,
// when the file cannot be used.
bool readFactors(const QString &file, ferro::FactorFileResult &factors)
{
    factors = ferro::readFactorFile(file.toLatin1().toStdString());
    if (!factors.ok()) {
        std::fprintf(stderr, "ferrogrid: %s\n", factors.error.c_str());
        return false;
    }
    for (const std::string &warning : factors.warnings)
        std::fprintf(stderr, "ferrogrid: warning: %s\n", warning.c_str());
    return true;
}

// What the toolkit says while it opens the display is held back: when no
// display can be opened it would abort the program after several lines;
// instead one line of ours says so and the program ends with status 2.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> g_heldMessages;

void whileOpeningDisplay(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        g_heldMessages.push_back({type, QByteArray(context.category), text});
        return;
    }
    QString reason = text.section(QLatin1Char('\n'), 0, 0);
    for (const HeldMessage &held : g_heldMessages)
        if (held.category.startsWith("qt.qpa")) {
            reason = held.text;
            break;
        }
    std::fprintf(stderr, "ferrogrid: no display could be opened (%s)\n", reason.trimmed().toLocal8Bit().constData());
    std::_Exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("Ferrogrid"));
    QApplication::setApplicationVersion(QStringLiteral(FERROGRID_VERSION));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addOptions(parser);
    addToolkitOptions(parser);

    // The command line is checked before the toolkit opens a display, so
    // that a mistake in it is told whether or not there is one. --help and
    // --version work without a display and open no window.
    parser.parse(argumentBytes(argc, argv));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(QStringLiteral("version"))) {
        QCoreApplication app(argc, argv);
        if (parser.isSet(QStringLiteral("version")))
            parser.showVersion(); // ends the program with status 0
        parser.showHelp();
    }
    if (const QString error = commandLineError(parser); !error.isEmpty())
        return usageError(error);
    const QStringList recordFiles = parser.values(QStringLiteral("record"));
    const QStringList factorFiles = parser.values(QStringLiteral("factors"));

    ferro::FactorFileResult factors;
    if (!factorFiles.isEmpty() && !readFactors(factorFiles[0], factors))
        return 2;

    const QtMessageHandler toolkitHandler = qInstallMessageHandler(whileOpeningDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(toolkitHandler);
    for (const HeldMessage &held : g_heldMessages)
        toolkitHandler(held.type, QMessageLogContext(nullptr, 0, nullptr, held.category.constData()), held.text);
    g_heldMessages.clear();

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
    const QString pdfPath = qEnvironmentVariable("FERROGRID_PRINT_TO_PDF");
    PdfFile pdf(pdfPath);
    Services services {clock, random, boxes, end, pdfPath.isEmpty() ? static_cast<PrintTarget &>(printer) : pdf};

    Ising window(services);
    if (!factorFiles.isEmpty())
        for (int k = 0; k < Sites; ++k)
            window.designTemps().setFactorText(k, QString::fromStdString(factors.texts[k]));
    window.show();
    if (!recordFiles.isEmpty()) {
        // A record file may be a pipe (--record >(...)); a reader that has
        // gone must fail the write, not end the program.
        std::signal(SIGPIPE, SIG_IGN);
        window.startRecording(std::make_unique<RecordSession>(recordFiles[0].toLatin1().toStdString()));
    }
    return app.exec();
}
