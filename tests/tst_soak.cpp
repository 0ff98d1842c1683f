// Ten million ticks through the real tick path, across page ends resumed
// with Go, with clears and a reset in between: the counters, the page labels
// and the totals stay exactly what the rules give, and memory does not grow.
// FERRO_SOAK_TICKS sets another length (the sanitizer build runs a shorter one).

#include "windowfixture.h"

#include <QElapsedTimer>
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
        w.show();
        w.cmdRandom_Click();
        w.txtTemp->setText("2.27");
        w.ClearChart();
        w.txtTemp->setText("2.27");
        w.cmdGoToTemp_Click();

        qint64 page = 0;     // ticks of the current page
        qint64 sinceClear = 0; // ticks since the last clear
        int pageEnds = 0;
        long rssAfterSecondPage = -1;
        QElapsedTimer frame;
        frame.start();
        for (qint64 n = 1; n <= total; ++n) {
            w.tmrTime_Timer();
            ++sinceClear;
            ++page;
            if (page == PageTicks) { // the tick after Go opens the next page
                page = 0;
                QCOMPARE(w.sim.record.axisLabelText(0), std::to_string(sinceClear / TicksPerStep));
            }
            QCOMPARE(w.sim.record.time.value(), page);
            QCOMPARE(w.sim.record.labels.value(), sinceClear);
            if (page == LastPageTick) {
                QVERIFY(!w.sim.record.go);
                QVERIFY(!w.timersEnabled());
                // The grid and at most a point per step; the last at x = 3999.
                QVERIFY(w.picMag->operations().size() <= size_t(12 + 4000));
                QCOMPARE(w.picMag->operations().back().a.x(), 3999 * w.picMag->width() / 4004.0);
                if (++pageEnds == 2)
                    rssAfterSecondPage = residentKilobytes();
                w.cmdRestart_Click();
            }
            if (n % 997 == 0) {
                Lattice recount = w.sim.lattice;
                recount.recount();
                QCOMPARE(recount.TotalMag, w.sim.lattice.TotalMag);
                QCOMPARE(recount.Energy, w.sim.lattice.Energy);
                const int k = int(n % Sites);
                QCOMPARE(w.Shape1->BackColor(k), colourOfSpin(w.sim.lattice.spinOfCell(k)));
            }
            if (n == total / 3) { // a clear in mid-page
                w.mnuClearChart_Click();
                w.txtTemp->setText("2.27");
                w.cmdRestart_Click();
                page = sinceClear = 0;
                QCOMPARE(w.sim.record.axisLabelText(5), std::string("4000"));
            }
            if (n == 2 * total / 3) { // a reset, a new lattice and Go to T
                w.mnuSnapshot_Click();
                w.mnuReset_Click();
                w.cmdRandom_Click();
                w.txtTemp->setText("1.8");
                w.cmdGoToTemp_Click();
                page = sinceClear = 0;
            }
            if (frame.elapsed() >= 16) {
                // Paint as the event loop would, without letting the run timer
                // add ticks of its own.
                w.refreshReadouts();
                QCoreApplication::sendPostedEvents();
                frame.restart();
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
