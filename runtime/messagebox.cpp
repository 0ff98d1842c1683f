#include "runtime/messagebox.h"

#include <QMessageBox>

namespace ferro {

int DialogBoxes::MsgBox(QWidget *parent, const QString &prompt, int style, const QString &title)
{
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
