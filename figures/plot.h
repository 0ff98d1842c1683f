#pragma once
// The batch program's figure: energy, |m|, specific heat, susceptibility and
// (when measured) the Binder cumulant and xi/L against temperature, one
// series per lattice size with error bars, the exact energy and specific heat
// of each size's torus drawn through their panels, and the list of where U
// and xi/L of successive sizes cross. Black on white; each size has its own
// marker shape and line style, so that it reads in black and white. Legends
// and labels stay outside the axes.

#include <QSizeF>
#include <QString>

#include <limits>
#include <optional>
#include <vector>

class QPainter;
class QRectF;

namespace ferro::batch {

struct Measured {
    double mean = std::numeric_limits<double>::quiet_NaN();  // NaN: not measured (an empty field)
    double error = std::numeric_limits<double>::quiet_NaN(); // NaN: unknown
};

struct PlotPoint {
    int size = 20; // L of the L x L torus
    double temperature = 0;
    // Per site: E/N, <|m|>, C/N, chi'/N = N(<m^2> - <|m|>^2)/T and the Binder
    // cumulant U = 1 - <m^4>/(3 <m^2>^2); xi/L, the second-moment
    // correlation length over L.
    Measured energy, absMag, specificHeat, susceptibility, binder, lengthOverSize;
};

// A maximum of a reweighted curve: the specific heat's or chi''s.
struct PlotPeak {
    int size = 20;
    bool susceptibility = false; // chi' rather than C
    Measured temperature, value;
};

// Where the reweighted U or xi/L of two successive sizes cross.
struct PlotCrossing {
    bool lengthOverSize = false; // xi/L rather than U
    int smaller = 0, larger = 0;
    Measured temperature, value;
};

struct PlotData {
    std::vector<PlotPoint> points;        // any order, any mix of sizes
    // Reweighted curves (--curves): rows of a fine grid, size after size in
    // rising temperature, NaN in a gap; drawn as thin grey lines through the
    // markers. And the peaks read off them, marked with their errors, and
    // the crossings, listed and marked instead of the straight-line ones
    // whenever there are curves (a pair missing here did not cross on them).
    std::vector<PlotPoint> curves;
    std::vector<PlotPeak> peaks;
    std::vector<PlotCrossing> crossings;
    std::optional<double> uniformFactor; // every site factor equals this F: exact curves drawn at T*F; none: no exact curves
    QString caption;
};

struct Crossing {
    int smaller, larger;           // the two sizes
    double temperature, error;     // error NaN when a value's error is unknown
};

// Where the values (U, or xi/L) of successive sizes (those with the value
// measured, sorted ascending) cross: for each pair, the first interval
// between two consecutive temperatures that both sizes have where
// v_larger - v_smaller changes sign, by linear interpolation (a temperature
// where the difference is exactly 0 is itself the crossing). Pairs without a
// sign change give no entry; empty when nothing crosses. (crossings.cpp)
std::vector<Crossing> linearCrossings(const std::vector<PlotPoint> &points, Measured PlotPoint::*value);

// What renderPlot draws; a figure is all of it. The parts alone serve the
// tests that check, on the rendered pixels, that no text covers the data.
enum PlotLayer : unsigned {
    PlotFrame = 1,  // axes boxes, tick marks, grid
    PlotText = 2,   // caption, legend, titles, tick labels, axis labels, the crossings' list
    PlotPoints = 4, // markers, error bars, the crossings' marks
    PlotCurves = 8, // exact curves, the line at the critical temperature
    PlotAll = 15,
};

// The figure's own size in its coordinates: two columns of panels, E and
// |m|, C and chi', then U and xi/L where measured, and the list of crossings
// beside a lone U or xi/L panel, else in a row of its own under them.
QSizeF plotSize(const PlotData &data);

// Draws the figure into `target` of any paint device, keeping its shape.
void renderPlot(QPainter &painter, const QRectF &target, const PlotData &data, unsigned layers = PlotAll);

// Writes the figure as PNG, SVG or PDF, chosen by the file's extension.
// Returns an empty string or one line saying what went wrong.
QString savePlot(const QString &path, const PlotData &data);

} // namespace ferro::batch
