// "Go to T =" and "Continue": resume the run at the temperature in the box.

#include "ising.h"

#include "flip.h"
#include "qtext.h"

#include <QLineEdit>

namespace ferro {

void Ising::ResumeRun()
{
    picDateTime->setVisible(true);
    picMag->setVisible(true);
    picAutoCorrelation->setVisible(true);
    // The box shows the temperature in use; writing it pauses the run.
    if (Val(txtTemp->text()) < MinimumTemperature)
        txtTemp->setText(QStringLiteral("0.1"));
    if (sim.lattice.Spin[0][0] == 0) {
        // A blank lattice: nothing to run until a starting state is chosen.
        setTimersEnabled(false);
        return;
    }
    MonteCarloTick();
    refreshReadouts();
}

void Ising::cmdGoToTemp_Click()
{
    ResumeRun();
}

void Ising::mnuContinue_Click()
{
    ResumeRun();
}

void Ising::mnuTemps_Click()
{
    setTimersEnabled(false);
    Design_Temps &designer = designTemps();
    designer.show();
    designer.raise();
    designer.activateWindow();
}

} // namespace ferro
