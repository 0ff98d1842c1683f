// Go, the pause on editing the temperature, the run number, and quitting.

#include "ising.h"

#include "end.h"
#include "messagebox.h"

#include <QLineEdit>

namespace ferro {

void Ising::cmdRestart_Click()
{
    sim.record.go = true;
    setTimersEnabled(true);
    refreshReadouts();
}

void Ising::lblPrintRunNum_Click()
{
    lblPrintRunNum->setText(txtRunNum->text());
}

void Ising::txtTemp_Change()
{
    setTimersEnabled(false);
}

void Ising::mnuExit_Click()
{
    setTimersEnabled(false);
    if (MsgBox(this, QStringLiteral(" Quit the program?"), vbYesNo, QStringLiteral(" Ferrogrid")) == vbYes) {
        setTimersEnabled(false);
        End();
        return;
    }
    if (sim.record.go)
        setTimersEnabled(true);
}

void Ising::Form_Unload()
{
    End();
}

} // namespace ferro
