// Ten million ticks through the real tick path, across page ends resumed
// with Go, with clears and a reset in between: the counters, the page labels
// and the totals stay exactly what the rules give, and memory does not grow.
// FERRO_SOAK_TICKS sets another length (the sanitizer build runs a shorter one).

#include "windowfixture.h"

#include "cellarray.h"
#include "drawingsurface.h"

#include <QFile>
#include <QTest>

using namespace ferro;

namespace {

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
    WindowFixture f;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void tenMillionTicks()
    {
        const qint64 total = qEnvironmentVariableIsSet("FERRO_SOAK_TICKS")
            ? qEnvironmentVariable("FERRO_SOAK_TICKS").toLongLong()
            : 10'000'000;
        Ising &w = *f.w;
        const RunRecord &r = w.run().record();
        auto *cells = f.find<CellArray>(&w, "Shape1");
        auto *chart = f.find<DrawingSurface>(&w, "picMag");
        f.click("cmdRandom");
        f.choose("mnuClearChart");
        f.box("txtTemp")->setText("2.27");
        f.click("cmdGoToTemp");

        qint64 page = 0;       // ticks of the current page
        qint64 sinceClear = 0; // ticks since the last clear
        int pageEnds = 0;
        long rssAfterSecondPage = -1;
        for (qint64 n = 1; n <= total; ++n) {
            w.tmrTime_Timer();
            ++sinceClear;
            if (++page == PageTicks) { // the tick after Go opens the next page
                page = 0;
                QCOMPARE(r.axisLabelText(0), std::to_string(sinceClear / TicksPerStep));
            }
            QCOMPARE(r.time.value(), page);
            QCOMPARE(r.labels.value(), sinceClear);
            if (page == LastPageTick) {
                QVERIFY(!w.timersEnabled());
                // The grid and at most a point per step; the last at x = 3999.
                QVERIFY(chart->operations().size() <= size_t(12 + 4000));
                QCOMPARE(chart->operations().back().a.x(), 3999 * chart->width() / 4004.0);
                if (++pageEnds == 2)
                    rssAfterSecondPage = residentKilobytes();
                f.click("cmdRestart");
            }
            if (n % 997 == 0) {
                Lattice recount = w.run().lattice();
                recount.recount();
                QCOMPARE(recount.Energy, w.run().lattice().Energy);
                const int k = int(n % Sites);
                QCOMPARE(cells->BackColor(k), colourOfSpin(w.run().lattice().spinOfCell(k)));
            }
            if (n == total / 3) { // a clear in mid-page
                f.choose("mnuClearChart");
                f.click("cmdRestart");
                page = sinceClear = 0;
            }
            if (n == 2 * total / 3) { // a reset, a new lattice and Go to T
                f.choose("mnuSnapshot");
                f.choose("mnuReset");
                f.click("cmdRandom");
                f.box("txtTemp")->setText("1.8");
                f.click("cmdGoToTemp");
                page = sinceClear = 0;
            }
        }
        QVERIFY(total < 4 * PageTicks || pageEnds >= 3);
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer holds freed memory back in quarantine: resident
        // memory says nothing about our own growth there.
        rssAfterSecondPage = -1;
#endif
        if (rssAfterSecondPage > 0) {
            const long growth = residentKilobytes() - rssAfterSecondPage;
            qInfo("resident memory after the second page end: %ld kB, growth since: %ld kB", rssAfterSecondPage,
                  growth);
            QVERIFY2(growth < 8 * 1024, qPrintable(QString("grew by %1 kB").arg(growth)));
        }
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
