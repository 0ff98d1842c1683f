// The two magnetization charts: frame, grid and axis texts, and clearing them
// with the run's counters.

#include "mainwindow/ising.h"

#include "runtime/colour.h"
#include "runtime/drawingsurface.h"
#include "runtime/qtext.h"
#include "runtime/timer.h"

#include <QLineEdit>

namespace ferro {

namespace {
// The value axis runs from 0 at the top to 1.015 at the bottom (a value v is
// plotted at 1 - v); time runs over 4000 steps per site plus a margin of 4.
constexpr float ChartScaleHeight = 1.015f;
constexpr double ChartScaleWidth = 4004;
} // namespace

void Ising::PrepareChart(DrawingSurface *pic, std::uint32_t plotColour)
{
    picMag->setVisible(true);
    picAutoCorrelation->setVisible(true);

    pic->Cls();
    pic->setDrawWidth(1);
    pic->setScaleHeight(ChartScaleHeight);
    pic->setScaleWidth(ChartScaleWidth);

    const bool early = m_run.record().chartsEarly();
    for (int x = 0; x <= 4000; x += 800) {
        pic->setForeColor(vbColour(early && x == 0 ? VbBlack : VbGrey));
        pic->Line(x, 0, x, pic->ScaleHeight());
        pic->setForeColor(vbColour(x == 4000 ? VbBlack : VbGrey));
        pic->Line(0, x / 4000.0, pic->ScaleWidth() - 2, x / 4000.0);
    }

    const TwipsBox &box = pic == picMag ? picMagBox : picAutoCorrelationBox;
    for (int k = 0; k < 6; ++k) {
        // 120 twips lift the text by half a line, level with its grid line.
        surface->setCurrentX(box.left + box.width + 90);
        surface->setCurrentY(box.top + k * box.height / 5.0 - 120);
        surface->Print(qs(Format(1 - 0.2 * k, " 0.0")));
    }
    pic->setForeColor(vbColour(plotColour));
}

void Ising::ClearChart()
{
    setTimersEnabled(false);
    m_run.startClear();
    PrepareChart(picMag, VbBlue);
    PrepareChart(picAutoCorrelation, VbRed);
    m_run.finishClear();
    txtTemp->setText(QString());
    refreshReadouts();
}

void Ising::mnuClearChart_Click()
{
    ClearChart();
    recordEvent("Clear Chart");
}

} // namespace ferro
