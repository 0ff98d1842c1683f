// "Print" of the main window: the run paused, the run number added to the
// date box, still copies put in place of the three drawing surfaces, and the
// client area printed on one landscape page.

#include "ising.h"

#include "messagebox.h"
#include "printing.h"
#include "twips.h"

#include <QApplication>
#include <QLineEdit>

namespace ferro {

void Ising::mnuPrint_Click()
{
    setTimersEnabled(false);
    // The page shows the read-outs of the paused run, not those of the last frame.
    refreshReadouts();
    picDateTime->Print(txtRunNum->text());
    imgpicDateTime->setGeometry(picDateTime->geometry());

    const std::pair<DrawingSurface *, StillImage *> pairs[] = {
        {picDateTime, imgpicDateTime},
        {picMag, imgPicMag},
        {picAutoCorrelation, imgAutoCorrelation},
    };
    for (auto [pic, img] : pairs) {
        img->setPicture(pic->Image());
        pic->setVisible(false);
        img->setVisible(true);
    }

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString failure = printClientArea(client, QStringLiteral("Ferrogrid"));
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (!failure.isEmpty())
        MsgBox(this, QStringLiteral(" Nothing was printed: %1.").arg(failure), vbOKOnly, QStringLiteral(" Ferrogrid"));
}

} // namespace ferro
