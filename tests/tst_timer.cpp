// The window timer: what fires and when, counted in ticks. Each test runs for
// the plain timer and for the fixed-grid timer that drives a run.

#include "runtime/timer.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

using ferro::Timer;

class TestTimer : public QObject {
    Q_OBJECT

    static Timer::Pace pace()
    {
        QFETCH_GLOBAL(bool, fixedGrid);
        return fixedGrid ? Timer::Pace::FixedGrid : Timer::Pace::Plain;
    }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("fixedGrid");
        QTest::newRow("plain") << false;
        QTest::newRow("fixed-grid") << true;
    }

    // A wake-up already due when the timer is switched off never fires.
    void pendingWakeUpDoesNotFireAfterSwitchingOff()
    {
        Timer timer(nullptr, 10, pace());
        QSignalSpy ticks(&timer, &Timer::fired);
        timer.setEnabled(true);
        QThread::msleep(50);
        timer.setEnabled(false);
        QTest::qWait(100);
        QCOMPARE(ticks.count(), 0);
    }

    // As the run does: every tick sets the interval again. A shorter interval
    // does not wait for the long one to end, a longer one holds off the next tick.
    void changedIntervalTakesEffectAtTheNextTick()
    {
        Timer timer(nullptr, 10000, pace());
        int ticks = 0;
        connect(&timer, &Timer::fired, [&] {
            ++ticks;
            timer.setEnabled(true);
            timer.setInterval(10000);
        });
        timer.setEnabled(true);
        timer.setInterval(20);
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 3000);
        QTest::qWait(300);
        QCOMPARE(ticks, 1);
    }

    // Off and on again counts a whole interval from the second switch-on.
    void switchingOnAgainStartsAfresh()
    {
        Timer timer(nullptr, 1000, pace());
        QSignalSpy ticks(&timer, &Timer::fired);
        timer.setEnabled(true);
        QThread::msleep(600);
        timer.setEnabled(false);
        timer.setEnabled(true);
        QTest::qWait(600);
        QCOMPARE(ticks.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 1, 3000);
    }

    // The run switches its timer on and sets the interval again on every tick:
    // neither restarts the count, or a timer poked more often than its
    // interval would never fire.
    void switchingOnAndSameIntervalDoNotRestart()
    {
        Timer timer(nullptr, 200, pace());
        QSignalSpy ticks(&timer, &Timer::fired);
        timer.setEnabled(true);
        QTimer poke;
        connect(&poke, &QTimer::timeout, [&] {
            timer.setEnabled(true);
            timer.setInterval(200);
        });
        poke.start(50);
        QTest::qWait(1000);
        QVERIFY2(ticks.count() >= 3, qPrintable(QString::number(ticks.count())));
    }

    // Fifty intervals spent blocked are one tick, not fifty.
    void lateWakeUpFiresOnce()
    {
        Timer timer(nullptr, 20, pace());
        QSignalSpy ticks(&timer, &Timer::fired);
        timer.setEnabled(true);
        QThread::msleep(50 * 20);
        QCoreApplication::processEvents();
        QCOMPARE(ticks.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTimer)
#include "tst_timer.moc"
