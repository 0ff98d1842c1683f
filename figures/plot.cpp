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

// The exact curves, and in the Binder panel the line at the critical
// temperature.
void drawCurves(QPainter &p, const Panel &panel, const Figure &f, const Axes &a, const Curves &curves)
{
    const double tc = criticalTemperature(f.data);
    if (panel.value == &PlotPoint::binder && tc > f.tLo && tc < f.tHi) {
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
                const std::vector<BinderCrossing> &crossings)
{
    const QRectF &plot = a.plot;
    p.setPen(QPen(Qt::black, 2));
    for (const BinderCrossing &c : crossings) {
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
               const std::vector<BinderCrossing> &crossings)
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

// The cell beside the Binder panel: where successive sizes cross, and the
// exact critical temperature.
void drawCrossingList(QPainter &p, const QRectF &box, const Figure &f, const std::vector<BinderCrossing> &crossings)
{
    QFont font = p.font();
    font.setPixelSize(26);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(box.left(), box.top() + 5, box.width(), 45), Qt::AlignCenter,
               QStringLiteral("crossings of the Binder cumulants"));
    std::vector<int> measured;
    for (int size : f.sizes)
        if (std::any_of(f.data.points.begin(), f.data.points.end(),
                        [&](const PlotPoint &pt) { return pt.size == size && std::isfinite(pt.binder.mean); }))
            measured.push_back(size);
    QStringList lines;
    for (std::size_t i = 0; i + 1 < measured.size(); ++i) {
        const auto c = std::find_if(crossings.begin(), crossings.end(),
                                    [&](const BinderCrossing &b) { return b.smaller == measured[i]; });
        lines << QStringLiteral("L = %1 and %2:  %3").arg(measured[i]).arg(measured[i + 1])
                     .arg(c == crossings.end() ? QStringLiteral("no crossing")
                                               : QStringLiteral("T = ") + withError(c->temperature, c->error));
    }
    if (measured.size() < 2)
        lines << QStringLiteral("one size: nothing to cross") << QString();
    else
        lines << QString() << QStringLiteral("marked on the temperature axis")
              << QStringLiteral("of the U panel (the larger size's")
              << QStringLiteral("marker on each tick), with their errors;") << QString();
    const double factor = f.data.uniformFactor.value_or(NAN);
    if (factor == 1)
        lines << QStringLiteral("the thin line: the critical temperature")
              << QStringLiteral("of the infinite lattice,")
              << QStringLiteral("T = 2 / ln(1 + \u221a2) = 2.269185");
    else if (std::isfinite(factor))
        lines << QStringLiteral("the thin line: the critical temperature")
              << QStringLiteral("of the infinite lattice, 2.269185,")
              << QStringLiteral("over the factor %1: T = %2").arg(factor).arg(criticalTemperature(f.data), 0, 'f', 6);
    else
        lines << QStringLiteral("the site factors differ: no single")
              << QStringLiteral("critical temperature to mark");
    font.setPixelSize(24);
    p.setFont(font);
    const double left = box.left() + 70, lineHeight = 36;
    double y = box.top() + 80;
    for (const QString &text : lines) {
        p.drawText(QRectF(left, y, box.right() - left - 20, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += lineHeight;
    }
}

bool hasBinder(const PlotData &data)
{
    return std::any_of(data.points.begin(), data.points.end(),
                       [](const PlotPoint &pt) { return std::isfinite(pt.binder.mean); });
}

} // namespace

QSizeF plotSize(const PlotData &data)
{
    return QSizeF((hasBinder(data) ? 3 : 2) * CellWidth, Top + 2 * CellHeight);
}

void renderPlot(QPainter &p, const QRectF &target, const PlotData &data, unsigned layers)
{
    const QSizeF size = plotSize(data);
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

    const Panel energy {QStringLiteral("energy per site E/N"), &PlotPoint::energy, Exact::Energy};
    const Panel absMag {QStringLiteral("magnetization per site \u27e8|m|\u27e9"), &PlotPoint::absMag, Exact::None};
    const Panel heat {QStringLiteral("specific heat per site C/N"), &PlotPoint::specificHeat, Exact::SpecificHeat};
    const Panel chi {QStringLiteral("susceptibility per site \u03c7\u2032/N (with |m|)"), &PlotPoint::susceptibility,
                     Exact::None};
    const Panel binder {QStringLiteral("Binder cumulant U = 1 \u2212 \u27e8m\u2074\u27e9 / 3\u27e8m\u00b2\u27e9\u00b2"),
                        &PlotPoint::binder, Exact::None};

    QFont font = p.font();
    font.setPixelSize(24);
    p.setFont(font);
    if (f.draws(PlotText)) {
        p.setPen(Qt::black);
        p.drawText(QRectF(0, 8, size.width(), 36), Qt::AlignCenter, data.caption);
        drawLegend(p, QRectF(0, 50, size.width(), 44), f);
    }
    const auto cell = [&](int column, int row) {
        return QRectF(column * CellWidth, Top + row * CellHeight, CellWidth, CellHeight);
    };
    drawPanel(p, cell(0, 0), energy, f, {});
    drawPanel(p, cell(1, 0), absMag, f, {});
    drawPanel(p, cell(0, 1), heat, f, {});
    drawPanel(p, cell(1, 1), chi, f, {});
    if (hasBinder(data)) {
        const std::vector<BinderCrossing> crossings = binderCrossings(data.points);
        drawPanel(p, cell(2, 0), binder, f, crossings);
        if (f.draws(PlotText))
            drawCrossingList(p, cell(2, 1), f, crossings);
    }
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
        pdf.setPageOrientation(QPageLayout::Landscape);
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
