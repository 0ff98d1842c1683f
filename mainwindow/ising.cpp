#include "mainwindow/ising.h"

#include "runtime/accessible.h"
#include "runtime/caption.h"
#include "runtime/cellarray.h"
#include "runtime/colour.h"
#include "preparation/designtemps.h"
#include "recording/recordsession.h"
#include "runtime/drawingsurface.h"
#include "runtime/qtext.h"
#include "runtime/reversedscrollbar.h"
#include "snapshots/snapshotswindow.h"
#include "runtime/timer.h"
#include "runtime/twips.h"

#include <QCloseEvent>
#include <QTimer>

namespace ferro {

namespace {

// Read-outs are written to their labels at most this often while running.
constexpr int ReadoutRefreshMs = 16;

} // namespace

Ising::Ising(Services &services, QWidget *parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_run(services.random)
{
    setWindowTitle(QStringLiteral("Ferrogrid"));
    setObjectName(QStringLiteral("Ising"));
    buildControls();
    buildMenu();

    tmrTime = new Timer(this, 1, Timer::Pace::FixedGrid);
    tmrLabels = new Timer(this, 1);
    tmrTime->setObjectName(QStringLiteral("tmrTime"));
    tmrLabels->setObjectName(QStringLiteral("tmrLabels"));
    connect(tmrTime, &Timer::fired, this, &Ising::tmrTime_Timer);

    m_readoutRefresh = new QTimer(this);
    m_readoutRefresh->setSingleShot(true);
    m_readoutRefresh->setInterval(ReadoutRefreshMs);
    connect(m_readoutRefresh, &QTimer::timeout, this, &Ising::refreshReadouts);

    Form_Load();
}

Ising::~Ising() = default;

void Ising::bringToFront(QWidget &window)
{
    // A minimised window comes back at its size; a hidden one is shown.
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    window.raise();
    window.activateWindow();
}

Design_Temps &Ising::designTemps()
{
    if (!m_designTemps)
        m_designTemps = std::make_unique<Design_Temps>([this] { bringToFront(*this); });
    return *m_designTemps;
}

Snapshots &Ising::snapshots()
{
    if (!m_snapshots) {
        m_snapshots = std::make_unique<Snapshots>(
            m_services, [this] { bringToFront(*this); },
            [this] {
                m_series.clear();
                refreshReadouts();
            });
    }
    return *m_snapshots;
}

bool Ising::timersEnabled() const
{
    return tmrTime->Enabled();
}

QString Ising::latticeDescription() const
{
    int up = 0, down = 0;
    for (int k = 0; k < Sites; ++k) {
        const std::uint32_t colour = Shape1->BackColor(k);
        up += colour == SpinUpColour;
        down += colour == SpinDownColour;
    }
    if (up + down == 0)
        return QStringLiteral("blank");
    return QStringLiteral("%1 by %2 spins: %3 up (black), %4 down (white)").arg(Side).arg(Side).arg(up).arg(down);
}

QString Ising::chartDescription(const DrawingSurface *chart) const
{
    const RunRecord &r = m_run.record();
    QString text = QStringLiteral("Time %1 to %2 Monte Carlo steps per site")
                       .arg(toQString(r.axisLabelText(0)).trimmed(), toQString(r.axisLabelText(AxisLabels - 1)).trimmed());
    // A value v stands at 1 - v on the chart's scale.
    if (const std::optional<QPointF> dot = chart->lastDot())
        return text + QStringLiteral("; last point %1 at %2")
                          .arg(QString::number(1 - dot->y(), 'f', 4))
                          .arg(r.axisBase + qRound64(dot->x()));
    return text + QStringLiteral("; no points yet");
}

void Ising::Form_Load()
{
    PrepareCharts();
    for (int k = 0; k < Sites; ++k) {
        Shape1->setBorderStyle(k, CellArray::InsideSolid);
        Shape1->setBorderColor(k, Shape1->BackColor(k));
    }
    const ClockReading now = m_services.clock.now();
    picDateTime->Cls();
    picDateTime->Print(toQString(DateText(now)));
    picDateTime->Print(toQString(TimeText(now)));
    refreshReadouts();
}

void Ising::setTimersEnabled(bool on)
{
    tmrTime->setEnabled(on);
    tmrLabels->setEnabled(on);
}

const double *Ising::siteFactors()
{
    if (!m_factors)
        m_factors = designTemps().factors().data();
    return m_factors;
}

void Ising::tmrTime_Timer()
{
    showTick(m_run.tick(m_runTemperature, siteFactors()));
}

void Ising::showTick(const TickResult &tick)
{
    setTimersEnabled(tick.timersOn);
    tmrTime->setInterval(hsbTimeInterval->Value());
    if (tick.newPage) {
        PrepareCharts();
        recordEvent("new page");
    }
    if (tick.cell >= 0) {
        const int spin = m_run.lattice().spinOfCell(tick.cell);
        if (spin != 0)
            Shape1->setBackColor(tick.cell, colourOfSpin(spin));
        Shape1->bordersFollowFill();
    }
    if (tick.plotted) {
        picMag->setDrawWidth(2);
        picMag->PSet(tick.x, tick.yMag);
        picAutoCorrelation->PSet(tick.x, tick.yNet);
        recordPoint();
    }
    readoutsChanged();
}

void Ising::showCellsFromSpins()
{
    for (int k = 0; k < Sites; ++k) {
        Shape1->setBackColor(k, colourOfSpin(m_run.lattice().spinOfCell(k)));
        Shape1->setBorderColor(k, Shape1->BackColor(k));
    }
}

void Ising::readoutsChanged()
{
    if (!m_readoutRefresh->isActive())
        m_readoutRefresh->start();
}

void Ising::refreshReadouts()
{
    const RunRecord &r = m_run.record();
    lblTime->setText(toQString(r.ticksThisPage.text()));
    lblLabels->setText(toQString(r.ticksSinceClear.text()));
    lblRestart->setText(toQString(r.restartText()));
    lblInstantaneousMag->setText(toQString(r.instantaneousMag.text()));
    lblSumMag->setText(toQString(r.sumMag.text()));
    lblNetMag->setText(toQString(r.netMag.text()));
    lblInternalEnergy->setText(toQString(m_run.energyText()));
    lblSnapshotsCounter->setText(toQString(m_series.countText()));
    // The time-axis labels stand centred under the grid lines of the lower chart.
    const int top = picAutoCorrelationBox.top + picAutoCorrelationBox.height + 100;
    for (int k = 0; k < AxisLabels; ++k) {
        Caption *label = Label1[k];
        label->setText(toQString(r.axisLabelText(k)));
        const int centre = picAutoCorrelationBox.left + k * picAutoCorrelationBox.width / (AxisLabels - 1);
        label->setTwipsTop(top);
        label->setTwipsLeft(centre - twipsOf(label->width()) / 2);
    }
    // The lattice and the charts change with the read-outs.
    announceAccessibleChange(Shape1);
    announceAccessibleChange(picMag);
    announceAccessibleChange(picAutoCorrelation);
}

void Ising::closeEvent(QCloseEvent *event)
{
    // Form_Unload: closing the main window ends the program at once.
    event->accept();
    m_services.end.End();
}

} // namespace ferro
