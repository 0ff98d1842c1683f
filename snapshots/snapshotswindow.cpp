#include "snapshots/snapshotswindow.h"

#include "runtime/accessible.h"
#include "runtime/caption.h"
#include "runtime/cellarray.h"
#include "stdruntime/clock.h"
#include "runtime/colour.h"
#include "runtime/drawingsurface.h"
#include "runtime/fonts.h"
#include "runtime/qtext.h"
#include "runtime/twips.h"

#include <QLayout>
#include <QApplication>
#include <QMenuBar>

namespace ferro {

namespace {

constexpr int ClientWidth = 14820;
// The date and time box reaches 10575 twips down, below the designed client
// height of 9915: the window opens tall enough to show it.
constexpr int ClientHeight = 10725;
constexpr int CellSide = 150;
constexpr int CellPitch = 120;
constexpr int BlockPitch = 2760;

constexpr std::array<QPoint, Snapshots::Blocks> CaptionAnchors {{
    {3248, 3480}, {6008, 3480}, {8798, 3480}, {11558, 3480},
    {3248, 6240}, {6008, 6240}, {8798, 6240}, {11558, 6240},
    {3248, 9000}, {6008, 9000}, {8783, 9000}, {11543, 9000},
}};

// Top-left corner of block b's first cell, in twips.
QPoint blockOrigin(int b)
{
    return {2048 + BlockPitch * (b % 4), 960 + BlockPitch * (b / 4)};
}

} // namespace

Snapshots::Snapshots(Services &services, std::function<void()> showMain, std::function<void()> clearCount,
                     QWidget *parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_showMain(std::move(showMain))
    , m_clearCount(std::move(clearCount))
{
    setWindowTitle(QStringLiteral("Snapshots"));
    setObjectName(QStringLiteral("Snapshots"));

    auto *client = new QWidget(this);
    m_client = client;
    client->setFixedSize(px(ClientWidth), px(ClientHeight));
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, colourFromBgr(VbWhite));
    client->setPalette(pal);
    client->setAutoFillBackground(true);
    client->setFont(regularFont());
    setCentralWidget(client);
    // The layout is fixed in twips: the window keeps the size of its client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    auto *lblLegend = new Caption(client,
                            QStringLiteral("temperature; instantaneous magnetization per site; time-averaged "
                                           "magnetization per site; Monte Carlo steps"),
                            Qt::AlignLeft, Caption::Sizing::GrowFromLeft);
    lblLegend->setObjectName(QStringLiteral("lblLegend"));
    lblLegend->setTwipsGeometry(2048, 360, 7530, 195);

    auto *lblSnapshotsFrame = new Caption(client);
    lblSnapshotsFrame->setTwipsGeometry(1808, 720, 11205, 8685);
    lblSnapshotsFrame->setColours(colourFromBgr(VbLightGrey), Qt::black);

    std::vector<QRectF> squares;
    squares.reserve(Blocks * Sites);
    for (int b = 0; b < Blocks; ++b) {
        const QPoint origin = blockOrigin(b);
        for (int i = 0; i < Sites; ++i)
            squares.emplace_back(origin.x() + CellPitch * (i % 20), origin.y() + CellPitch * (i / 20), CellSide,
                                 CellSide);
    }
    Shape1 = new CellArray(client, std::move(squares), VbSilver, VbGrey, false);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    // A screen reader finds each block as a picture "Snapshot N" described by its caption.
    Shape1->setAccessibleName(QStringLiteral("Snapshots"));
    Shape1->setBlocks(Sites, QStringLiteral("Snapshot"), [this](int b) { return lblSnapshots[b]->text().trimmed(); });

    for (int b = 0; b < Blocks; ++b) {
        auto *label = new Caption(client, {}, Qt::AlignHCenter, Caption::Sizing::GrowFromLeft);
        label->setTwipsGeometry(CaptionAnchors[b].x(), CaptionAnchors[b].y(), 75, 195);
        label->setColours(colourFromBgr(VbLightGrey), Qt::black);
        label->hide();
        label->setObjectName(QStringLiteral("lblSnapshots_%1").arg(b));
        lblSnapshots[b] = label;
    }

    picDateTime = new DrawingSurface(client, QApplication::palette().color(QPalette::Base));
    place(picDateTime, 1808, 9960, 1215, 615);
    picDateTime->setForeColor(QApplication::palette().color(QPalette::Text));
    picDateTime->setObjectName(QStringLiteral("picDateTime"));

    QAction *mnuClearSnapshots = menuBar()->addAction(indentedMenuCaption("Clear Snapshots"));
    mnuClearSnapshots->setObjectName(QStringLiteral("mnuClearSnapshots"));
    connect(mnuClearSnapshots, &QAction::triggered, this, &Snapshots::mnuClearSnapshots_Click);
    QAction *mnuReturn = menuBar()->addAction(indentedMenuCaption("Return"));
    mnuReturn->setObjectName(QStringLiteral("mnuReturn"));
    connect(mnuReturn, &QAction::triggered, this, &Snapshots::mnuReturn_Click);
    QAction *mnuPrint = menuBar()->addAction(indentedMenuCaption("Print"));
    mnuPrint->setObjectName(QStringLiteral("mnuPrint"));
    connect(mnuPrint, &QAction::triggered, this, &Snapshots::mnuPrint_Click);
}

void Snapshots::mnuClearSnapshots_Click()
{
    if (m_services.boxes.MsgBox(this, QStringLiteral(" Clear snapshots?"), vbYesNo, QStringLiteral(" Ferrogrid"))
        != vbYes)
        return;
    for (Caption *label : lblSnapshots)
        label->hide();
    for (int i = 0; i < Shape1->count(); ++i)
        Shape1->setCellVisible(i, false);
    announceAccessibleChange(Shape1);
    if (m_clearCount)
        m_clearCount();
}

void Snapshots::mnuReturn_Click()
{
    if (m_showMain)
        m_showMain();
}

void Snapshots::mnuPrint_Click()
{
    const ClockReading now = m_services.clock.now();
    picDateTime->Cls();
    picDateTime->Print(toQString(DateText(now)));
    picDateTime->Print(toQString(TimeText(now)));
    const QString failure = printClientArea(m_services.printer, m_client, QStringLiteral("Ferrogrid snapshots"));
    if (!failure.isEmpty())
        m_services.boxes.MsgBox(this, QStringLiteral(" Nothing was printed: %1.").arg(failure), vbOKOnly,
                                QStringLiteral(" Ferrogrid"));
}

void Snapshots::showCapture(int slot, const QString &caption, const std::array<std::uint32_t, Sites> &colours)
{
    Caption *label = lblSnapshots[slot];
    label->show();
    label->setText(caption);
    const int first = Sites * slot;
    for (int i = 0; i < Sites; ++i) {
        Shape1->setCellVisible(first + i, true);
        Shape1->setBorderColor(first + i, colours[i]);
        Shape1->setBackColor(first + i, colours[i]);
    }
    announceAccessibleChange(Shape1);
}

void Snapshots::emptyBlocks()
{
    for (int k = 0; k < Shape1->count(); ++k)
        Shape1->setCellVisible(k, false);
    for (Caption *label : lblSnapshots)
        label->setText(QString());
    announceAccessibleChange(Shape1);
}

} // namespace ferro
