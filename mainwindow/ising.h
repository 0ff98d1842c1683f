#pragma once
// The main window: the lattice, the read-outs, the two charts, the run
// controls and the menu bar. It owns the run and shows it.

#include "caption.h"
#include "cellarray.h"
#include "designtemps.h"
#include "drawingsurface.h"
#include "firstuse.h"
#include "reversedscrollbar.h"
#include "simulation.h"
#include "snapshotswindow.h"
#include "stillimage.h"
#include "timer.h"

#include <QMainWindow>

#include <array>

class QAction;
class QLineEdit;
class QPushButton;
class QTimer;

namespace ferro {

// A control's rectangle in twips.
struct TwipsBox {
    int left, top, width, height;
};

class Ising : public QMainWindow, private RunHost {
    Q_OBJECT
public:
    explicit Ising(QWidget *parent = nullptr);
    ~Ising() override;

    Simulation sim;

    // Client area and its own drawing surface, behind every control.
    QWidget *client;
    DrawingSurface *surface;

    Caption *lblFrame;
    CellArray *Shape1;

    Caption *lblInstant, *lblSteps, *lblSum, *lblNet, *lblEnergy;
    Caption *lblInstantaneousMag, *lblLabels, *lblSumMag, *lblNetMag, *lblInternalEnergy;

    Caption *lblLong, *lblShort, *lblScroll;
    ReversedScrollBar *hsbTimeInterval;

    Caption *lblGetTemp, *lblZero, *lblInfinity, *lblGetTempDefault, *lblGoToTemp, *lblRunNum;
    QPushButton *cmdZero, *cmdRandom, *cmdGoToTemp, *cmdRestart;
    QLineEdit *txtTemp, *txtRunNum;

    Caption *lblY, *lblAuto, *lblX;
    DrawingSurface *picMag, *picAutoCorrelation, *picDateTime;
    StillImage *imgPicMag, *imgAutoCorrelation, *imgpicDateTime;
    std::array<Caption *, 6> Label1;

    Caption *lblPrintRunNum;
    Caption *lblRestart, *lblTime, *lblSnapshotsCounter;

    Timer *tmrTime, *tmrLabels;

    QAction *mnuTemps, *mnuSnapshot, *mnuView, *mnuContinue, *mnuClearChart, *mnuReset, *mnuPrint, *mnuExit;

    // The other two windows, each created the first time anything refers to it.
    Design_Temps &designTemps() { return m_designTemps.get(); }
    Snapshots &snapshots() { return m_snapshots.get(); }
    bool designTempsExists() const { return m_designTemps.exists(); }
    bool snapshotsExists() const { return m_snapshots.exists(); }

    static constexpr TwipsBox picMagBox {2693, 5828, 10365, 1665};
    static constexpr TwipsBox picAutoCorrelationBox {2693, 7868, 10365, 1665};
    static constexpr TwipsBox picDateTimeBox {533, 10028, 2535, 615};

    // Handlers.
    void Form_Load();
    void Form_Unload();
    void tmrTime_Timer();
    void cmdZero_Click();
    void cmdRandom_Click();
    void cmdGoToTemp_Click();
    void cmdRestart_Click();
    void txtTemp_Change();
    void lblPrintRunNum_Click();
    void mnuTemps_Click();
    void mnuSnapshot_Click();
    void mnuView_Click();
    void mnuContinue_Click();
    void mnuClearChart_Click();
    void mnuReset_Click();
    void mnuPrint_Click();
    void mnuExit_Click();

    // Private operations of the window, public for tests and the benchmark.
    void MonteCarloTick();
    void MeasureLattice();
    void PrepareChart(DrawingSurface *pic, std::uint32_t plotColour);
    void ClearChart();
    void ResumeRun();

    // Both timers on or off, the run timer first.
    void setTimersEnabled(bool on) override;
    bool timersEnabled() const { return tmrTime->Enabled(); }
    // Writes the run record into its labels now (ticks do it once per frame).
    void refreshReadouts();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenu();
    Caption *makeLabel(const QString &text, const TwipsBox &box, Qt::Alignment align = Qt::AlignLeft,
                       bool bold = false);
    Caption *makeValueLabel(int left, int top);
    QPushButton *makeButton(int left, int top);
    void showCellsFromSpins();
    void temperatureTextChanged(const QString &text);

    // RunHost
    void applyTimerInterval() override;
    void prepareCharts() override;
    double runTemperature() override { return m_runTemperature; }
    const double *siteFactors() override;
    void showAttempt(int k) override;
    void plotPoints(float x, float yMag, float yNet) override;
    void recordChanged() override;

    double m_runTemperature = 0.1; // derived from txtTemp's text on every change
    const double *m_factors = nullptr;
    QTimer *m_readoutRefresh;
    OnFirstUse<Design_Temps> m_designTemps;
    OnFirstUse<Snapshots> m_snapshots;
};

} // namespace ferro
