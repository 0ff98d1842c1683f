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
// plotted at 1 - v); time runs over a page of 4000 steps per site plus a
// margin of 4.
constexpr int PageSteps = PageTicks / TicksPerStep;
constexpr float ChartScaleHeight = 1.015f;
constexpr double ChartScaleWidth = PageSteps + 4;
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
    // Grid lines at every time-axis label, and as many across.
    for (int x = 0; x <= PageSteps; x += AxisLabelStep) {
        const double y = double(x) / PageSteps;
        pic->setForeColor(colourFromBgr(early && x == 0 ? VbBlack : VbGrey));
        pic->Line(x, 0, x, pic->ScaleHeight());
        pic->setForeColor(colourFromBgr(x == PageSteps ? VbBlack : VbGrey));
        pic->Line(0, y, pic->ScaleWidth() - 2, y);
    }

    const TwipsBox &box = pic == picMag ? picMagBox : picAutoCorrelationBox;
    for (int k = 0; k < AxisLabels; ++k) {
        // 120 twips lift the text by half a line, level with its grid line.
        surface->setCurrentX(box.left + box.width + 90);
        surface->setCurrentY(box.top + k * box.height / double(AxisLabels - 1) - 120);
        surface->Print(toQString(Format(1 - double(k) / (AxisLabels - 1), " 0.0")));
    }
    pic->setForeColor(colourFromBgr(plotColour));
}

void Ising::PrepareCharts()
{
    PrepareChart(picMag, VbBlue);
    PrepareChart(picAutoCorrelation, VbRed);
}

void Ising::ClearChart()
{
    setTimersEnabled(false);
    m_run.startClear();
    PrepareCharts();
    m_run.finishClear();
    txtTemp->setText(QString());
    refreshReadouts();
}

} // namespace ferro
