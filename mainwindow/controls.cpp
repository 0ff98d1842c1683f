// The main window's controls, built group by group in the order they stack
// (later ones lie above earlier ones), and its menu bar. Positions are in
// twips of the fixed client area.

#include "mainwindow/ising.h"

#include "runtime/caption.h"
#include "runtime/cellarray.h"
#include "runtime/colour.h"
#include "runtime/drawingsurface.h"
#include "runtime/fonts.h"
#include "runtime/qtext.h"
#include "runtime/reversedscrollbar.h"
#include "runtime/stillimage.h"
#include "runtime/twips.h"

#include <QApplication>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include <tuple>

namespace ferro {

namespace {

constexpr int ClientWidth = 15240;
constexpr int ClientHeight = 10830;
// Value labels and the run-number label measure 45 x 195 twips while empty.
constexpr int EmptyLabelWidth = 45;
constexpr int LabelHeight = 195;

QRectF mainCellSquare(int k)
{
    // Each shape is 255 x 300 twips and shows a square of the smaller side,
    // centred in it.
    const double left = 5453 + 240 * columnOf(k);
    const double top = 428 + 240 * rowOf(k) + (300 - 255) / 2.0;
    return QRectF(left, top, 255, 255);
}

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
};

constexpr CaptionSpec TimerIntervalCaptions[] = {
    {"lblLong", "Long", 653, 4748, 360, 195, Qt::AlignLeft, false},
    {"lblShort", "Short", 4343, 4748, 375, 195, Qt::AlignRight, false},
};

constexpr CaptionSpec RunControlCaptions[] = {
    {"lblGetTemp", "Initial Temperature", 11933, 668, 1980, 240, Qt::AlignLeft, true},
    {"lblZero", "T = Zero", 12653, 1028, 885, 240, Qt::AlignLeft, true},
    {"lblInfinity", "T = Infinity", 12653, 1388, 1065, 240, Qt::AlignLeft, true},
    {"lblGetTempDefault", "Final Temp (default T = 0.1)", 11933, 1748, 2850, 240, Qt::AlignLeft, true},
    {"lblGoToTemp", "Go to T =", 12653, 2108, 960, 240, Qt::AlignLeft, true},
    {"lblRunNum", "Run Number", 11933, 2588, 1335, 255, Qt::AlignLeft, true},
};

constexpr CaptionSpec ChartCaptions[] = {
    {"lblY", "Magnetization", 1013, 6548, 1485, 240, Qt::AlignHCenter, true},
    {"lblAuto", "Avg Magnetization", 533, 8588, 1935, 240, Qt::AlignHCenter, true},
    {"lblX", "Time (Monte Carlo steps per site)", 6113, 9908, 3495, 240, Qt::AlignHCenter, true},
};

// Places a control on a box of the window, in twips.
template <class Box>
void place(QWidget *w, const Box &b)
{
    ferro::place(w, b.left, b.top, b.width, b.height);
}

} // namespace

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

template <class Specs>
void Ising::makeCaptions(const Specs &specs)
{
    for (const CaptionSpec &c : specs)
        makeLabel(c.name, QString::fromLatin1(c.text), {c.left, c.top, c.width, c.height}, c.align, c.bold);
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

void Ising::buildControls()
{
    buildClientArea();
    buildLattice();
    buildReadouts();
    buildTimerInterval();
    buildRunControls();
    buildCharts();
    buildDateBox();
    buildRunMemory();

    // Tab goes through the controls as they stand: top to bottom, and left
    // to right along a line.
    QWidget *const chain[] = {cmdZero, cmdRandom, cmdGoToTemp, txtTemp, txtRunNum,
                              hsbTimeInterval, lblPrintRunNum, cmdRestart};
    for (std::size_t k = 1; k < std::size(chain); ++k)
        QWidget::setTabOrder(chain[k - 1], chain[k]);
}

void Ising::buildClientArea()
{
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(px(ClientWidth), px(ClientHeight));
    client->setFont(regularFont());
    setCentralWidget(client);
    // The layout is fixed in twips: the window keeps the size of its client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The window's own surface: white, black text, keeps what is printed on
    // it. It carries the numbers of the charts' value axes.
    surface = new DrawingSurface(client, colourFromBgr(VbWhite));
    surface->setObjectName(QStringLiteral("surface"));
    surface->setGeometry(0, 0, px(ClientWidth), px(ClientHeight));
    surface->setOpaqueText(true);
    surface->setAccessibleName(QStringLiteral("Chart value axes"));
}

void Ising::buildLattice()
{
    makeLabel("lblFrame", {}, {5213, 188, 5295, 5295})->setColours(colourFromBgr(VbLightGrey), Qt::black);

    std::vector<QRectF> squares;
    squares.reserve(Sites);
    for (int k = 0; k < Sites; ++k)
        squares.push_back(mainCellSquare(k));
    Shape1 = new CellArray(client, std::move(squares), VbSilver, VbSilver, true);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setAccessibleName(QStringLiteral("Lattice"));
    Shape1->setDescriber([this] { return latticeDescription(); });
}

void Ising::buildReadouts()
{
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
}

void Ising::buildTimerInterval()
{
    makeCaptions(TimerIntervalCaptions);
    // The left end stands for 1400 ms and the right end for 1 ms.
    hsbTimeInterval = new ReversedScrollBar(1, 1400, client);
    hsbTimeInterval->setObjectName(QStringLiteral("hsbTimeInterval"));
    place(hsbTimeInterval, 653, 5108, 4000, 135);
    hsbTimeInterval->setSingleStep(10);
    hsbTimeInterval->setPageStep(40);
    hsbTimeInterval->setValueAt(1);
    hsbTimeInterval->setAccessibleName(QStringLiteral("Timer Interval"));
    hsbTimeInterval->setFocusPolicy(Qt::TabFocus);
    auto *lblScroll = new Caption(client, QStringLiteral("Timer Interval"), Qt::AlignHCenter,
                                  Caption::Sizing::GrowFromLeft);
    lblScroll->setTwipsGeometry(2573, 5348, EmptyLabelWidth, LabelHeight);
}

void Ising::buildRunControls()
{
    makeCaptions(RunControlCaptions);
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
    connect(txtTemp, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_runTemperature = runTemperature(Val(text));
        txtTemp_Change();
    });
    txtRunNum = new QLineEdit(client);
    txtRunNum->setObjectName(QStringLiteral("txtRunNum"));
    place(txtRunNum, 13373, 2558, 1695, 285);
    txtRunNum->setPalette(boxPalette);
    txtRunNum->setAccessibleName(QStringLiteral("Run Number"));

    // Go, at the bottom right, with its label kept hidden.
    cmdRestart = makeButton("cmdRestart", QStringLiteral("Go"), 14453, 10268);
    connect(cmdRestart, &QPushButton::clicked, this, &Ising::cmdRestart_Click);
    lblRestart = makeLabel("lblRestart", QStringLiteral("Go"), {13973, 10388, 210, 195});
    lblRestart->setColours(colourFromBgr(VbWhite), colourFromBgr(VbWhite));
    lblRestart->hide();
}

void Ising::buildCharts()
{
    makeCaptions(ChartCaptions);
    for (int k = 0; k < AxisLabels; ++k)
        Label1[k] = makeValueLabel(QStringLiteral("Label1_%1").arg(k), 0, 0);

    // Still images lie under their drawing surfaces, which cover them while visible.
    imgPicMag = new StillImage(client);
    place(imgPicMag, picMagBox);
    imgAutoCorrelation = new StillImage(client);
    place(imgAutoCorrelation, picAutoCorrelationBox);
    picMag = new DrawingSurface(client, colourFromBgr(VbWhite));
    picMag->setObjectName(QStringLiteral("picMag"));
    place(picMag, picMagBox);
    picAutoCorrelation = new DrawingSurface(client, colourFromBgr(VbWhite));
    picAutoCorrelation->setObjectName(QStringLiteral("picAutoCorrelation"));
    place(picAutoCorrelation, picAutoCorrelationBox);
    // A screen reader names each chart by its caption.
    picMag->setAccessibleName(QStringLiteral("Magnetization"));
    picMag->setDescriber([this] { return chartDescription(picMag); });
    picAutoCorrelation->setAccessibleName(QStringLiteral("Avg Magnetization"));
    picAutoCorrelation->setDescriber([this] { return chartDescription(picAutoCorrelation); });
}

void Ising::buildDateBox()
{
    imgpicDateTime = new StillImage(client);
    place(imgpicDateTime, 413, 9908, 1335, 735);
    // Just above the date box: a click (or Space, Enter) shows the run number there.
    lblPrintRunNum = new Caption(client, {}, Qt::AlignLeft, Caption::Sizing::GrowFromLeft);
    lblPrintRunNum->setObjectName(QStringLiteral("lblPrintRunNum"));
    lblPrintRunNum->setTwipsGeometry(533, 9668, EmptyLabelWidth, LabelHeight);
    lblPrintRunNum->setColours(colourFromBgr(VbWhite), QApplication::palette().color(QPalette::WindowText));
    connect(lblPrintRunNum, &Caption::clicked, this, &Ising::lblPrintRunNum_Click);
    // Pressed from the keyboard too (it draws no focus mark).
    lblPrintRunNum->setFocusPolicy(Qt::TabFocus);
    lblPrintRunNum->setAccessibleDescription(QStringLiteral("Press to show the run number above the date box"));

    picDateTime = new DrawingSurface(client, QApplication::palette().color(QPalette::Base));
    picDateTime->setObjectName(QStringLiteral("picDateTime"));
    place(picDateTime, picDateTimeBox);
    picDateTime->setForeColor(QApplication::palette().color(QPalette::Text));
    // Three lines fill the box exactly: a fourth, added by the second print,
    // starts at its bottom edge and shows no pixel.
    picDateTime->setLineHeight(pxF(picDateTimeBox.height) / 3);
}

void Ising::buildRunMemory()
{
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

} // namespace ferro
