#include "ising.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrogrid"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    ferro::Ising window;
    window.show();
    return app.exec();
}
