#include "figures/plot.h"

#include "analysis/exactenergy.h"
#include "stdruntime/files.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <map>

namespace ferro::batch {

namespace {

// The figure's own coordinates: a caption line, a legend line, then cells of
// one panel each; every device maps them onto its page.
constexpr double CellWidth = 800, CellHeight = 575, Top = 100;
constexpr double MarkerSize = 16;
// The critical temperature of the infinite lattice, 2 / ln(1 + sqrt 2).
constexpr double CriticalTemperature = 2.269185314213022;

enum class Shape { Circle, Square, Triangle, Diamond, TriangleDown };

// How the series of the index-th smallest size is drawn: a marker shape, open
// or filled, and a line style for its exact curves.
struct Style {
    Shape shape;
    bool filled;
    QList<qreal> dashes; // in pen widths; empty: solid
};

Style styleOf(int index)
{
    static const Shape shapes[] = {Shape::Circle, Shape::Square, Shape::Triangle, Shape::Diamond,
                                   Shape::TriangleDown};
    static const QList<qreal> dashes[] = {{}, {5, 2.5}, {0.1, 2.2}, {5, 2, 0.1, 2}, {5, 2, 0.1, 2, 0.1, 2}};
    return {shapes[index % 5], index % 2 == 1, dashes[index % 5]};
}

QPen curvePen(const Style &style)
{
    QPen pen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (!style.dashes.isEmpty())
        pen.setDashPattern(style.dashes);
    return pen;
}

enum class Exact { None, Energy, SpecificHeat };

struct Panel {
    QString title;
    Measured PlotPoint::*value;
    Exact exact;
    bool crossed = false; // U and xi/L: their crossings are listed and marked
};

// The exact value per site of the L x L torus at temperature T of the sites,
// NaN outside the range the exact code covers.
double exactValue(Exact kind, int size, double T)
{
    if (!(T >= 0.1 && T <= 1e4))
        return NAN;
    return kind == Exact::Energy ? exactEnergy(size, size, T) : exactSpecificHeat(size, size, T);
}

// Where the exact curves of size L are evaluated: evenly over [lo, hi], and
// densely where the specific heat peaks, within a few 1/L of the critical
// temperature (of the sites, at T * factor), so that the peak of a large
// lattice is drawn without sampling the whole range that finely.
std::vector<double> curveTemperatures(double lo, double hi, int L, double factor)
{
    constexpr int Even = 300, Dense = 200;
    std::vector<double> out;
    for (int s = 0; s <= Even; ++s)
        out.push_back(lo + (hi - lo) * s / Even);
    const double from = std::max(lo, CriticalTemperature * (1 - 4.0 / L) / factor),
                 to = std::min(hi, CriticalTemperature * (1 + 8.0 / L) / factor);
    for (int s = 0; from < to && s <= Dense; ++s)
        out.push_back(from + (to - from) * s / Dense);
    std::sort(out.begin(), out.end());
    return out;
}

// Tick marks at 1, 2 or 5 times a power of ten, at most seven over [lo, hi].
std::vector<double> ticks(double lo, double hi)
{
    const double power = std::pow(10.0, std::floor(std::log10((hi - lo) / 7)));
    double step = 10 * power;
    for (double m : {1.0, 2.0, 5.0})
        if ((hi - lo) / (m * power) <= 7) {
            step = m * power;
            break;
        }
    std::vector<double> out;
    for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step)
        out.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    return out;
}

QString tickText(double value)
{
    return QString::number(value, 'g', 6);
}

void drawMarker(QPainter &p, QPointF at, const Style &style, double size)
{
    p.setBrush(style.filled ? Qt::black : Qt::white);
    const double r = size / 2;
    switch (style.shape) {
    case Shape::Circle:
        p.drawEllipse(at, r, r);
        break;
    case Shape::Square:
        p.drawRect(QRectF(at.x() - r * 0.9, at.y() - r * 0.9, size * 0.9, size * 0.9));
        break;
    case Shape::Triangle:
        p.drawPolygon(QPolygonF({at + QPointF(0, -r * 1.2), at + QPointF(r * 1.1, r * 0.8), at + QPointF(-r * 1.1, r * 0.8)}));
        break;
    case Shape::TriangleDown:
        p.drawPolygon(QPolygonF({at + QPointF(0, r * 1.2), at + QPointF(r * 1.1, -r * 0.8), at + QPointF(-r * 1.1, -r * 0.8)}));
        break;
    case Shape::Diamond:
        p.drawPolygon(QPolygonF({at + QPointF(0, -r * 1.3), at + QPointF(r, 0), at + QPointF(0, r * 1.3), at + QPointF(-r, 0)}));
        break;
    }
}

// The run temperature at which the sites are at the critical temperature;
// NaN where the factors differ.
double criticalTemperature(const PlotData &data)
{
    return data.uniformFactor ? CriticalTemperature / *data.uniformFactor : NAN;
}

// What every panel shares: the sizes in ascending order (a series each), the
// temperature axis, the factor of the exact curves and the layers to draw.
struct Figure {
    const PlotData &data;
    std::vector<int> sizes;
    double tLo, tHi;
    unsigned layers;
    int series(int size) const { return int(std::lower_bound(sizes.begin(), sizes.end(), size) - sizes.begin()); }
    bool draws(unsigned layer) const { return layers & layer; }
};

QString sizeText(int size)
{
    return QStringLiteral("L = %1").arg(size);
}

// Two significant digits of the error, as many of the value.
QString withError(double value, double error)
{
    const int digits = std::isfinite(error) && error > 0
        ? std::clamp(1 - int(std::floor(std::log10(error))), 0, 8) : 4;
    QString text = QString::number(value, 'f', digits);
    if (std::isfinite(error))
        text += QStringLiteral(" \u00b1 ") + QString::number(error, 'f', digits);
    return text;
}

using Curves = std::map<int, std::vector<QPointF>>; // by size, in (T, value)

// The exact curves of a panel, when it has them and the factors are equal.
Curves exactCurves(const Panel &panel, const Figure &f)
{
    Curves curves;
    if (panel.exact == Exact::None || !f.data.uniformFactor)
        return curves;
    const double factor = *f.data.uniformFactor;
    for (int size : f.sizes)
        for (double t : curveTemperatures(f.tLo, f.tHi, size, factor)) {
            const double v = exactValue(panel.exact, size, t * factor);
            if (std::isfinite(v))
                curves[size].emplace_back(t, v);
        }
    return curves;
}

// A panel's axes: the rectangle inside its cell, the temperatures and the
// values they span, and where a temperature or a value lies in the figure.
struct Axes {
    QRectF plot;
    double tLo, tHi, lo, hi;
    double x(double t) const { return plot.left() + (t - tLo) / (tHi - tLo) * plot.width(); }
    double y(double v) const { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); }
};

// The value range over the points, their error bars and the exact curves,
// padded, with room under the points for the crossings' marks.
Axes panelAxes(const QRectF &box, const Panel &panel, const Figure &f, const Curves &curves, bool crossings)
{
    double lo = INFINITY, hi = -INFINITY;
    auto widen = [&](double v) {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    };
    for (const PlotPoint &pt : f.data.points) {
        const Measured &v = pt.*panel.value;
        const double e = std::isfinite(v.error) ? v.error : 0;
        widen(v.mean - e);
        widen(v.mean + e);
    }
    for (const auto &[size, curve] : curves)
        for (const QPointF &c : curve)
            widen(c.y());
    for (const PlotPoint &c : f.data.curves)
        if (c.temperature >= f.tLo && c.temperature <= f.tHi)
            widen((c.*panel.value).mean);
    if (!(lo <= hi)) {
        lo = 0;
        hi = 1;
    }
    if (hi - lo < 1e-9 * std::max(1.0, std::fabs(hi))) {
        lo -= 0.5 * std::max(1e-3, std::fabs(lo));
        hi += 0.5 * std::max(1e-3, std::fabs(hi));
    }
    const double pad = (hi - lo) * 0.06;
    lo -= pad;
    hi += pad;
    if (crossings)
        lo -= (hi - lo) * 0.12;
    const QRectF plot(box.left() + 120, box.top() + 60, box.width() - 150, box.height() - 140);
    return {plot, f.tLo, f.tHi, lo, hi};
}

// The box, the title, the grid, the tick marks and their labels.
void drawAxes(QPainter &p, const QRectF &box, const Panel &panel, const Figure &f, const Axes &a)
{
    const QRectF &plot = a.plot;
    QFont font = p.font();
    font.setPixelSize(26);
    p.setFont(font);
    p.setBrush(Qt::NoBrush);
    if (f.draws(PlotFrame)) {
        p.setPen(QPen(Qt::black, 2));
        p.drawRect(plot);
    }
    if (f.draws(PlotText)) {
        p.setPen(Qt::black);
        p.drawText(QRectF(box.left(), box.top() + 5, box.width(), 45), Qt::AlignCenter, panel.title);
    }

    font.setPixelSize(22);
    p.setFont(font);
    const QPen grid(QColor(0xc8, 0xc8, 0xc8), 1, Qt::DotLine);
    for (double t : ticks(a.tLo, a.tHi)) {
        if (f.draws(PlotFrame)) {
            p.setPen(grid);
            p.drawLine(QPointF(a.x(t), plot.top()), QPointF(a.x(t), plot.bottom()));
            p.setPen(QPen(Qt::black, 2));
            p.drawLine(QPointF(a.x(t), plot.bottom()), QPointF(a.x(t), plot.bottom() + 8));
        }
        if (f.draws(PlotText)) {
            p.setPen(Qt::black);
            p.drawText(QRectF(a.x(t) - 60, plot.bottom() + 10, 120, 30), Qt::AlignHCenter | Qt::AlignTop, tickText(t));
        }
    }
    for (double v : ticks(a.lo, a.hi)) {
        if (f.draws(PlotFrame)) {
            p.setPen(grid);
            p.drawLine(QPointF(plot.left(), a.y(v)), QPointF(plot.right(), a.y(v)));
            p.setPen(QPen(Qt::black, 2));
            p.drawLine(QPointF(plot.left() - 8, a.y(v)), QPointF(plot.left(), a.y(v)));
        }
        if (f.draws(PlotText)) {
            p.setPen(Qt::black);
            p.drawText(QRectF(box.left(), a.y(v) - 15, plot.left() - box.left() - 12, 30),
                       Qt::AlignRight | Qt::AlignVCenter, tickText(v));
        }
    }
    if (f.draws(PlotText))
        p.drawText(QRectF(plot.left(), plot.bottom() + 40, plot.width(), 30), Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("temperature T"));
}

// The exact curves, and in the U and xi/L panels the line at the critical
// temperature.
void drawCurves(QPainter &p, const Panel &panel, const Figure &f, const Axes &a, const Curves &curves)
{
    const double tc = criticalTemperature(f.data);
    if (panel.crossed && tc > f.tLo && tc < f.tHi) {
        p.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.5));
        p.drawLine(QPointF(a.x(tc), a.plot.top()), QPointF(a.x(tc), a.plot.bottom()));
    }
    for (const auto &[size, curve] : curves) {
        QPainterPath path;
        for (const QPointF &c : curve)
            if (path.elementCount() == 0)
                path.moveTo(a.x(c.x()), a.y(c.y()));
            else
                path.lineTo(a.x(c.x()), a.y(c.y()));
        p.setPen(curvePen(styleOf(f.series(size))));
        p.drawPath(path);
    }
    // The reweighted curves: thin grey lines, broken where a curve is empty
    // and between sizes.
    QPainterPath reweighted;
    const PlotPoint *previous = nullptr;
    for (const PlotPoint &c : f.data.curves) {
        const double v = (c.*panel.value).mean;
        if (!std::isfinite(v)) {
            previous = nullptr;
            continue;
        }
        const QPointF at(a.x(c.temperature), a.y(v));
        if (previous && previous->size == c.size && previous->temperature < c.temperature)
            reweighted.lineTo(at);
        else
            reweighted.moveTo(at);
        previous = &c;
    }
    if (!reweighted.isEmpty()) {
        p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(reweighted);
    }
}

// The crossings' marks, then every point's error bar, then the markers over
// them.
void drawPoints(QPainter &p, const Panel &panel, const Figure &f, const Axes &a,
                const std::vector<Crossing> &crossings)
{
    const QRectF &plot = a.plot;
    p.setPen(QPen(Qt::black, 2));
    for (const Crossing &c : crossings) {
        // A tick up from the temperature axis under the larger size's
        // marker, its error as a bar across.
        const double x = a.x(c.temperature), y = plot.bottom() - 12;
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() - 26));
        drawMarker(p, QPointF(x, plot.bottom() - 32), styleOf(f.series(c.larger)), 11);
        if (std::isfinite(c.error) && c.error > 0) {
            const double l = a.x(c.temperature - c.error), r = a.x(c.temperature + c.error);
            p.drawLine(QPointF(l, y), QPointF(r, y));
            p.drawLine(QPointF(l, y - 6), QPointF(l, y + 6));
            p.drawLine(QPointF(r, y - 6), QPointF(r, y + 6));
        }
    }
    for (const PlotPoint &pt : f.data.points) {
        const Measured &v = pt.*panel.value;
        if (!std::isfinite(v.mean))
            continue;
        const double x = a.x(pt.temperature);
        if (std::isfinite(v.error) && v.error > 0) {
            const double top = a.y(v.mean + v.error), bottom = a.y(v.mean - v.error);
            p.drawLine(QPointF(x, top), QPointF(x, bottom));
            p.drawLine(QPointF(x - 7, top), QPointF(x + 7, top));
            p.drawLine(QPointF(x - 7, bottom), QPointF(x + 7, bottom));
        }
    }
    for (const PlotPoint &pt : f.data.points) {
        const Measured &v = pt.*panel.value;
        if (std::isfinite(v.mean))
            drawMarker(p, QPointF(a.x(pt.temperature), a.y(v.mean)), styleOf(f.series(pt.size)), MarkerSize);
    }
    // The peaks of the reweighted curves: a cross, its errors as bars.
    const bool heat = panel.value == &PlotPoint::specificHeat, chi = panel.value == &PlotPoint::susceptibility;
    if (!f.data.peaks.empty())
        p.setPen(QPen(Qt::black, 2.5));
    for (const PlotPeak &peak : f.data.peaks) {
        if (!(peak.susceptibility ? chi : heat) || !std::isfinite(peak.value.mean))
            continue;
        const double x = a.x(peak.temperature.mean), y = a.y(peak.value.mean);
        p.drawLine(QPointF(x - 12, y - 12), QPointF(x + 12, y + 12));
        p.drawLine(QPointF(x - 12, y + 12), QPointF(x + 12, y - 12));
        if (std::isfinite(peak.temperature.error) && peak.temperature.error > 0)
            p.drawLine(QPointF(a.x(peak.temperature.mean - peak.temperature.error), y),
                       QPointF(a.x(peak.temperature.mean + peak.temperature.error), y));
        if (std::isfinite(peak.value.error) && peak.value.error > 0)
            p.drawLine(QPointF(x, a.y(peak.value.mean - peak.value.error)), QPointF(x, a.y(peak.value.mean + peak.value.error)));
    }
}

void drawPanel(QPainter &p, const QRectF &box, const Panel &panel, const Figure &f,
               const std::vector<Crossing> &crossings)
{
    const Curves curves = exactCurves(panel, f);
    const Axes axes = panelAxes(box, panel, f, curves, !crossings.empty());
    drawAxes(p, box, panel, f, axes);
    // The data, clipped to the axes: nothing else is drawn inside them.
    p.save();
    p.setClipRect(axes.plot);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    if (f.draws(PlotCurves))
        drawCurves(p, panel, f, axes, curves);
    if (f.draws(PlotPoints))
        drawPoints(p, panel, f, axes, crossings);
    p.restore();
}

// The legend, one line under the caption, outside every panel: the marker
// (and the line of the exact curve) of each size.
void drawLegend(QPainter &p, const QRectF &line, const Figure &f)
{
    const bool exact = f.data.uniformFactor.has_value();
    const double factor = f.data.uniformFactor.value_or(1);
    const QString torus = factor == 1 ? QStringLiteral("torus") : QStringLiteral("torus at T \u00d7 %1").arg(factor);
    struct Entry {
        int series;      // marker and line of this series, or -1
        bool marker, curve;
        QString text;
    };
    std::vector<Entry> entries;
    if (f.sizes.size() == 1) {
        const int L = f.sizes.front();
        entries.push_back({0, true, false, QStringLiteral("simulation, %1 \u00d7 %1").arg(L)});
        if (exact)
            entries.push_back({0, false, true, QStringLiteral("exact, %1 \u00d7 %1 %2").arg(L).arg(torus)});
    } else {
        for (std::size_t i = 0; i < f.sizes.size(); ++i)
            entries.push_back({int(i), true, exact, sizeText(f.sizes[i])});
        entries.push_back({-1, false, false,
                           exact ? QStringLiteral("(markers: simulation; lines: exact L \u00d7 L %1)").arg(torus)
                                 : QStringLiteral("(L \u00d7 L torus)")});
    }
    if (!f.data.curves.empty())
        entries.push_back({-1, false, false, QStringLiteral("grey: reweighted; \u00d7: peaks")});
    QFont font = p.font();
    font.setPixelSize(24);
    constexpr double Gap = 12, Space = 40;
    // The sample: a stretch of the curve's line, or room for the marker alone.
    const auto sample = [](const Entry &e) { return e.series < 0 ? 0.0 : e.curve ? 56.0 : 20.0; };
    const auto widthOf = [&](const QFontMetricsF &m) {
        double w = 0;
        for (const Entry &e : entries)
            w += (e.series >= 0 ? sample(e) + Gap : 0) + m.horizontalAdvance(e.text) + Space;
        return w - Space;
    };
    while (widthOf(QFontMetricsF(font)) > line.width() - 40 && font.pixelSize() > 12)
        font.setPixelSize(font.pixelSize() - 1);
    const QFontMetricsF metrics(font);
    p.setFont(font);
    p.setRenderHint(QPainter::Antialiasing);
    double x = line.center().x() - widthOf(metrics) / 2;
    const double y = line.center().y();
    for (const Entry &e : entries) {
        if (e.series >= 0) {
            const Style style = styleOf(e.series);
            if (e.curve) {
                p.setPen(curvePen(style));
                p.drawLine(QPointF(x, y), QPointF(x + sample(e), y));
            }
            if (e.marker) {
                p.setPen(QPen(Qt::black, 2));
                drawMarker(p, QPointF(x + sample(e) / 2, y), style, MarkerSize);
            }
            x += sample(e) + Gap;
        }
        p.setPen(Qt::black);
        const double w = metrics.horizontalAdvance(e.text);
        p.drawText(QRectF(x, line.top(), w + 2, line.height()), Qt::AlignLeft | Qt::AlignVCenter, e.text);
        x += w + Space;
    }
}

// A line of the crossings' list: where the values of a pair of successive
// sizes cross, when they do.
struct ListEntry {
    bool lengthOverSize;
    int smaller, larger;
    std::optional<Crossing> crossing;
};

// The list: from the reweighted curves when the run made them (the very
// numbers of standard error and --peaks), else by straight lines between
// grid temperatures; U first, then xi/L, for every pair of successive sizes
// that measured the value.
struct CrossingList {
    bool reweighted = false;
    bool binder = false, lengthOverSize = false; // measured by some point
    std::vector<int> binderSizes;                // the sizes that measured U
    std::vector<ListEntry> entries;
    std::vector<Crossing> marks(bool lengthOverSize) const
    {
        std::vector<Crossing> out;
        for (const ListEntry &e : entries)
            if (e.lengthOverSize == lengthOverSize && e.crossing)
                out.push_back(*e.crossing);
        return out;
    }
};

CrossingList crossingList(const PlotData &data)
{
    CrossingList list;
    list.reweighted = !data.curves.empty();
    for (const bool xi : {false, true}) {
        Measured PlotPoint::*const value = xi ? &PlotPoint::lengthOverSize : &PlotPoint::binder;
        std::vector<int> sizes;
        for (const PlotPoint &pt : data.points)
            if (std::isfinite((pt.*value).mean))
                sizes.push_back(pt.size);
        std::sort(sizes.begin(), sizes.end());
        sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
        (xi ? list.lengthOverSize : list.binder) = !sizes.empty();
        if (!xi)
            list.binderSizes = sizes;
        const std::vector<Crossing> linear =
            list.reweighted ? std::vector<Crossing>() : linearCrossings(data.points, value);
        for (std::size_t k = 0; k + 1 < sizes.size(); ++k) {
            ListEntry entry {xi, sizes[k], sizes[k + 1], std::nullopt};
            if (list.reweighted) {
                for (const PlotCrossing &c : data.crossings)
                    if (c.lengthOverSize == xi && c.smaller == entry.smaller && c.larger == entry.larger)
                        entry.crossing = Crossing {c.smaller, c.larger, c.temperature.mean, c.temperature.error};
            } else {
                for (const Crossing &c : linear)
                    if (c.smaller == entry.smaller)
                        entry.crossing = c;
            }
            list.entries.push_back(entry);
        }
    }
    return list;
}

// The list's text: a title, the crossings and what the marks and the thin
// line are.
struct ListText {
    QString title;
    QStringList crossings, notes;
};

ListText listText(const PlotData &data, const CrossingList &list)
{
    ListText text;
    const QString panels = list.binder && list.lengthOverSize ? QStringLiteral("U and \u03be/L panels")
        : list.binder ? QStringLiteral("U panel") : QStringLiteral("\u03be/L panel");
    text.title = list.binder && list.lengthOverSize ? QStringLiteral("crossings of U and \u03be/L")
        : list.binder ? QStringLiteral("crossings of the Binder cumulants") : QStringLiteral("crossings of \u03be/L");
    if (list.entries.empty()) {
        text.crossings << QStringLiteral("one size: nothing to cross");
    } else {
        text.crossings << (list.reweighted ? QStringLiteral("on the reweighted curves:")
                                           : QStringLiteral("linear between grid temperatures:"));
        for (const ListEntry &e : list.entries)
            text.crossings << QStringLiteral("%1, L = %2 and %3:  %4")
                                  .arg(e.lengthOverSize ? QStringLiteral("\u03be/L") : QStringLiteral("U"))
                                  .arg(e.smaller)
                                  .arg(e.larger)
                                  .arg(e.crossing ? QStringLiteral("T = ") + withError(e.crossing->temperature, e.crossing->error)
                                                  : QStringLiteral("no crossing"));
        text.notes << QStringLiteral("marked by ticks on the temperature axis")
                   << QStringLiteral("of the %1 (the larger size's").arg(panels)
                   << QStringLiteral("marker on each tick), with their errors;") << QString();
    }
    const double factor = data.uniformFactor.value_or(NAN);
    if (factor == 1)
        text.notes << QStringLiteral("the thin line: the critical temperature")
                   << QStringLiteral("of the infinite lattice,")
                   << QStringLiteral("T = 2 / ln(1 + \u221a2) = 2.269185");
    else if (std::isfinite(factor))
        text.notes << QStringLiteral("the thin line: the critical temperature")
                   << QStringLiteral("of the infinite lattice, 2.269185,")
                   << QStringLiteral("over the factor %1: T = %2").arg(factor).arg(criticalTemperature(data), 0, 'f', 6);
    else
        text.notes << QStringLiteral("the site factors differ: no single")
                   << QStringLiteral("critical temperature to mark");
    return text;
}

constexpr double ListTop = 80, LineHeight = 36, ListBottom = 30;

// Lines of text from the top of `box`, in a font made smaller until the
// widest fits.
void drawLines(QPainter &p, const QRectF &box, const QStringList &lines)
{
    QFont font = p.font();
    font.setPixelSize(24);
    const auto widest = [&] {
        const QFontMetricsF metrics(font);
        double w = 0;
        for (const QString &line : lines)
            w = std::max(w, metrics.horizontalAdvance(line));
        return w;
    };
    while (widest() > box.width() && font.pixelSize() > 14)
        font.setPixelSize(font.pixelSize() - 1);
    p.setFont(font);
    double y = box.top();
    for (const QString &line : lines) {
        p.drawText(QRectF(box.left(), y, box.width(), LineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += LineHeight;
    }
}

// The list in one cell, the crossings over the notes; or in a row as wide
// as the figure, the crossings on the left and the notes on the right.
void drawCrossingList(QPainter &p, const QRectF &box, const ListText &text, bool row)
{
    QFont font = p.font();
    font.setPixelSize(26);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(box.left(), box.top() + 5, box.width(), 45), Qt::AlignCenter, text.title);
    if (row) {
        const double half = box.width() / 2;
        drawLines(p, QRectF(box.left() + 70, box.top() + ListTop, half - 90, box.height()), text.crossings);
        drawLines(p, QRectF(box.left() + half + 70, box.top() + ListTop, half - 90, box.height()), text.notes);
    } else {
        drawLines(p, QRectF(box.left() + 70, box.top() + ListTop, box.width() - 90, box.height()),
                  text.crossings + QStringList {QString()} + text.notes);
    }
}

bool measures(const PlotData &data, Measured PlotPoint::*value)
{
    return std::any_of(data.points.begin(), data.points.end(),
                       [&](const PlotPoint &pt) { return std::isfinite((pt.*value).mean); });
}

// Where everything goes: the panels two to a row in reading order, and the
// crossings' list (when U or xi/L was measured) in the cell beside a lone
// last panel, else in a row of its own as high as its text.
struct Layout {
    std::vector<Panel> panels;
    bool list = false, listRow = false;
    QRectF listBox;
    QSizeF size;
    QRectF cell(std::size_t k) const
    {
        return QRectF(double(k % 2) * CellWidth, Top + double(k / 2) * CellHeight, CellWidth, CellHeight);
    }
};

Layout layoutOf(const PlotData &data, const ListText &text)
{
    Layout l;
    l.panels = {
        {QStringLiteral("energy per site E/N"), &PlotPoint::energy, Exact::Energy},
        {QStringLiteral("magnetization per site \u27e8|m|\u27e9"), &PlotPoint::absMag, Exact::None},
        {QStringLiteral("specific heat per site C/N"), &PlotPoint::specificHeat, Exact::SpecificHeat},
        {QStringLiteral("susceptibility per site \u03c7\u2032/N (with |m|)"), &PlotPoint::susceptibility, Exact::None},
    };
    if (measures(data, &PlotPoint::binder))
        l.panels.push_back({QStringLiteral("Binder cumulant U = 1 \u2212 \u27e8m\u2074\u27e9 / 3\u27e8m\u00b2\u27e9\u00b2"),
                            &PlotPoint::binder, Exact::None, true});
    if (measures(data, &PlotPoint::lengthOverSize))
        l.panels.push_back({QStringLiteral("correlation length over size \u03be/L"), &PlotPoint::lengthOverSize,
                            Exact::None, true});
    l.list = l.panels.size() > 4;
    const std::size_t rows = (l.panels.size() + 1) / 2;
    l.size = QSizeF(2 * CellWidth, Top + double(rows) * CellHeight);
    if (l.list && l.panels.size() % 2 == 1) {
        l.listBox = l.cell(l.panels.size());
    } else if (l.list) {
        l.listRow = true;
        const double lines = double(std::max(text.crossings.size(), text.notes.size()));
        l.listBox = QRectF(0, l.size.height(), l.size.width(), ListTop + lines * LineHeight + ListBottom);
        l.size.rheight() += l.listBox.height();
    }
    return l;
}

} // namespace

QSizeF plotSize(const PlotData &data)
{
    return layoutOf(data, listText(data, crossingList(data))).size;
}

void renderPlot(QPainter &p, const QRectF &target, const PlotData &data, unsigned layers)
{
    const CrossingList list = crossingList(data);
    const ListText text = listText(data, list);
    const Layout layout = layoutOf(data, text);
    const QSizeF size = layout.size;
    p.save();
    // Fit the figure's own coordinates into the target, keeping its shape.
    const double scale = std::min(target.width() / size.width(), target.height() / size.height());
    p.translate(target.center().x() - size.width() * scale / 2, target.center().y() - size.height() * scale / 2);
    p.scale(scale, scale);
    p.fillRect(QRectF(QPointF(0, 0), size), Qt::white);

    Figure f {data, {}, INFINITY, -INFINITY, layers};
    for (const PlotPoint &pt : data.points) {
        f.tLo = std::min(f.tLo, pt.temperature);
        f.tHi = std::max(f.tHi, pt.temperature);
        f.sizes.push_back(pt.size);
    }
    std::sort(f.sizes.begin(), f.sizes.end());
    f.sizes.erase(std::unique(f.sizes.begin(), f.sizes.end()), f.sizes.end());
    if (f.sizes.empty())
        f.sizes.push_back(20);
    if (!(f.tLo < f.tHi)) {
        const double t = std::isfinite(f.tLo) ? f.tLo : 1;
        f.tLo = t * 0.9;
        f.tHi = t * 1.1;
    }
    const double margin = (f.tHi - f.tLo) * 0.04;
    f.tLo = std::max(0.0, f.tLo - margin);
    f.tHi += margin;

    QFont font = p.font();
    font.setPixelSize(24);
    p.setFont(font);
    if (f.draws(PlotText)) {
        p.setPen(Qt::black);
        p.drawText(QRectF(0, 8, size.width(), 36), Qt::AlignCenter, data.caption);
        drawLegend(p, QRectF(0, 50, size.width(), 44), f);
    }
    for (std::size_t k = 0; k < layout.panels.size(); ++k) {
        const Panel &panel = layout.panels[k];
        drawPanel(p, layout.cell(k), panel, f,
                  panel.crossed ? list.marks(panel.value == &PlotPoint::lengthOverSize) : std::vector<Crossing>());
    }
    if (layout.list && f.draws(PlotText))
        drawCrossingList(p, layout.listBox, text, layout.listRow);
    p.restore();
}

QString savePlot(const QString &path, const PlotData &data)
{
    // Painted in memory, then written to a temporary file beside the target
    // that is renamed into place only when complete: a failure leaves no
    // partial figure, and no library writes to the disk (or to standard
    // error) on its own.
    QBuffer figure;
    figure.open(QIODevice::WriteOnly);
    const QString ext = QFileInfo(path).suffix().toLower();
    const QRectF all(QPointF(0, 0), plotSize(data));
    bool ok = true;
    if (ext == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&figure);
        svg.setSize(all.size().toSize());
        svg.setViewBox(all);
        svg.setTitle(QStringLiteral("Ferrogrid temperature sweep"));
        QPainter p;
        ok = p.begin(&svg);
        if (ok)
            renderPlot(p, all, data);
        ok = p.end() && ok;
    } else if (ext == QLatin1String("pdf")) {
        QPdfWriter pdf(&figure);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(all.height() > all.width() ? QPageLayout::Portrait : QPageLayout::Landscape);
        pdf.setTitle(QStringLiteral("Ferrogrid temperature sweep"));
        QPainter p;
        ok = p.begin(&pdf);
        if (ok)
            renderPlot(p, QRectF(p.viewport()), data);
        ok = p.end() && ok;
    } else {
        QImage image(all.size().toSize(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        renderPlot(p, all, data);
        p.end();
        ok = image.save(&figure, "PNG");
    }
    if (!ok || figure.data().isEmpty())
        return QStringLiteral("cannot write the plot %1: the figure could not be painted").arg(path);

    const std::string why = replaceFile(QFile::encodeName(path).toStdString(),
                                        std::string_view(figure.data().constData(), std::size_t(figure.size())));
    return why.empty() ? QString() : QStringLiteral("cannot write the plot %1: %2").arg(path, QString::fromStdString(why));
}

} // namespace ferro::batch
