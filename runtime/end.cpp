#include "end.h"

#include <QApplication>
#include <QWidget>

namespace ferro {

namespace {
std::function<void()> &handler()
{
    static std::function<void()> h;
    return h;
}
} // namespace

void setEndHandler(std::function<void()> h)
{
    handler() = std::move(h);
}

void End()
{
    if (handler()) {
        handler()();
        return;
    }
    for (QWidget *w : QApplication::topLevelWidgets())
        w->hide();
    QCoreApplication::exit(0);
}

} // namespace ferro
