#include "messagebox.h"

#include <QMessageBox>
#include <QPushButton>

namespace ferro {

namespace {
MsgBoxAnswerer &answerer()
{
    static MsgBoxAnswerer a;
    return a;
}
} // namespace

void setMsgBoxAnswerer(MsgBoxAnswerer a)
{
    answerer() = std::move(a);
}

int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &title)
{
    if (answerer())
        return answerer()(prompt, style, title);

    QMessageBox box(QMessageBox::NoIcon, title, prompt, QMessageBox::NoButton, parent);
    if (style == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

} // namespace ferro
