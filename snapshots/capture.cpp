// "Snapshot" and "View Snapshots": the lattice picture and four read-outs
// copied into the next of twelve blocks of the snapshots window.

#include "ising.h"

#include "qtext.h"

#include <QLineEdit>

namespace ferro {

namespace {
void bringToFront(QWidget &window)
{
    window.show();
    window.raise();
    window.activateWindow();
}
} // namespace

void Ising::mnuView_Click()
{
    bringToFront(snapshots());
}

void Ising::mnuSnapshot_Click()
{
    Snapshots &window = snapshots();
    bringToFront(window);

    sim.record.snapshots.increment();
    refreshReadouts();
    const std::int64_t n = sim.record.snapshots.value();
    if (n >= Snapshots::Blocks + 1)
        return;

    setTimersEnabled(false);
    const int slot = static_cast<int>(n - 1);
    Caption *caption = window.lblSnapshots[slot];
    caption->show();
    const RunRecord &r = sim.record;
    caption->setText(txtTemp->text() + QStringLiteral("; ") + qs(r.instantaneousMag.text()) + QStringLiteral("; ")
                     + qs(r.netMag.text()) + QStringLiteral("; ") + qs(r.labels.text()));

    const int first = Snapshots::BlockCells * slot;
    for (int i = 0; i < Sites; ++i) {
        window.Shape1->setCellVisible(first + i, true);
        window.Shape1->setBorderColor(first + i, Shape1->BackColor(i));
        window.Shape1->setBackColor(first + i, Shape1->BackColor(i));
    }
}

} // namespace ferro
