#include "timer.h"

namespace ferro {

Timer::Timer(QObject *parent, int intervalMs)
    : QObject(parent)
    , m_interval(intervalMs)
{
    // Intervals go down to 1 ms; a coarse timer would round them to 5 %.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &Timer::fired);
}

void Timer::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    if (on)
        m_timer.start();
    else
        m_timer.stop();
}

void Timer::setInterval(int ms)
{
    if (ms < 1)
        ms = 1;
    if (ms == m_interval)
        return;
    m_interval = ms;
    m_timer.setInterval(ms);
}

} // namespace ferro
