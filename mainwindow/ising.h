#pragma once
// The main window: the lattice, the read-outs, the two charts, the run
// controls and the menu bar. It holds the run and the snapshot series and
// shows them; the rules are theirs.

#include "core/run.h"
#include "snapshots/series.h"
#include "runtime/services.h"

#include <QMainWindow>

#include <array>
#include <memory>

class QAction;
class QLineEdit;
class QPushButton;
class QTimer;

namespace ferro {

class Caption;
class CellArray;
class Design_Temps;
class DrawingSurface;
class RecordSession;
class ReversedScrollBar;
class Snapshots;
class StillImage;
class Timer;

class Ising : public QMainWindow {
    Q_OBJECT
public:
    explicit Ising(Services &services, QWidget *parent = nullptr);
    ~Ising() override;

    // The run as it stands.
    const Run &run() const { return m_run; }
    // For tests and tools that must reach the end of a page quickly.
    void fastForward(std::int64_t ticks) { m_run.fastForward(ticks); }

    // The other two windows, each created, hidden, the first time anything
    // refers to it.
    Design_Temps &designTemps();
    Snapshots &snapshots();

    // From now on the session gets a row for every point on the charts and
    // every event that cuts the series. A file that cannot be had, a write
    // that fails or a reader that falls behind says so in a message box; the
    // run goes on unrecorded.
    void startRecording(std::unique_ptr<RecordSession> session);

    // The run timer's handler: one tick. The benchmark drives it directly.
    void tmrTime_Timer();
    bool timersEnabled() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct TwipsBox {
        int left, top, width, height;
    };
    static constexpr TwipsBox picMagBox {2693, 5828, 10365, 1665};
    static constexpr TwipsBox picAutoCorrelationBox {2693, 7868, 10365, 1665};
    static constexpr TwipsBox picDateTimeBox {533, 10028, 2535, 615};

    // Shows a window, restores it when minimised, and puts it in front.
    static void bringToFront(QWidget &window);
    // The controls, group by group in the order they stack, and the menu bar.
    void buildControls();
    void buildClientArea();
    void buildLattice();
    void buildReadouts();
    void buildTimerInterval();
    void buildRunControls();
    void buildCharts();
    void buildDateBox();
    void buildRunMemory();
    void buildMenu();
    template <class Specs>
    void makeCaptions(const Specs &specs);
    Caption *makeLabel(const char *name, const QString &text, const TwipsBox &box,
                       Qt::Alignment align = Qt::AlignLeft, bool bold = false);
    Caption *makeValueLabel(const QString &name, int left, int top);
    QPushButton *makeButton(const char *name, const QString &purpose, int left, int top);

    // Handlers.
    void Form_Load();
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

    // Operations of the window.
    void ResumeRun();
    void PrepareChart(DrawingSurface *pic, std::uint32_t plotColour);
    void PrepareCharts(); // both, each in its plotting colour
    void ClearChart();
    void showTick(const TickResult &tick);
    void showCellsFromSpins();
    void setTimersEnabled(bool on);
    const double *siteFactors();
    // The read-outs are written at most once a frame while the run goes;
    // refreshReadouts writes them now.
    void readoutsChanged();
    void refreshReadouts();
    // What a screen reader says about the lattice and a chart.
    QString latticeDescription() const;
    QString chartDescription(const DrawingSurface *chart) const;
    // Recording, when started: the session makes the rows.
    void recordEvent(const std::string &event);
    void recordPoint();
    void showRecordingStopped();

    Services &m_services;
    Run m_run;
    SnapshotSeries m_series;
    double m_runTemperature = MinimumTemperature; // follows txtTemp's text
    const double *m_factors = nullptr;
    std::unique_ptr<Design_Temps> m_designTemps;
    std::unique_ptr<Snapshots> m_snapshots;
    std::unique_ptr<RecordSession> m_record; // none unless started with --record

    QWidget *client;
    DrawingSurface *surface; // the client area's own surface, behind every control
    CellArray *Shape1;
    Caption *lblInstantaneousMag, *lblLabels, *lblSumMag, *lblNetMag, *lblInternalEnergy;
    ReversedScrollBar *hsbTimeInterval;
    QPushButton *cmdZero, *cmdRandom, *cmdGoToTemp, *cmdRestart;
    QLineEdit *txtTemp, *txtRunNum;
    DrawingSurface *picMag, *picAutoCorrelation, *picDateTime;
    StillImage *imgPicMag, *imgAutoCorrelation, *imgpicDateTime;
    std::array<Caption *, AxisLabels> Label1;
    Caption *lblPrintRunNum;
    Caption *lblRestart, *lblTime, *lblSnapshotsCounter;
    Timer *tmrTime, *tmrLabels;
    QTimer *m_readoutRefresh;
};

} // namespace ferro
