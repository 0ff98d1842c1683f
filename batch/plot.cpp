#include "batch/plot.h"

#include "analysis/exactenergy.h"
#include "batch/output.h"
#include "core/lattice.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <functional>

namespace ferro::batch {

namespace {

// The figure's own coordinates; every device maps them onto its page.
constexpr double Width = 1600, Height = 1200;

enum class Marker { Circle, Square, Triangle, Diamond };

struct Panel {
    QString title;
    std::function<Value(const Results &)> value;
    Marker marker;
    bool filled;
    std::function<double(double)> exact; // of the 20 x 20 torus at T, or none
};

// C/N = d(E/N)/dT of the torus.
double exactSpecificHeat(double T)
{
    const double h = 1e-4 * T;
    return (exactEnergy(Side, Side, T + h) - exactEnergy(Side, Side, T - h)) / (2 * h);
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

void drawMarker(QPainter &p, QPointF at, Marker marker, bool filled, double size)
{
    p.setBrush(filled ? Qt::black : Qt::white);
    const double r = size / 2;
    switch (marker) {
    case Marker::Circle:
        p.drawEllipse(at, r, r);
        break;
    case Marker::Square:
        p.drawRect(QRectF(at.x() - r, at.y() - r, size, size));
        break;
    case Marker::Triangle:
        p.drawPolygon(QPolygonF({at + QPointF(0, -r * 1.2), at + QPointF(r * 1.1, r * 0.8), at + QPointF(-r * 1.1, r * 0.8)}));
        break;
    case Marker::Diamond:
        p.drawPolygon(QPolygonF({at + QPointF(0, -r * 1.3), at + QPointF(r, 0), at + QPointF(0, r * 1.3), at + QPointF(-r, 0)}));
        break;
    }
}

void drawPanel(QPainter &p, const QRectF &box, const Panel &panel, const PlotData &data, double tLo, double tHi,
               bool exact)
{
    // Value range over the points and their error bars (and the exact curve).
    double lo = INFINITY, hi = -INFINITY;
    auto widen = [&](double v) {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    };
    for (const PlotPoint &pt : data.points) {
        const Value v = panel.value(pt.results);
        const double e = std::isfinite(v.error) ? v.error : 0;
        widen(v.mean - e);
        widen(v.mean + e);
    }
    std::vector<QPointF> curve;
    if (exact) {
        for (int s = 0; s <= 200; ++s) {
            const double t = std::max(0.1, tLo + (tHi - tLo) * s / 200);
            curve.emplace_back(t, panel.exact(t));
            widen(curve.back().y());
        }
    }
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

    const QRectF plot(box.left() + 120, box.top() + 60, box.width() - 150, box.height() - 140);
    auto X = [&](double t) { return plot.left() + (t - tLo) / (tHi - tLo) * plot.width(); };
    auto Y = [&](double v) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };

    QFont font = p.font();
    font.setPixelSize(26);
    p.setFont(font);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    p.drawText(QRectF(box.left(), box.top() + 5, box.width(), 45), Qt::AlignCenter, panel.title);

    font.setPixelSize(22);
    p.setFont(font);
    const QPen grid(QColor(0xc8, 0xc8, 0xc8), 1, Qt::DotLine);
    for (double t : ticks(tLo, tHi)) {
        p.setPen(grid);
        p.drawLine(QPointF(X(t), plot.top()), QPointF(X(t), plot.bottom()));
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(QPointF(X(t), plot.bottom()), QPointF(X(t), plot.bottom() + 8));
        p.drawText(QRectF(X(t) - 60, plot.bottom() + 10, 120, 30), Qt::AlignHCenter | Qt::AlignTop, tickText(t));
    }
    for (double v : ticks(lo, hi)) {
        p.setPen(grid);
        p.drawLine(QPointF(plot.left(), Y(v)), QPointF(plot.right(), Y(v)));
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(QPointF(plot.left() - 8, Y(v)), QPointF(plot.left(), Y(v)));
        p.drawText(QRectF(box.left(), Y(v) - 15, plot.left() - box.left() - 12, 30), Qt::AlignRight | Qt::AlignVCenter,
                   tickText(v));
    }
    p.drawText(QRectF(plot.left(), plot.bottom() + 40, plot.width(), 30), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("temperature T"));

    p.save();
    p.setClipRect(plot);
    p.setRenderHint(QPainter::Antialiasing);
    if (!curve.empty()) {
        QPainterPath path;
        path.moveTo(X(curve.front().x()), Y(curve.front().y()));
        for (const QPointF &c : curve)
            path.lineTo(X(c.x()), Y(c.y()));
        p.setPen(QPen(Qt::black, 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    p.setPen(QPen(Qt::black, 2));
    for (const PlotPoint &pt : data.points) {
        const Value v = panel.value(pt.results);
        if (!std::isfinite(v.mean))
            continue;
        const double x = X(pt.temperature);
        if (std::isfinite(v.error) && v.error > 0) {
            const double top = Y(v.mean + v.error), bottom = Y(v.mean - v.error);
            p.drawLine(QPointF(x, top), QPointF(x, bottom));
            p.drawLine(QPointF(x - 7, top), QPointF(x + 7, top));
            p.drawLine(QPointF(x - 7, bottom), QPointF(x + 7, bottom));
        }
        drawMarker(p, QPointF(x, Y(v.mean)), panel.marker, panel.filled, 16);
    }
    p.restore();

    if (exact) {
        // The legend goes into the first corner that no point and no part of
        // the curve falls into.
        std::vector<QPointF> drawn;
        for (const QPointF &c : curve)
            drawn.emplace_back(X(c.x()), Y(c.y()));
        for (const PlotPoint &pt : data.points) {
            const Value v = panel.value(pt.results);
            drawn.emplace_back(X(pt.temperature), Y(v.mean));
        }
        const QSizeF size(315, 85);
        const QRectF corners[] = {
            QRectF(QPointF(plot.right() - 15 - size.width(), plot.bottom() - 15 - size.height()), size),
            QRectF(QPointF(plot.right() - 15 - size.width(), plot.top() + 15), size),
            QRectF(QPointF(plot.left() + 15, plot.top() + 15), size),
            QRectF(QPointF(plot.left() + 15, plot.bottom() - 15 - size.height()), size),
        };
        QRectF legend = corners[0];
        for (const QRectF &corner : corners) {
            const QRectF margin = corner.adjusted(-12, -12, 12, 12);
            if (std::none_of(drawn.begin(), drawn.end(), [&](const QPointF &d) { return margin.contains(d); })) {
                legend = corner;
                break;
            }
        }
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawRect(legend);
        const QPointF at(legend.left() + 15, legend.top() + 25);
        p.setPen(QPen(Qt::black, 2));
        drawMarker(p, at + QPointF(20, 0), panel.marker, panel.filled, 16);
        p.drawText(QRectF(at.x() + 50, at.y() - 15, 250, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("simulation"));
        p.setPen(QPen(Qt::black, 2.5));
        p.drawLine(at + QPointF(0, 36), at + QPointF(40, 36));
        p.setPen(Qt::black);
        p.drawText(QRectF(at.x() + 50, at.y() + 21, 250, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("exact, 20 \u00d7 20 torus"));
    }
}

} // namespace

void renderPlot(QPainter &p, const QRectF &target, const PlotData &data)
{
    p.save();
    // Fit the figure's own coordinates into the target, keeping its shape.
    const double scale = std::min(target.width() / Width, target.height() / Height);
    p.translate(target.center().x() - Width * scale / 2, target.center().y() - Height * scale / 2);
    p.scale(scale, scale);
    p.fillRect(QRectF(0, 0, Width, Height), Qt::white);

    double tLo = INFINITY, tHi = -INFINITY;
    for (const PlotPoint &pt : data.points) {
        tLo = std::min(tLo, pt.temperature);
        tHi = std::max(tHi, pt.temperature);
    }
    if (!(tLo < tHi)) {
        const double t = std::isfinite(tLo) ? tLo : 1;
        tLo = t * 0.9;
        tHi = t * 1.1;
    }
    const double margin = (tHi - tLo) * 0.04;
    tLo = std::max(0.0, tLo - margin);
    tHi += margin;

    const Panel panels[4] = {
        {QStringLiteral("energy per site E/N"), [](const Results &r) { return r.energy; }, Marker::Circle, false,
         [](double T) { return exactEnergy(Side, Side, T); }},
        {QStringLiteral("magnetization per site \u27e8|m|\u27e9"), [](const Results &r) { return r.absMag; },
         Marker::Square, true, {}},
        {QStringLiteral("specific heat per site C/N"), [](const Results &r) { return r.specificHeat; },
         Marker::Triangle, false, exactSpecificHeat},
        {QStringLiteral("susceptibility per site \u03c7/N"), [](const Results &r) { return r.susceptibility; },
         Marker::Diamond, true, {}},
    };
    QFont font = p.font();
    font.setPixelSize(24);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(0, 8, Width, 36), Qt::AlignCenter, data.caption);
    const double top = 50, w = Width / 2, h = (Height - top) / 2;
    for (int q = 0; q < 4; ++q)
        drawPanel(p, QRectF((q % 2) * w, top + (q / 2) * h, w, h), panels[q], data, tLo, tHi,
                  panels[q].exact && data.exactCurve);
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
    const QRectF all(0, 0, Width, Height);
    bool ok = true;
    if (ext == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&figure);
        svg.setSize(QSize(int(Width), int(Height)));
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
        QImage image(int(Width), int(Height), QImage::Format_RGB32);
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
