#include "mainwindow/ising.h"

#include "runtime/accessible.h"
#include "runtime/caption.h"
#include "runtime/cellarray.h"
#include "runtime/colour.h"
#include "preparation/designtemps.h"
#include "recording/recordsession.h"
#include "runtime/drawingsurface.h"
#include "runtime/fonts.h"
#include "runtime/qtext.h"
#include "runtime/reversedscrollbar.h"
#include "snapshots/snapshotswindow.h"
#include "runtime/stillimage.h"
#include "runtime/timer.h"
#include "runtime/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <tuple>

namespace ferro {

namespace {

constexpr int ClientWidth = 15240;
constexpr int ClientHeight = 10830;
// Value labels and the run-number label measure 45 x 195 twips while empty.
constexpr int EmptyLabelWidth = 45;
constexpr int LabelHeight = 195;
// Read-outs are written to their labels at most this often while running.
constexpr int ReadoutRefreshMs = 16;


QRectF mainCellSquare(int k)
{
    // Each shape is 255 x 300 twips and shows a square of the smaller side,
    // centred in it.
    const double left = 5453 + 240 * columnOf(k);
    const double top = 428 + 240 * rowOf(k) + (300 - 255) / 2.0;
    return QRectF(left, top, 255, 255);
}

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

Caption *Ising::makeLabel(const char *name, const QString &text, const TwipsBox &box, Qt::Alignment align,
                          bool bold)
{
    auto *label = new Caption(client, text, align);
    label->setObjectName(QLatin1String(name));
    if (bold)
        label->setFont(boldFont());
    label->setTwipsGeometry(box.left, box.top, box.width, box.height);
    return label;
}

Caption *Ising::makeValueLabel(const QString &name, int left, int top)
{
    auto *label = new Caption(client, {}, Qt::AlignHCenter, Caption::Sizing::GrowFromLeft);
    label->setObjectName(name);
    label->setTwipsGeometry(left, top, EmptyLabelWidth, LabelHeight);
    return label;
}

QPushButton *Ising::makeButton(const char *name, const QString &purpose, int left, int top)
{
    auto *button = new QPushButton(client);
    button->setObjectName(QLatin1String(name));
    place(button, left, top, 615, 285);
    QPalette pal = button->palette();
    pal.setColor(QPalette::Button, colourFromBgr(VbWhite));
    button->setPalette(pal);
    button->setFocusPolicy(Qt::TabFocus);
    // The buttons carry no caption: the label beside each says what it does.
    button->setAccessibleName(purpose);
    button->setToolTip(purpose);
    return button;
}

namespace {

// The fixed captions, in twips: name, text, box, alignment, bold.
struct CaptionSpec {
    const char *name;
    const char *text;
    int left, top, width, height;
    Qt::AlignmentFlag align;
    bool bold;
};

constexpr CaptionSpec ReadoutCaptions[] = {
    {"lblInstant", "Instantaneous Magnetization", 1688, 788, 2055, 195, Qt::AlignHCenter, false},
    {"lblSteps", "Monte Carlo Steps", 2063, 1508, 1335, 195, Qt::AlignHCenter, false},
    {"lblSum", "Magnetization Sum", 2048, 2228, 1365, 195, Qt::AlignHCenter, false},
    {"lblNet", "Average Magnetization", 1898, 2948, 1665, 195, Qt::AlignHCenter, false},
    {"lblEnergy", "Internal Energy", 2093, 3668, 1185, 195, Qt::AlignHCenter, false},
    {"lblLong", "Long", 653, 4748, 360, 195, Qt::AlignLeft, false},
    {"lblShort", "Short", 4343, 4748, 375, 195, Qt::AlignRight, false},
};

constexpr CaptionSpec ControlCaptions[] = {
    {"lblGetTemp", "Initial Temperature", 11933, 668, 1980, 240, Qt::AlignLeft, true},
    {"lblZero", "T = Zero", 12653, 1028, 885, 240, Qt::AlignLeft, true},
    {"lblInfinity", "T = Infinity", 12653, 1388, 1065, 240, Qt::AlignLeft, true},
    {"lblGetTempDefault", "Final Temp (default T = 0.1)", 11933, 1748, 2850, 240, Qt::AlignLeft, true},
    {"lblGoToTemp", "Go to T =", 12653, 2108, 960, 240, Qt::AlignLeft, true},
    {"lblRunNum", "Run Number", 11933, 2588, 1335, 255, Qt::AlignLeft, true},
    {"lblY", "Magnetization", 1013, 6548, 1485, 240, Qt::AlignHCenter, true},
    {"lblAuto", "Avg Magnetization", 533, 8588, 1935, 240, Qt::AlignHCenter, true},
    {"lblX", "Time (Monte Carlo steps per site)", 6113, 9908, 3495, 240, Qt::AlignHCenter, true},
};

} // namespace

void Ising::buildControls()
{
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(px(ClientWidth), px(ClientHeight));
    client->setFont(regularFont());
    setCentralWidget(client);
    // The layout is fixed in twips: the window keeps the size of its client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The window's own surface: white, black text, keeps what is printed on it.
    surface = new DrawingSurface(client, colourFromBgr(VbWhite));
    surface->setObjectName(QStringLiteral("surface"));
    surface->setGeometry(0, 0, px(ClientWidth), px(ClientHeight));
    surface->setOpaqueText(true);

    makeLabel("lblFrame", {}, {5213, 188, 5295, 5295})->setColours(colourFromBgr(VbLightGrey), Qt::black);

    std::vector<QRectF> squares;
    squares.reserve(Sites);
    for (int k = 0; k < Sites; ++k)
        squares.push_back(mainCellSquare(k));
    Shape1 = new CellArray(client, std::move(squares), VbSilver, VbSilver, true);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setAccessibleName(QStringLiteral("Lattice"));
    Shape1->setDescriber([this] { return latticeDescription(); });

    auto makeCaptions = [this](const auto &specs) {
        for (const CaptionSpec &c : specs)
            makeLabel(c.name, QString::fromLatin1(c.text), {c.left, c.top, c.width, c.height}, c.align, c.bold);
    };
    makeCaptions(ReadoutCaptions);

    // The read-outs grow from their left edge as their texts get longer.
    const struct {
        Caption *Ising::*label;
        const char *name;
        int left, top;
    } readouts[] = {
        {&Ising::lblInstantaneousMag, "lblInstantaneousMag", 2678, 1148},
        {&Ising::lblLabels, "lblLabels", 2693, 1868},
        {&Ising::lblSumMag, "lblSumMag", 2693, 2588},
        {&Ising::lblNetMag, "lblNetMag", 2693, 3308},
        {&Ising::lblInternalEnergy, "lblInternalEnergy", 2693, 4028},
    };
    for (const auto &r : readouts)
        this->*r.label = makeValueLabel(QLatin1String(r.name), r.left, r.top);

    // The left end stands for 1400 ms and the right end for 1 ms.
    hsbTimeInterval = new ReversedScrollBar(1, 1400, client);
    hsbTimeInterval->setObjectName(QStringLiteral("hsbTimeInterval"));
    place(hsbTimeInterval, 653, 5108, 4000, 135);
    hsbTimeInterval->setSingleStep(10);
    hsbTimeInterval->setPageStep(40);
    hsbTimeInterval->setValueAt(1);
    hsbTimeInterval->setAccessibleName(QStringLiteral("Timer Interval"));
    auto *lblScroll = new Caption(client, QStringLiteral("Timer Interval"), Qt::AlignHCenter,
                                  Caption::Sizing::GrowFromLeft);
    lblScroll->setTwipsGeometry(2573, 5348, EmptyLabelWidth, LabelHeight);

    makeCaptions(ControlCaptions);

    // The buttons carry no caption: the label beside each says what it does.
    // Created in the order Tab visits them, the text boxes after Go to T =.
    const struct {
        QPushButton *Ising::*button;
        const char *name;
        const char *purpose;
        int left, top;
        void (Ising::*handler)();
    } buttons[] = {
        {&Ising::cmdZero, "cmdZero", "T = Zero", 11933, 1028, &Ising::cmdZero_Click},
        {&Ising::cmdRandom, "cmdRandom", "T = Infinity", 11933, 1388, &Ising::cmdRandom_Click},
        {&Ising::cmdGoToTemp, "cmdGoToTemp", "Go to T =", 11933, 2108, &Ising::cmdGoToTemp_Click},
    };
    for (const auto &b : buttons) {
        this->*b.button = makeButton(b.name, QString::fromLatin1(b.purpose), b.left, b.top);
        connect(this->*b.button, &QPushButton::clicked, this, b.handler);
    }

    QPalette boxPalette = palette();
    boxPalette.setColor(QPalette::Base, colourFromBgr(VbLightGrey));
    boxPalette.setColor(QPalette::Text, colourFromBgr(VbBlack));
    txtTemp = new QLineEdit(client);
    txtTemp->setObjectName(QStringLiteral("txtTemp"));
    place(txtTemp, 13733, 2108, 975, 255);
    txtTemp->setPalette(boxPalette);
    txtTemp->setFont(sansFont(8.25, true));
    txtTemp->setAlignment(Qt::AlignCenter);
    txtTemp->setAccessibleName(QStringLiteral("Final temperature"));
    txtRunNum = new QLineEdit(client);
    txtRunNum->setObjectName(QStringLiteral("txtRunNum"));
    place(txtRunNum, 13373, 2558, 1695, 285);
    txtRunNum->setPalette(boxPalette);
    txtRunNum->setAccessibleName(QStringLiteral("Run Number"));

    for (int k = 0; k < AxisLabels; ++k)
        Label1[k] = makeValueLabel(QStringLiteral("Label1_%1").arg(k), 0, 0);

    // Still images lie under their drawing surfaces, which cover them while visible.
    auto placeBox = [](QWidget *w, const TwipsBox &b) { place(w, b.left, b.top, b.width, b.height); };
    imgPicMag = new StillImage(client);
    placeBox(imgPicMag, picMagBox);
    imgAutoCorrelation = new StillImage(client);
    placeBox(imgAutoCorrelation, picAutoCorrelationBox);
    imgpicDateTime = new StillImage(client);
    place(imgpicDateTime, 413, 9908, 1335, 735);

    picMag = new DrawingSurface(client, colourFromBgr(VbWhite));
    picMag->setObjectName(QStringLiteral("picMag"));
    placeBox(picMag, picMagBox);
    picAutoCorrelation = new DrawingSurface(client, colourFromBgr(VbWhite));
    picAutoCorrelation->setObjectName(QStringLiteral("picAutoCorrelation"));
    placeBox(picAutoCorrelation, picAutoCorrelationBox);
    // A screen reader names each chart by its caption, and the surface
    // behind them by the numbers of their value axes that it carries.
    picMag->setAccessibleName(QStringLiteral("Magnetization"));
    picMag->setDescriber([this] { return chartDescription(picMag); });
    picAutoCorrelation->setAccessibleName(QStringLiteral("Avg Magnetization"));
    picAutoCorrelation->setDescriber([this] { return chartDescription(picAutoCorrelation); });
    surface->setAccessibleName(QStringLiteral("Chart value axes"));

    lblPrintRunNum = new Caption(client, {}, Qt::AlignLeft, Caption::Sizing::GrowFromLeft);
    lblPrintRunNum->setObjectName(QStringLiteral("lblPrintRunNum"));
    lblPrintRunNum->setTwipsGeometry(533, 9668, EmptyLabelWidth, LabelHeight);
    lblPrintRunNum->setColours(colourFromBgr(VbWhite), QApplication::palette().color(QPalette::WindowText));
    picDateTime = new DrawingSurface(client, QApplication::palette().color(QPalette::Base));
    picDateTime->setObjectName(QStringLiteral("picDateTime"));
    placeBox(picDateTime, picDateTimeBox);
    picDateTime->setForeColor(QApplication::palette().color(QPalette::Text));
    // Three lines fill the box exactly: a fourth, added by the second print,
    // starts at its bottom edge and shows no pixel.
    picDateTime->setLineHeight(pxF(picDateTimeBox.height) / 3);

    cmdRestart = makeButton("cmdRestart", QStringLiteral("Go"), 14453, 10268);
    connect(cmdRestart, &QPushButton::clicked, this, &Ising::cmdRestart_Click);
    lblRestart = makeLabel("lblRestart", QStringLiteral("Go"), {13973, 10388, 210, 195});
    lblRestart->setColours(colourFromBgr(VbWhite), colourFromBgr(VbWhite));
    lblRestart->hide();
    // Two counters kept on the form in white on white, as the run's own memory.
    for (auto [label, name, top] : {std::tuple {&lblTime, "lblTime", 1028},
                                    std::tuple {&lblSnapshotsCounter, "lblSnapshotsCounter", 1508}}) {
        *label = new Caption(client, {}, Qt::AlignLeft, Caption::Sizing::GrowFromLeft);
        (*label)->setObjectName(QLatin1String(name));
        (*label)->setTwipsGeometry(293, top, EmptyLabelWidth, LabelHeight);
        (*label)->setColours(colourFromBgr(VbWhite), colourFromBgr(VbWhite));
    }
    lblTime->setAccessibleDescription(QStringLiteral("Ticks on this chart page"));
    lblSnapshotsCounter->setAccessibleDescription(QStringLiteral("Snapshots taken"));

    connect(txtTemp, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_runTemperature = runTemperature(Val(text));
        txtTemp_Change();
    });
    connect(lblPrintRunNum, &Caption::clicked, this, &Ising::lblPrintRunNum_Click);
    // Pressed from the keyboard too (it draws no focus mark).
    lblPrintRunNum->setFocusPolicy(Qt::TabFocus);
    lblPrintRunNum->setAccessibleDescription(QStringLiteral("Press to show the run number above the date box"));
    hsbTimeInterval->setFocusPolicy(Qt::TabFocus);

    // Tab goes through the controls as they stand: top to bottom, and left
    // to right along a line.
    QWidget *const chain[] = {cmdZero, cmdRandom, cmdGoToTemp, txtTemp, txtRunNum,
                              hsbTimeInterval, lblPrintRunNum, cmdRestart};
    for (std::size_t k = 1; k < std::size(chain); ++k)
        QWidget::setTabOrder(chain[k - 1], chain[k]);
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

void Ising::buildMenu()
{
    auto add = [this](const QString &caption, const char *name, void (Ising::*handler)()) {
        QAction *action = menuBar()->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
    };
    add(QStringLiteral("Temperature Factor"), "mnuTemps", &Ising::mnuTemps_Click);
    add(indentedMenuCaption("Snapshot"), "mnuSnapshot", &Ising::mnuSnapshot_Click);
    add(indentedMenuCaption("View Snapshots"), "mnuView", &Ising::mnuView_Click);
    add(indentedMenuCaption("Continue"), "mnuContinue", &Ising::mnuContinue_Click);
    add(indentedMenuCaption("Clear Chart"), "mnuClearChart", &Ising::mnuClearChart_Click);
    add(indentedMenuCaption("Reset"), "mnuReset", &Ising::mnuReset_Click);
    add(indentedMenuCaption("Print"), "mnuPrint", &Ising::mnuPrint_Click);
    add(indentedMenuCaption("Exit"), "mnuExit", &Ising::mnuExit_Click);
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
