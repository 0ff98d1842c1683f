// The batch program's figure as it is rendered: no text over the data, each
// size's points on its own exact curves, every size in the xi/L panel; where
// U and xi/L of successive sizes cross, and the list of the crossings the
// batch program draws; the figure's data read back from a saved table.
#include "analysis/exactenergy.h"
#include "figures/plot.h"
#include "figures/tableplot.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

using namespace ferro;
using namespace ferro::batch;

namespace {

const double Tc = 2 / std::log(1 + std::numbers::sqrt2);

// Measurements of an L x L torus as a run would give them: the exact energy
// and specific heat, and |m|, chi' and U of plausible finite-size shapes in
// x = (T - Tc) L, each off by a fraction of its error.
PlotPoint synthetic(int L, double T)
{
    const double x = (T - Tc) * L, wobble = std::sin(977 * T + 31 * L);
    const auto measured = [&](double mean, double error) { return Measured {mean + 0.7 * wobble * error, error}; };
    const double mInf = T < Tc ? std::pow(1 - std::pow(std::sinh(2 / T), -4), 0.125) : 0;
    const double m = std::pow(std::pow(mInf, 8) + std::pow(L, -1.0) / (1 + std::exp(1.5 * x)), 0.125);
    const double chi = 0.04 * std::pow(L, 1.75) / (1 + 0.4 * (x - 1) * (x - 1));
    const double u = (2.0 / 3) / (1 + 0.093 * std::exp(1.2 * (x - 0.5 / L)));
    const double xi = 1.81 / (1 + std::exp(0.9 * (x + 0.4 / L)));
    return {L,
            T,
            measured(exactEnergy(L, L, T), 0.002),
            measured(m, 0.004),
            measured(exactSpecificHeat(L, L, T), 0.03),
            measured(chi, 0.03 * chi),
            measured(u, 0.005),
            measured(xi, 0.01)};
}

PlotData syntheticRun(const QList<int> &sizes, double from, double to, double step)
{
    PlotData data;
    data.uniformFactor = 1.0;
    for (int L : sizes)
        for (double T = from; T <= to + step / 2; T += step)
            data.points.push_back(synthetic(L, T));
    data.caption = QStringLiteral("Ferrogrid, synthetic run");
    return data;
}

QImage rendered(const PlotData &data, unsigned layers)
{
    QImage image(plotSize(data).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    renderPlot(p, QRectF(image.rect()), data, layers);
    return image;
}

bool ink(const QImage &image, int x, int y)
{
    return (image.pixel(x, y) & 0xffffff) != 0xffffff;
}

int inkCount(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += ink(image, x, y);
    return n;
}

// The bounding boxes of the connected blots of ink (8-neighbours).
QList<QRect> blots(const QImage &image)
{
    QList<QRect> out;
    std::vector<char> seen(std::size_t(image.width()) * image.height());
    for (int y0 = 0; y0 < image.height(); ++y0)
        for (int x0 = 0; x0 < image.width(); ++x0) {
            if (seen[std::size_t(y0) * image.width() + x0] || !ink(image, x0, y0))
                continue;
            QRect box(x0, y0, 1, 1);
            std::vector<QPoint> stack {{x0, y0}};
            seen[std::size_t(y0) * image.width() + x0] = 1;
            while (!stack.empty()) {
                const QPoint q = stack.back();
                stack.pop_back();
                box |= QRect(q, QSize(1, 1));
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int x = q.x() + dx, y = q.y() + dy;
                        if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
                            continue;
                        char &s = seen[std::size_t(y) * image.width() + x];
                        if (!s && ink(image, x, y)) {
                            s = 1;
                            stack.push_back({x, y});
                        }
                    }
            }
            out << box;
        }
    return out;
}

// The lines of text of an SVG figure, in the order written: the text items
// on one baseline joined (a line in two fonts is written in two items).
QStringList svgLines(const QByteArray &svg)
{
    QStringList lines;
    QString y;
    QXmlStreamReader xml(svg);
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement() || xml.name() != QLatin1String("text"))
            continue;
        const QString at = xml.attributes().value(QLatin1String("y")).toString();
        const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        if (at == y && !lines.isEmpty())
            lines.last() += text;
        else
            lines << text;
        y = at;
    }
    return lines;
}

// The list's line of a pair, "U, L = 8 and 16:  T = 2.2550 ± 0.0065": its
// temperature and error, and half a unit of their last digit; none when the
// figure has no such line or it does not give a temperature.
struct Listed {
    double temperature, error, rounding;
};

std::optional<Listed> listed(const QStringList &lines, const QString &quantity, int smaller, int larger)
{
    const QString head = QStringLiteral("%1, L = %2 and %3:").arg(quantity).arg(smaller).arg(larger);
    for (const QString &line : lines) {
        if (!line.startsWith(head))
            continue;
        static const QRegularExpression number(QStringLiteral("T = ([0-9.]+) \u00b1 ([0-9.]+)$"));
        const QRegularExpressionMatch m = number.match(line);
        if (!m.hasMatch())
            return std::nullopt;
        const qsizetype point = m.captured(1).indexOf(u'.');
        const qsizetype digits = point < 0 ? 0 : m.captured(1).size() - point - 1;
        return Listed {m.captured(1).toDouble(), m.captured(2).toDouble(), 0.5 * std::pow(10.0, -double(digits))};
    }
    return std::nullopt;
}

// Cumulants on lines U(T) = a + b T for each size, on a grid of temperatures.
struct Line {
    int size;
    double a, b;
    QList<double> temperatures;
};

// The k-th temperature of each line has the error `error` times 1, 2, 3, 1,
// 2, 3, ...
std::vector<PlotPoint> onLines(const QList<Line> &lines, double error)
{
    std::vector<PlotPoint> points;
    for (const Line &l : lines)
        for (qsizetype k = 0; k < l.temperatures.size(); ++k) {
            PlotPoint p;
            p.size = l.size;
            p.temperature = l.temperatures[k];
            p.binder = {l.a + l.b * p.temperature, error * (1 + k % 3)};
            points.push_back(p);
        }
    return points;
}

QList<double> grid(double from, double to, double step)
{
    QList<double> out;
    for (int k = 0; from + k * step <= to + step / 2; ++k)
        out << from + k * step;
    return out;
}

// The line of slope b through (T, U).
Line through(int size, double T, double U, double b, const QList<double> &temperatures)
{
    return {size, U - b * T, b, temperatures};
}

} // namespace

Q_DECLARE_METATYPE(QList<Line>)
Q_DECLARE_METATYPE(PlotData)

class TestPlot : public QObject {
    Q_OBJECT
private slots:
    // Where the cumulants of successive sizes cross, by linear interpolation
    // between the shared temperatures that bracket the change of sign.
    void binderCrossings_data()
    {
        QTest::addColumn<QList<Line>>("lines");
        QTest::addColumn<QList<double>>("expected"); // smaller, larger, temperature; ... per crossing
        QTest::addColumn<double>("error");          // of the first crossing when > 0, worked out by hand
        const QList<double> g = grid(2.1, 2.45, 0.05);
        QTest::newRow("lines-cross-between-grid-temperatures")
            << QList<Line> {through(8, 2.27, 0.6, -0.5, g), through(16, 2.27, 0.6, -1.0, g)}
            << QList<double> {8, 16, 2.27} << 0.0;
        // d = U16 - U8 is +0.01 at 2.25 and -0.01 at 2.30: a cumulant's
        // error e moves the crossing by 0.05 e / 0.04; two cumulants have
        // e = 0.005 (at 2.25), two e = 0.01 (at 2.30).
        QTest::newRow("symmetric-crossing-error")
            << QList<Line> {through(8, 2.275, 0.6, -0.2, g), through(16, 2.275, 0.6, -0.6, g)}
            << QList<double> {8, 16, 2.275} << 0.05 / 0.04 * std::sqrt(2 * (0.005 * 0.005 + 0.01 * 0.01));
        QTest::newRow("crossing-on-a-grid-temperature")
            << QList<Line> {through(8, 2.25, 0.6, -0.5, g), through(16, 2.25, 0.6, -1.0, g)}
            << QList<double> {8, 16, 2.25} << 0.0;
        QTest::newRow("parallel-no-crossing")
            << QList<Line> {through(8, 2.27, 0.6, -1.0, g), through(16, 2.27, 0.62, -1.0, g)} << QList<double> {}
            << 0.0;
        QTest::newRow("crossing-beyond-the-grid")
            << QList<Line> {through(8, 2.6, 0.6, -0.5, g), through(16, 2.6, 0.6, -1.0, g)} << QList<double> {}
            << 0.0;
        QTest::newRow("three-sizes-out-of-order")
            << QList<Line> {through(32, 2.26, 0.61, -2.0, g), through(8, 2.27, 0.6, -0.5, g),
                            through(16, 2.27, 0.6, -1.0, g)}
            << QList<double> {8, 16, 2.27, 16, 32, 2.26} << 0.0;
        // 16 has every other temperature only: the pairs are matched by
        // temperature, and the bracket is 2.2 .. 2.3.
        QTest::newRow("only-shared-temperatures")
            << QList<Line> {through(8, 2.27, 0.6, -0.5, g), through(16, 2.27, 0.6, -1.0, grid(2.1, 2.45, 0.1))}
            << QList<double> {8, 16, 2.27} << 0.0;
    }
    void binderCrossings()
    {
        QFETCH(QList<Line>, lines);
        QFETCH(QList<double>, expected);
        QFETCH(double, error);
        constexpr double Sigma = 0.005;
        const std::vector<PlotPoint> points = onLines(lines, Sigma);
        const std::vector<Crossing> found = linearCrossings(points, &PlotPoint::binder);
        QCOMPARE(qsizetype(found.size()), expected.size() / 3);
        for (std::size_t k = 0; k < found.size(); ++k) {
            QCOMPARE(found[k].smaller, int(expected[3 * k]));
            QCOMPARE(found[k].larger, int(expected[3 * k + 1]));
            QVERIFY2(std::fabs(found[k].temperature - expected[3 * k + 2]) < 1e-9,
                     qPrintable(QString::number(found[k].temperature, 'g', 12)));
            // The error is the quadrature sum of the shifts that each
            // cumulant's error causes (to first order: a small fraction of it).
            double variance = 0;
            for (std::size_t i = 0; i < points.size(); ++i) {
                std::vector<PlotPoint> moved = points;
                moved[i].binder.mean += 1e-4 * points[i].binder.error;
                const std::vector<Crossing> again = linearCrossings(moved, &PlotPoint::binder);
                QCOMPARE(again.size(), found.size());
                variance += std::pow((again[k].temperature - found[k].temperature) / 1e-4, 2);
            }
            QVERIFY2(std::fabs(found[k].error - std::sqrt(variance)) < 1e-3 * std::sqrt(variance),
                     qPrintable(QStringLiteral("%1 against %2").arg(found[k].error).arg(std::sqrt(variance))));
            if (k == 0 && error > 0)
                QVERIFY2(std::fabs(found[k].error - error) < 1e-9 * error, qPrintable(QString::number(found[k].error)));
        }
    }

    // No text (caption, legend, titles, tick labels, the list of crossings)
    // puts ink where the data (points, error bars, curves, crossing marks)
    // put ink.
    void textCoversNoData_data()
    {
        QTest::addColumn<PlotData>("data");
        // A run of 20 x 20 at 1.6:3.2:0.4 (seed 1, 20000 sweeps): the points
        // at 2.8 and 3.2 lie in the specific heat panel's top right.
        PlotData today;
        today.uniformFactor = 1.0;
        today.caption = QStringLiteral("Ferrogrid, 20 \u00d7 20 torus, 1000 + 20000 sweeps, seed 1");
        const double run[5][9] = {
            {1.6, -1.92897, 0.00057, 0.97992, 0.00019, 0.26140, 0.0045, 0.04209, 0.0013},
            {2.0, -1.74758, 0.00199, 0.91191, 0.00177, 0.73142, 0.0243, 0.42478, 0.0874},
            {2.4, -1.22756, 0.00665, 0.43426, 0.01537, 1.30837, 0.0494, 8.52841, 0.3206},
            {2.8, -0.91038, 0.00195, 0.17481, 0.00412, 0.54416, 0.0105, 2.30573, 0.1048},
            {3.2, -0.74641, 0.00111, 0.11685, 0.00170, 0.31403, 0.0045, 0.95661, 0.0273},
        };
        for (const auto &r : run)
            today.points.push_back({20, r[0], {r[1], r[2]}, {r[3], r[4]}, {r[5], r[6]}, {r[7], r[8]}, {}, {}});
        QTest::newRow("one-size-1.6-to-3.2-step-0.4") << today;
        QTest::newRow("three-sizes-binder") << syntheticRun({8, 16, 32}, 2.1, 2.45, 0.025);
        PlotData wide = syntheticRun({4, 8, 16, 32, 64, 128}, 1.5, 3.5, 0.25);
        wide.uniformFactor.reset();
        QTest::newRow("six-sizes-wide-range-no-exact") << wide;
        // With the reweighted curves, their peaks and crossings, listed in a
        // row under U and xi/L.
        PlotData curves = syntheticRun({8, 16, 32}, 2.1, 2.45, 0.025);
        for (int L : {8, 16, 32})
            for (double T = 2.08; T <= 2.47; T += 0.002)
                curves.curves.push_back(synthetic(L, T));
        for (const bool xi : {false, true})
            for (const Crossing &c : linearCrossings(curves.points, xi ? &PlotPoint::lengthOverSize : &PlotPoint::binder))
                curves.crossings.push_back({xi, c.smaller, c.larger, {c.temperature, c.error}, {0.6, 0.01}});
        curves.peaks.push_back({32, false, {2.29, 0.003}, {1.9, 0.03}});
        QTest::newRow("three-sizes-reweighted") << curves;
        // U or xi/L alone: the list beside its panel.
        PlotData binder = syntheticRun({8, 16, 32, 64}, 2.1, 2.45, 0.025), length = binder;
        for (PlotPoint &p : binder.points)
            p.lengthOverSize = {};
        for (PlotPoint &p : length.points)
            p.binder = {};
        QTest::newRow("four-sizes-binder-alone") << binder;
        QTest::newRow("four-sizes-length-alone") << length;
    }
    void textCoversNoData()
    {
        QFETCH(PlotData, data);
        const QImage drawn = rendered(data, PlotPoints | PlotCurves), text = rendered(data, PlotText);
        QVERIFY(inkCount(drawn) > 2000);
        QVERIFY(inkCount(text) > 10000);
        QList<QPoint> both;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                if (ink(drawn, x, y) && ink(text, x, y))
                    both << QPoint(x, y);
        if (!both.isEmpty()) {
            const QString name = QDir::temp().filePath(QStringLiteral("tst_plot-%1.png").arg(QTest::currentDataTag()));
            rendered(data, PlotAll).save(name);
            QFAIL(qPrintable(QStringLiteral("%1 pixels of text cover data, first at (%2, %3); the figure: %4")
                                 .arg(both.size()).arg(both[0].x()).arg(both[0].y()).arg(name)));
        }
    }

    // Each size's points, measured exactly, lie on the exact curves drawn:
    // every marker touches a curve, with the factor of the run.
    void pointsLieOnTheirSizesCurves_data()
    {
        QTest::addColumn<double>("factor");
        QTest::newRow("factor-1") << 1.0;
        QTest::newRow("factor-2") << 2.0;
    }
    void pointsLieOnTheirSizesCurves()
    {
        QFETCH(double, factor);
        PlotData data;
        data.uniformFactor = factor;
        for (int L : {4, 32})
            for (double T = 1.9; T <= 2.75; T += 0.05) {
                PlotPoint p;
                p.size = L;
                p.temperature = T / factor;
                p.energy.mean = exactEnergy(L, L, T);
                p.specificHeat.mean = exactSpecificHeat(L, L, T);
                data.points.push_back(p);
            }
        const QImage markers = rendered(data, PlotPoints), curves = rendered(data, PlotCurves);
        const QList<QRect> marks = blots(markers);
        QVERIFY(marks.size() > 30);
        for (const QRect &mark : marks) {
            bool touches = false;
            for (int y = mark.top(); y <= mark.bottom() && !touches; ++y)
                for (int x = mark.left(); x <= mark.right() && !touches; ++x)
                    touches = ink(curves, x, y);
            QVERIFY2(touches, qPrintable(QStringLiteral("the marker at (%1, %2) is off every curve")
                                             .arg(mark.center().x()).arg(mark.center().y())));
        }
    }

    // Without exact curves, the reweighted ones pass through the markers
    // of every panel, and a gap in them is left open: the curve drawn with
    // a gap has less ink than the same curve whole, by about the gap.
    void reweightedCurvesThroughMarkers()
    {
        PlotData data;
        const auto value = [](double T) { return std::tanh(4 * (T - 2.4)); };
        for (double T = 2.0; T <= 2.81; T += 0.1) {
            PlotPoint p;
            p.size = 16;
            p.temperature = T;
            p.energy.mean = p.absMag.mean = p.specificHeat.mean = p.susceptibility.mean = p.binder.mean = value(T);
            data.points.push_back(p);
        }
        PlotData whole = data;
        for (int k = 2000; k <= 2800; ++k) {
            PlotPoint c;
            c.size = 16;
            c.temperature = k / 1000.0;
            c.energy.mean = c.absMag.mean = c.specificHeat.mean = c.susceptibility.mean = c.binder.mean = value(c.temperature);
            whole.curves.push_back(c);
            if (k > 2210 && k < 2590)
                c.energy.mean = c.absMag.mean = c.specificHeat.mean = c.susceptibility.mean = c.binder.mean = NAN;
            data.curves.push_back(c);
        }
        const QImage markers = rendered(whole, PlotPoints), curves = rendered(whole, PlotCurves);
        const QList<QRect> marks = blots(markers);
        QVERIFY(marks.size() >= 45);
        for (const QRect &mark : marks) {
            bool touches = false;
            for (int y = mark.top(); y <= mark.bottom() && !touches; ++y)
                for (int x = mark.left(); x <= mark.right() && !touches; ++x)
                    touches = ink(curves, x, y);
            QVERIFY2(touches, qPrintable(QStringLiteral("the marker at (%1, %2) is off the reweighted curve")
                                             .arg(mark.center().x()).arg(mark.center().y())));
        }
        const int full = inkCount(curves), gapped = inkCount(rendered(data, PlotCurves));
        QVERIFY2(gapped < 0.75 * full, qPrintable(QStringLiteral("%1 of %2").arg(gapped).arg(full)));
    }

    // The xi/L panel of a saved table draws every size's markers where the
    // U panel draws them for the same values: the xi/L panel of a table
    // (whose xi, L times xi/L, differs, as do its cumulants) and the U panel
    // of a table whose cumulants are that xi/L are alike, pixel for pixel,
    // each with a marker for every row.
    void lengthOverSizePanelShowsEverySize_data()
    {
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("three-sizes") << QList<int> {8, 16, 32};
        QTest::newRow("six-sizes") << QList<int> {4, 8, 16, 32, 64, 128};
        QTest::newRow("one-size") << QList<int> {20};
    }
    void lengthOverSizePanelShowsEverySize()
    {
        QFETCH(QList<int>, sizes);
        constexpr int Temperatures = 6;
        // The figure of a table of xi/L v and cumulant u(v) on parallel
        // rows, far enough apart that no markers touch.
        const auto figure = [&](const std::function<double(double)> &u) {
            QByteArray table = "temperature,sweeps,seed,energy,energy_error,abs_magnetization,abs_magnetization_error,"
                               "specific_heat,specific_heat_error,susceptibility,susceptibility_error,acceptance,"
                               "acceptance_error,energy_autocorrelation_time,size,binder_cumulant,binder_cumulant_error,"
                               "correlation_length,correlation_length_error,correlation_length_over_size,"
                               "correlation_length_over_size_error\n";
            for (qsizetype i = 0; i < sizes.size(); ++i)
                for (int k = 0; k < Temperatures; ++k) {
                    const double v = 0.2 + 0.15 * double(i) + 0.02 * k, T = 2.0 + 0.1 * k;
                    table += QStringLiteral("%1,1000,1,-1.2,0.01,0.5,0.01,1.1,0.05,3,0.2,0.3,0.001,2.5,%2,%3,0.01,%4,%5,%6,0.01\n")
                                 .arg(T).arg(sizes[i]).arg(u(v)).arg(v * sizes[i]).arg(0.01 * sizes[i]).arg(v).toUtf8();
                }
            TableReader reader = TableReader::ofText("t.csv", table.toStdString());
            const TablePlot plot = readTablePlot(reader, {});
            if (!plot.error.empty())
                qWarning("%s", plot.error.c_str());
            return plot.data;
        };
        const PlotData same = figure([](double v) { return v; }), other = figure([](double v) { return 1.4 - v; });
        // The panels' frames, in reading order: U and xi/L are the last two.
        QList<QRect> frames = blots(rendered(other, PlotFrame));
        frames.removeIf([](const QRect &r) { return r.width() < 200 || r.height() < 200; }); // dots of the grid
        std::sort(frames.begin(), frames.end(), [](const QRect &a, const QRect &b) {
            return std::pair(a.top() / 10, a.left()) < std::pair(b.top() / 10, b.left());
        });
        QCOMPARE(frames.size(), 6);
        const QRect u = frames[4], xi = frames[5];
        QCOMPARE(u.size(), xi.size());
        const QImage uPanel = rendered(same, PlotPoints).copy(u), xiPanel = rendered(other, PlotPoints).copy(xi);
        QCOMPARE(blots(xiPanel).size(), sizes.size() * Temperatures);
        if (uPanel != xiPanel) {
            const QString name = QDir::temp().filePath(QStringLiteral("tst_plot-%1.png").arg(QTest::currentDataTag()));
            rendered(other, PlotAll).save(name);
            QFAIL(qPrintable(QStringLiteral("the xi/L panel differs from the U panel of its values; the figure: %1").arg(name)));
        }
    }

    // The list of the figure the batch program draws gives the crossings of
    // the reweighted curves, the numbers of the --peaks file, when the run
    // made them; else those by straight lines: of U the numbers it prints,
    // of xi/L those of its table's xi/L.
    void listGivesTheRunsCrossings_data()
    {
        QTest::addColumn<bool>("reweighted");
        QTest::newRow("with-curves") << true;
        QTest::newRow("without-curves") << false;
    }
    void listGivesTheRunsCrossings()
    {
        QFETCH(bool, reweighted);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QStringList args {"--algorithm", "wolff", "--size", "8,16,32", "--temperatures", "2.15:2.4:0.05",
                          "--sweeps", "2000", "--seed", "3", "--output", dir.filePath("t.csv"),
                          "--plot", dir.filePath("f.svg")};
        if (reweighted)
            args << "--peaks" << dir.filePath("p.csv");
        QProcess batch;
        batch.start(QStringLiteral(FERROGRID_BATCH), args);
        QVERIFY(batch.waitForFinished(120000));
        const QString err = QString::fromUtf8(batch.readAllStandardError());
        QCOMPARE(batch.exitCode(), 0);
        QFile svg(dir.filePath("f.svg"));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QStringList lines = svgLines(svg.readAll());
        QVERIFY2(lines.contains(reweighted ? QStringLiteral("on the reweighted curves:")
                                           : QStringLiteral("linear between grid temperatures:")),
                 qPrintable(lines.join(u'\n')));

        // What the run says, by quantity and pair: (U or xi/L, smaller, larger, T, error).
        struct Said {
            QString quantity;
            int smaller, larger;
            double temperature, error;
        };
        QList<Said> said;
        if (reweighted) {
            QFile peaks(dir.filePath("p.csv"));
            QVERIFY(peaks.open(QIODevice::ReadOnly | QIODevice::Text));
            const QStringList head = QString::fromUtf8(peaks.readLine()).trimmed().split(u',');
            while (!peaks.atEnd()) {
                const QStringList row = QString::fromUtf8(peaks.readLine()).trimmed().split(u',');
                const QString q = row[head.indexOf("quantity")];
                if (!q.endsWith(QLatin1String("_crossing")))
                    continue;
                said.push_back({q == QLatin1String("binder_crossing") ? QStringLiteral("U") : QStringLiteral("\u03be/L"),
                                row[head.indexOf("size")].toInt(), row[head.indexOf("size2")].toInt(),
                                row[head.indexOf("temperature")].toDouble(),
                                row[head.indexOf("temperature_error")].toDouble()});
            }
            QCOMPARE(said.size(), 4); // U and xi/L of 8/16 and 16/32
        } else {
            static const QRegularExpression line(
                QStringLiteral("of L = (\\d+) and (\\d+) cross at T = ([0-9.]+) \\+- ([0-9.]+)"));
            for (auto m = line.globalMatch(err); m.hasNext();) {
                const QRegularExpressionMatch c = m.next();
                said.push_back({QStringLiteral("U"), c.captured(1).toInt(), c.captured(2).toInt(),
                                c.captured(3).toDouble(), c.captured(4).toDouble()});
            }
            QCOMPARE(said.size(), 2);
            // Of xi/L nothing is printed: those of the points the table holds.
            TableReader table = TableReader::openFile(dir.filePath("t.csv").toStdString());
            const TablePlot read = readTablePlot(table, {});
            for (const Crossing &c : linearCrossings(read.data.points, &PlotPoint::lengthOverSize))
                said.push_back({QStringLiteral("\u03be/L"), c.smaller, c.larger, c.temperature, c.error});
            QCOMPARE(said.size(), 4);
        }
        for (const Said &s : said) {
            const std::optional<Listed> l = listed(lines, s.quantity, s.smaller, s.larger);
            const QString what = QStringLiteral("%1, L = %2 and %3: T = %4 +- %5 said; listed: %6")
                                     .arg(s.quantity).arg(s.smaller).arg(s.larger).arg(s.temperature).arg(s.error)
                                     .arg(l ? QStringLiteral("%1 +- %2").arg(l->temperature).arg(l->error)
                                            : QStringLiteral("none"));
            QVERIFY2(l, qPrintable(what));
            // The list rounds to two digits of the error; the run's own
            // numbers may be rounded already.
            QVERIFY2(std::fabs(l->temperature - s.temperature) <= l->rounding * 1.001 + 5e-7, qPrintable(what));
            QVERIFY2(std::fabs(l->error - s.error) <= l->rounding * 1.001 + 0.005 * s.error, qPrintable(what));
        }
    }

    // A saved table read back: sizes, cumulants, the factor of the exact
    // curves and the caption.
    void readsTable_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QList<int>>("sizes");        // of the rows in order
        QTest::addColumn<QList<double>>("binder");    // of the rows in order, NaN: not measured
        QTest::addColumn<double>("factor");           // NaN: no exact curves
        QTest::addColumn<QString>("caption");
        const QByteArray head = "temperature,sweeps,seed,energy,energy_error,abs_magnetization,"
                                "abs_magnetization_error,specific_heat,specific_heat_error,susceptibility,"
                                "susceptibility_error,acceptance,acceptance_error,energy_autocorrelation_time";
        const QByteArray values = ",-1.2,0.01,0.5,0.01,1.1,0.05,3,0.2,0.3,0.001,2.5";
        const auto exact = [](int L, double T) { return QByteArray::number(exactEnergy(L, L, T), 'g', 17); };
        const QByteArray multi = head + ",size,binder_cumulant,binder_cumulant_error,exact_energy,factors,algorithm,"
                                        "equilibrate,point,points\n"
            + "2.2,1000,5" + values + ",8,0.61,0.004," + exact(8, 2.2) + ",,wolff,100,0,4\n"
            + "2.3,1000,5" + values + ",8,0.58,0.004," + exact(8, 2.3) + ",,wolff,100,1,4\n"
            + "2.2,1000,5" + values + ",16,0.63,0.004," + exact(16, 2.2) + ",,wolff,100,2,4\n"
            + "2.3,1000,5" + values + ",16,0.55,0.004," + exact(16, 2.3) + ",,wolff,100,3,4\n";
        QTest::newRow("two-sizes-binder-wolff")
            << multi << QList<int> {8, 8, 16, 16} << QList<double> {0.61, 0.58, 0.63, 0.55} << 1.0
            << QStringLiteral("Ferrogrid, L \u00d7 L tori, L = 8, 16, Wolff, 100 + 1000 sweeps, seed 5");
        const double nan = std::nan("");
        QTest::newRow("no-size-no-binder-columns")
            << head + ",exact_energy,point,points\n2.25,1000,7" + values + "," + exact(20, 2.25) + ",0,1\n"
            << QList<int> {20} << QList<double> {nan} << 1.0
            << QStringLiteral("Ferrogrid, 20 \u00d7 20 torus, 1000 sweeps, seed 7");
        // Every factor 2: the exact energies are those at 2T.
        QTest::newRow("factor-file-every-factor-2")
            << head + ",size,exact_energy,factors,point,points\n"
                   + "1.1,1000,7" + values + ",12," + exact(12, 2.2) + ",two.txt,0,2\n"
                   + "1.2,1000,7" + values + ",12," + exact(12, 2.4) + ",two.txt,1,2\n"
            << QList<int> {12, 12} << QList<double> {nan, nan} << 2.0
            << QStringLiteral("Ferrogrid, 12 \u00d7 12 torus, 1000 sweeps, seed 7, factors from two.txt");
        QTest::newRow("share-lacking-points")
            << head + ",size,exact_energy,point,points\n" + "2.2,1000,5" + values + ",8," + exact(8, 2.2) + ",3,5\n"
                   + "2.3,1000,5" + values + ",8," + exact(8, 2.3) + ",0,5\n"
            << QList<int> {8, 8} << QList<double> {nan, nan} << 1.0
            << QStringLiteral("Ferrogrid, 8 \u00d7 8 torus, 1000 sweeps, seed 5, 3 of 5 points missing");
        QTest::newRow("factors-differ")
            << head + ",size,exact_energy,factors,point,points\n"
                   + "1.1,1000,7" + values + ",12,,grad.txt,0,1\n"
            << QList<int> {12} << QList<double> {nan} << nan
            << QStringLiteral("Ferrogrid, 12 \u00d7 12 torus, 1000 sweeps, seed 7, factors from grad.txt");
    }
    void readsTable()
    {
        QFETCH(QByteArray, table);
        QFETCH(QList<int>, sizes);
        QFETCH(QList<double>, binder);
        QFETCH(double, factor);
        QFETCH(QString, caption);
        TableReader reader = TableReader::ofText("t.csv", table.toStdString());
        const TablePlot read = readTablePlot(reader, {});
        QCOMPARE(QString::fromStdString(read.error), QString());
        QCOMPARE(qsizetype(read.data.points.size()), sizes.size());
        for (qsizetype k = 0; k < sizes.size(); ++k) {
            QCOMPARE(read.data.points[k].size, sizes[k]);
            const double u = read.data.points[k].binder.mean;
            QVERIFY(std::isnan(binder[k]) ? std::isnan(u) : u == binder[k]);
        }
        QCOMPARE(read.data.uniformFactor.has_value(), !std::isnan(factor));
        if (read.data.uniformFactor)
            QCOMPARE(*read.data.uniformFactor, factor);
        QCOMPARE(read.data.caption, caption);
    }
};

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
