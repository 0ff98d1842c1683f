#pragma once
// A window timer: fires about every Interval milliseconds while enabled.
// Enabling a running timer or setting its interval to the value it has does
// not restart its count; a changed interval takes effect at the next firing.
// Nothing fires while the timer is off, not even a wake-up already due when it
// was switched off; switching it on again starts the count afresh.
//
// A FixedGrid timer fires on a grid of interval boundaries counted from the
// moment it was switched on: a late wake-up fires once and the next firing is
// still the next boundary, so lateness never accumulates. Boundaries that pass
// while the event loop is busy are dropped, never queued. A changed interval
// starts a new grid at the last boundary passed. On Linux this is a timer file
// (timerfd); elsewhere, and for a Plain timer, it is the toolkit's precise timer.

#include <QObject>
#include <QTimer>

#include <cstdint>

class QSocketNotifier;

namespace ferro {

class Timer : public QObject {
    Q_OBJECT
public:
    enum class Pace { Plain, FixedGrid };

    explicit Timer(QObject *parent, int intervalMs = 1, Pace pace = Pace::Plain);
    ~Timer() override;

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);
    int Interval() const { return m_interval; }
    // Below 1 ms counts as 1 ms.
    void setInterval(int ms);

signals:
    void fired();

private:
    bool usesGrid() const { return m_fd >= 0; }
    void armGrid(std::int64_t firstNs);
    void disarmGrid();
    void gridWokeUp();

    QTimer m_timer;
    bool m_enabled = false;
    int m_interval;
    int m_fd = -1;                          // the grid's timer file, -1 when the plain timer runs
    QSocketNotifier *m_notifier = nullptr;
    std::int64_t m_anchorNs = 0;            // a boundary of the current grid, monotonic clock
};

} // namespace ferro
