// The main window's commands: each reads its controls, calls the rules of
// the run, the preparation or the snapshot series, and shows what changed.

#include "mainwindow/ising.h"

#include "runtime/caption.h"
#include "runtime/cellarray.h"
#include "preparation/designtemps.h"
#include "runtime/drawingsurface.h"
#include "preparation/preparation.h"
#include "runtime/qtext.h"
#include "snapshots/snapshotswindow.h"
#include "runtime/stillimage.h"
#include "runtime/timer.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>

namespace ferro {

namespace {

std::string utf8(const QString &text)
{
    return text.toStdString();
}

} // namespace

// Run controls.

void Ising::cmdRestart_Click()
{
    m_run.setGo();
    setTimersEnabled(true);
    refreshReadouts();
}

void Ising::mnuClearChart_Click()
{
    ClearChart();
    recordEvent("Clear Chart");
}

void Ising::txtTemp_Change()
{
    setTimersEnabled(false);
}

void Ising::lblPrintRunNum_Click()
{
    lblPrintRunNum->setText(txtRunNum->text());
}

void Ising::mnuExit_Click()
{
    setTimersEnabled(false);
    if (m_services.boxes.MsgBox(this, QStringLiteral(" Quit the program?"), vbYesNo, QStringLiteral(" Ferrogrid"))
        == vbYes) {
        m_services.end.End();
        return;
    }
    if (m_run.record().go)
        setTimersEnabled(true);
}

// Preparation: starting states, temperature targets, the designer, Reset.

void Ising::cmdZero_Click()
{
    prepareZero(m_run);
    showCellsFromSpins();
    refreshReadouts();
    recordEvent("T = Zero");
}

void Ising::cmdRandom_Click()
{
    prepareInfinity(m_run);
    showCellsFromSpins();
    refreshReadouts();
    recordEvent("T = Infinity");
}

void Ising::ResumeRun()
{
    picDateTime->setVisible(true);
    picMag->setVisible(true);
    picAutoCorrelation->setVisible(true);
    // Writing the box pauses the run; the tick below sets it going again.
    if (const auto text = resumeTemperatureText(utf8(txtTemp->text())))
        txtTemp->setText(toQString(*text));
    if (!canResume(m_run.lattice())) {
        setTimersEnabled(false);
        return;
    }
    showTick(m_run.MonteCarloTick(m_runTemperature, siteFactors()));
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
    bringToFront(designTemps());
}

void Ising::mnuReset_Click()
{
    blankLattice(m_run.lattice());
    for (int k = 0; k < Sites; ++k) {
        Shape1->setBorderStyle(k, CellArray::InsideSolid);
        Shape1->setBackColor(k, BlankColour);
        Shape1->setBorderColor(k, Shape1->BackColor(k));
    }
    m_series.clear();
    snapshots().emptyBlocks();
    ClearChart();
    recordEvent("Reset");
}

// Snapshots and printing.

void Ising::mnuView_Click()
{
    bringToFront(snapshots());
}

void Ising::mnuSnapshot_Click()
{
    Snapshots &window = snapshots();
    bringToFront(window);
    const std::optional<int> slot = m_series.capture();
    refreshReadouts();
    if (!slot)
        return;

    setTimersEnabled(false);
    std::array<std::uint32_t, Sites> colours;
    for (int k = 0; k < Sites; ++k)
        colours[k] = Shape1->BackColor(k);
    window.showCapture(*slot, toQString(snapshotCaption(utf8(txtTemp->text()), m_run.record())), colours);
    recordEvent("Snapshot " + std::to_string(*slot + 1));
}

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
        // The still copy reads as its surface did while it shows in its place.
        if (QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(pic)) {
            img->setAccessibleName(shown->text(QAccessible::Name));
            img->setAccessibleDescription(shown->text(QAccessible::Description));
        }
        pic->setVisible(false);
        img->setVisible(true);
    }

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString failure = printClientArea(m_services.printer, client, QStringLiteral("Ferrogrid"));
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (!failure.isEmpty())
        m_services.boxes.MsgBox(this, QStringLiteral(" Nothing was printed: %1.").arg(failure), vbOKOnly,
                                QStringLiteral(" Ferrogrid"));
}

} // namespace ferro
