#include "ising.h"

#include "clock.h"
#include "colour.h"
#include "fonts.h"
#include "qtext.h"
#include "twips.h"

#include <QLayout>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

namespace ferro {

namespace {

constexpr int ClientWidth = 15240;
constexpr int ClientHeight = 10830;
// Value labels and the run-number label measure 45 x 195 twips while empty.
constexpr int EmptyLabelWidth = 45;
constexpr int LabelHeight = 195;
// Read-outs are written to their labels at most this often while running.
constexpr int ReadoutRefreshMs = 16;

const QString Blanks10 = QStringLiteral("          ");

QRectF mainCellSquare(int k)
{
    // Each shape is 255 x 300 twips and shows a square of the smaller side,
    // centred in it.
    const double left = 5453 + 240 * columnOf(k);
    const double top = 428 + 240 * rowOf(k) + (300 - 255) / 2.0;
    return QRectF(left, top, 255, 255);
}

} // namespace

Ising::Ising(QWidget *parent)
    : QMainWindow(parent)
    , m_designTemps([this] { return std::make_unique<Design_Temps>([this] { showNormal(); raise(); activateWindow(); }); })
    , m_snapshots([this] {
        return std::make_unique<Snapshots>([this] { showNormal(); raise(); activateWindow(); },
                                           [this] {
                                               sim.record.snapshots.setZero();
                                               refreshReadouts();
                                           });
    })
{
    setWindowTitle(QStringLiteral("Ferrogrid"));
    setObjectName(QStringLiteral("Ising"));
    buildControls();
    buildMenu();

    tmrTime = new Timer(this, 1, Timer::Pace::FixedGrid);
    tmrLabels = new Timer(this, 1);
    connect(tmrTime, &Timer::fired, this, &Ising::tmrTime_Timer);

    m_readoutRefresh = new QTimer(this);
    m_readoutRefresh->setSingleShot(true);
    m_readoutRefresh->setInterval(ReadoutRefreshMs);
    connect(m_readoutRefresh, &QTimer::timeout, this, &Ising::refreshReadouts);

    Form_Load();
}

Ising::~Ising() = default;

Caption *Ising::makeLabel(const QString &text, const TwipsBox &box, Qt::Alignment align, bool bold)
{
    auto *label = new Caption(client, text, align);
    if (bold)
        label->setFont(boldFont());
    label->setTwipsGeometry(box.left, box.top, box.width, box.height);
    return label;
}

Caption *Ising::makeValueLabel(int left, int top)
{
    auto *label = new Caption(client, {}, Qt::AlignHCenter, Caption::Sizing::GrowFromLeft);
    label->setTwipsGeometry(left, top, EmptyLabelWidth, LabelHeight);
    return label;
}

QPushButton *Ising::makeButton(int left, int top)
{
    auto *button = new QPushButton(client);
    place(button, left, top, 615, 285);
    QPalette pal = button->palette();
    pal.setColor(QPalette::Button, vbColour(VbWhite));
    button->setPalette(pal);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

void Ising::buildControls()
{
    client = new QWidget(this);
    client->setFixedSize(px(ClientWidth), px(ClientHeight));
    client->setFont(regularFont());
    setCentralWidget(client);
    // The layout is fixed in twips: the window keeps the size of its client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The window's own surface: white, black text, keeps what is printed on it.
    surface = new DrawingSurface(client, vbColour(VbWhite));
    surface->setGeometry(0, 0, px(ClientWidth), px(ClientHeight));
    surface->setOpaqueText(true);

    lblFrame = makeLabel({}, {5213, 188, 5295, 5295});
    lblFrame->setColours(vbColour(VbLightGrey), Qt::black);

    std::vector<QRectF> squares;
    squares.reserve(Sites);
    for (int k = 0; k < Sites; ++k)
        squares.push_back(mainCellSquare(k));
    Shape1 = new CellArray(client, std::move(squares), VbSilver, VbSilver, true);

    lblInstant = makeLabel(QStringLiteral("Instantaneous Magnetization"), {1688, 788, 2055, 195}, Qt::AlignHCenter);
    lblSteps = makeLabel(QStringLiteral("Monte Carlo Steps"), {2063, 1508, 1335, 195}, Qt::AlignHCenter);
    lblSum = makeLabel(QStringLiteral("Magnetization Sum"), {2048, 2228, 1365, 195}, Qt::AlignHCenter);
    lblNet = makeLabel(QStringLiteral("Average Magnetization"), {1898, 2948, 1665, 195}, Qt::AlignHCenter);
    lblEnergy = makeLabel(QStringLiteral("Internal Energy"), {2093, 3668, 1185, 195}, Qt::AlignHCenter);
    lblInstantaneousMag = makeValueLabel(2678, 1148);
    lblLabels = makeValueLabel(2693, 1868);
    lblSumMag = makeValueLabel(2693, 2588);
    lblNetMag = makeValueLabel(2693, 3308);
    lblInternalEnergy = makeValueLabel(2693, 4028);

    lblLong = makeLabel(QStringLiteral("Long"), {653, 4748, 360, 195});
    lblShort = makeLabel(QStringLiteral("Short"), {4343, 4748, 375, 195}, Qt::AlignRight);
    hsbTimeInterval = new QScrollBar(Qt::Horizontal, client);
    place(hsbTimeInterval, 653, 5108, 4000, 135);
    // The left end stands for 1400 ms and the right end for 1 ms.
    hsbTimeInterval->setRange(1, 1400);
    hsbTimeInterval->setInvertedAppearance(true);
    hsbTimeInterval->setInvertedControls(false);
    hsbTimeInterval->setSingleStep(10);
    hsbTimeInterval->setPageStep(40);
    hsbTimeInterval->setValue(1);
    lblScroll = new Caption(client, QStringLiteral("Timer Interval"), Qt::AlignHCenter, Caption::Sizing::GrowFromLeft);
    lblScroll->setTwipsGeometry(2573, 5348, EmptyLabelWidth, LabelHeight);

    lblGetTemp = makeLabel(QStringLiteral("Initial Temperature"), {11933, 668, 1980, 240}, Qt::AlignLeft, true);
    cmdZero = makeButton(11933, 1028);
    lblZero = makeLabel(QStringLiteral("T = Zero"), {12653, 1028, 885, 240}, Qt::AlignLeft, true);
    cmdRandom = makeButton(11933, 1388);
    lblInfinity = makeLabel(QStringLiteral("T = Infinity"), {12653, 1388, 1065, 240}, Qt::AlignLeft, true);
    lblGetTempDefault =
        makeLabel(QStringLiteral("Final Temp (default T = 0.1)"), {11933, 1748, 2850, 240}, Qt::AlignLeft, true);
    cmdGoToTemp = makeButton(11933, 2108);
    lblGoToTemp = makeLabel(QStringLiteral("Go to T ="), {12653, 2108, 960, 240}, Qt::AlignLeft, true);

    QPalette boxPalette = palette();
    boxPalette.setColor(QPalette::Base, vbColour(VbLightGrey));
    boxPalette.setColor(QPalette::Text, vbColour(VbBlack));
    txtTemp = new QLineEdit(client);
    place(txtTemp, 13733, 2108, 975, 255);
    txtTemp->setPalette(boxPalette);
    txtTemp->setFont(sansFont(8.25, true));
    txtTemp->setAlignment(Qt::AlignCenter);
    lblRunNum = makeLabel(QStringLiteral("Run Number"), {11933, 2588, 1335, 255}, Qt::AlignLeft, true);
    txtRunNum = new QLineEdit(client);
    place(txtRunNum, 13373, 2558, 1695, 285);
    txtRunNum->setPalette(boxPalette);

    lblY = makeLabel(QStringLiteral("Magnetization"), {1013, 6548, 1485, 240}, Qt::AlignHCenter, true);
    lblAuto = makeLabel(QStringLiteral("Avg Magnetization"), {533, 8588, 1935, 240}, Qt::AlignHCenter, true);
    lblX = makeLabel(QStringLiteral("Time (Monte Carlo steps per site)"), {6113, 9908, 3495, 240}, Qt::AlignHCenter,
                     true);
    for (int k = 0; k < 6; ++k)
        Label1[k] = makeValueLabel(0, 0);

    // Still images lie under their drawing surfaces, which cover them while visible.
    imgPicMag = new StillImage(client);
    place(imgPicMag, picMagBox.left, picMagBox.top, picMagBox.width, picMagBox.height);
    imgAutoCorrelation = new StillImage(client);
    place(imgAutoCorrelation, picAutoCorrelationBox.left, picAutoCorrelationBox.top, picAutoCorrelationBox.width,
          picAutoCorrelationBox.height);
    imgpicDateTime = new StillImage(client);
    place(imgpicDateTime, 413, 9908, 1335, 735);

    picMag = new DrawingSurface(client, vbColour(VbWhite));
    place(picMag, picMagBox.left, picMagBox.top, picMagBox.width, picMagBox.height);
    picAutoCorrelation = new DrawingSurface(client, vbColour(VbWhite));
    place(picAutoCorrelation, picAutoCorrelationBox.left, picAutoCorrelationBox.top, picAutoCorrelationBox.width,
          picAutoCorrelationBox.height);

    lblPrintRunNum = new Caption(client, {}, Qt::AlignLeft, Caption::Sizing::GrowFromLeft);
    lblPrintRunNum->setTwipsGeometry(533, 9668, EmptyLabelWidth, LabelHeight);
    lblPrintRunNum->setColours(vbColour(VbWhite), QApplication::palette().color(QPalette::WindowText));
    picDateTime = new DrawingSurface(client, QApplication::palette().color(QPalette::Base));
    place(picDateTime, picDateTimeBox.left, picDateTimeBox.top, picDateTimeBox.width, picDateTimeBox.height);
    picDateTime->setForeColor(QApplication::palette().color(QPalette::Text));

    cmdRestart = makeButton(14453, 10268);
    lblRestart = makeLabel(QStringLiteral("Go"), {13973, 10388, 210, 195});
    lblRestart->setColours(vbColour(VbWhite), vbColour(VbWhite));
    lblRestart->hide();
    lblTime = new Caption(client, {}, Qt::AlignLeft, Caption::Sizing::GrowFromLeft);
    lblTime->setTwipsGeometry(293, 1028, EmptyLabelWidth, LabelHeight);
    lblTime->setColours(vbColour(VbWhite), vbColour(VbWhite));
    lblSnapshotsCounter = new Caption(client, {}, Qt::AlignLeft, Caption::Sizing::GrowFromLeft);
    lblSnapshotsCounter->setTwipsGeometry(293, 1508, EmptyLabelWidth, LabelHeight);
    lblSnapshotsCounter->setColours(vbColour(VbWhite), vbColour(VbWhite));

    // The buttons carry no caption: the label beside each says what it does.
    const std::pair<QPushButton *, QString> names[] = {
        {cmdZero, QStringLiteral("T = Zero")},
        {cmdRandom, QStringLiteral("T = Infinity")},
        {cmdGoToTemp, QStringLiteral("Go to T =")},
        {cmdRestart, QStringLiteral("Go")},
    };
    for (const auto &[button, name] : names) {
        button->setAccessibleName(name);
        button->setToolTip(name);
    }
    txtTemp->setAccessibleName(QStringLiteral("Final temperature"));
    txtRunNum->setAccessibleName(QStringLiteral("Run Number"));
    hsbTimeInterval->setAccessibleName(QStringLiteral("Timer Interval"));

    connect(cmdZero, &QPushButton::clicked, this, &Ising::cmdZero_Click);
    connect(cmdRandom, &QPushButton::clicked, this, &Ising::cmdRandom_Click);
    connect(cmdGoToTemp, &QPushButton::clicked, this, &Ising::cmdGoToTemp_Click);
    connect(cmdRestart, &QPushButton::clicked, this, &Ising::cmdRestart_Click);
    connect(txtTemp, &QLineEdit::textChanged, this, &Ising::temperatureTextChanged);
    connect(lblPrintRunNum, &Caption::clicked, this, &Ising::lblPrintRunNum_Click);
}

void Ising::buildMenu()
{
    auto add = [this](const QString &caption, const char *name, void (Ising::*handler)()) {
        QAction *action = menuBar()->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    mnuTemps = add(QStringLiteral("Temperature Factor"), "mnuTemps", &Ising::mnuTemps_Click);
    mnuSnapshot = add(Blanks10 + QStringLiteral("Snapshot"), "mnuSnapshot", &Ising::mnuSnapshot_Click);
    mnuView = add(Blanks10 + QStringLiteral("View Snapshots"), "mnuView", &Ising::mnuView_Click);
    mnuContinue = add(Blanks10 + QStringLiteral("Continue"), "mnuContinue", &Ising::mnuContinue_Click);
    mnuClearChart = add(Blanks10 + QStringLiteral("Clear Chart"), "mnuClearChart", &Ising::mnuClearChart_Click);
    mnuReset = add(Blanks10 + QStringLiteral("Reset"), "mnuReset", &Ising::mnuReset_Click);
    mnuPrint = add(Blanks10 + QStringLiteral("Print"), "mnuPrint", &Ising::mnuPrint_Click);
    mnuExit = add(Blanks10 + QStringLiteral("Exit"), "mnuExit", &Ising::mnuExit_Click);
}

void Ising::Form_Load()
{
    PrepareChart(picMag, VbBlue);
    PrepareChart(picAutoCorrelation, VbRed);
    for (int k = 0; k < Sites; ++k) {
        Shape1->setBorderStyle(k, CellArray::InsideSolid);
        Shape1->setBorderColor(k, Shape1->BackColor(k));
    }
    picDateTime->Cls();
    picDateTime->Print(qs(DateText()));
    picDateTime->Print(qs(TimeText()));
    refreshReadouts();
}

void Ising::setTimersEnabled(bool on)
{
    tmrTime->setEnabled(on);
    tmrLabels->setEnabled(on);
}

void Ising::tmrTime_Timer()
{
    sim.tmrTime_Timer(*this);
}

void Ising::MonteCarloTick()
{
    sim.MonteCarloTick(*this);
}

void Ising::MeasureLattice()
{
    sim.MeasureLattice();
    refreshReadouts();
}

void Ising::showCellsFromSpins()
{
    for (int k = 0; k < Sites; ++k) {
        Shape1->setBackColor(k, colourOfSpin(sim.lattice.spinOfCell(k)));
        Shape1->setBorderColor(k, Shape1->BackColor(k));
    }
}

void Ising::temperatureTextChanged(const QString &text)
{
    m_runTemperature = ferro::runTemperature(Val(text));
    txtTemp_Change();
}

void Ising::applyTimerInterval()
{
    tmrTime->setInterval(hsbTimeInterval->value());
}

void Ising::prepareCharts()
{
    PrepareChart(picMag, VbBlue);
    PrepareChart(picAutoCorrelation, VbRed);
}

const double *Ising::siteFactors()
{
    if (!m_factors)
        m_factors = designTemps().factors().data();
    return m_factors;
}

void Ising::showAttempt(int k)
{
    const int spin = sim.lattice.spinOfCell(k);
    if (spin != 0)
        Shape1->setBackColor(k, colourOfSpin(spin));
    Shape1->bordersFollowFill();
}

void Ising::plotPoints(float x, float yMag, float yNet)
{
    picMag->setDrawWidth(2);
    picMag->PSet(x, yMag);
    picAutoCorrelation->PSet(x, yNet);
}

void Ising::recordChanged()
{
    if (!m_readoutRefresh->isActive())
        m_readoutRefresh->start();
}

void Ising::refreshReadouts()
{
    const RunRecord &r = sim.record;
    lblTime->setText(qs(r.time.text()));
    lblLabels->setText(qs(r.labels.text()));
    lblRestart->setText(qs(r.restartText()));
    lblInstantaneousMag->setText(qs(r.instantaneousMag.text()));
    lblSumMag->setText(qs(r.sumMag.text()));
    lblNetMag->setText(qs(r.netMag.text()));
    lblInternalEnergy->setText(r.energyShown ? qs(Str(double(sim.lattice.Energy))) : QString());
    lblSnapshotsCounter->setText(qs(r.snapshots.text()));
    const int top = picAutoCorrelationBox.top + picAutoCorrelationBox.height + 100;
    for (int k = 0; k < 6; ++k) {
        Caption *label = Label1[k];
        label->setText(qs(r.axisLabelText(k)));
        const int centre = picAutoCorrelationBox.left + k * picAutoCorrelationBox.width / 5;
        label->setTwipsTop(top);
        label->setTwipsLeft(centre - twipsOf(label->width()) / 2);
    }
}

void Ising::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_Unload();
}

} // namespace ferro
