#include "runtime/end.h"

#include <QApplication>
#include <QWidget>

namespace ferro {

void QuitApplication::End()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        w->hide();
    QCoreApplication::exit(0);
}

} // namespace ferro
