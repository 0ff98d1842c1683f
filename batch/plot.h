#pragma once
// The batch program's figure: energy, |m|, specific heat and susceptibility
// per site against temperature, four panels with error bars, the exact energy
// and specific heat of the 20 x 20 torus drawn through their panels. Black on
// white with a marker shape per quantity, so that it reads in black and white.

#include "analysis/analysis.h"

#include <QString>

#include <vector>

class QPainter;
class QRectF;

namespace ferro::batch {

using analysis::Results;
using analysis::Value;

struct PlotPoint {
    double temperature;
    Results results;
};

struct PlotData {
    std::vector<PlotPoint> points; // in any order
    bool exactCurve = false;       // every factor is 1: draw the exact curves
    QString caption;
};

// Draws the figure into `target` of any paint device.
void renderPlot(QPainter &painter, const QRectF &target, const PlotData &data);

// Writes the figure as PNG, SVG or PDF, chosen by the file's extension.
// Returns an empty string or one line saying what went wrong.
QString savePlot(const QString &path, const PlotData &data);

} // namespace ferro::batch
