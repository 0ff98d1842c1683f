// Reset: back to the blank lattice with the snapshot series and the charts
// emptied. The lattice totals and the energy read-out keep their values.

#include "ising.h"

namespace ferro {

void Ising::mnuReset_Click()
{
    for (int k = 0; k < Sites; ++k) {
        Shape1->setBorderStyle(k, CellArray::InsideSolid);
        Shape1->setBackColor(k, BlankColour);
        Shape1->setBorderColor(k, Shape1->BackColor(k));
        sim.lattice.Spin[rowOf(k)][columnOf(k)] = 0;
    }
    sim.record.snapshots.setZero();
    Snapshots &window = snapshots();
    for (int k = 0; k < window.Shape1->count(); ++k)
        window.Shape1->setCellVisible(k, false);
    for (Caption *caption : window.lblSnapshots)
        caption->setText(QString());
    ClearChart();
}

} // namespace ferro
