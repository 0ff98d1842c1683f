#include "runtime/timer.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace ferro {

namespace {

#ifdef Q_OS_LINUX
constexpr std::int64_t NsPerMs = 1'000'000;
constexpr std::int64_t NsPerS = 1'000'000'000;

std::int64_t monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * NsPerS + t.tv_nsec;
}

timespec toTimespec(std::int64_t ns)
{
    return timespec{static_cast<time_t>(ns / NsPerS), static_cast<long>(ns % NsPerS)};
}
#endif

} // namespace

Timer::Timer(QObject *parent, int intervalMs, Pace pace)
    : QObject(parent)
    , m_interval(intervalMs < 1 ? 1 : intervalMs)
{
#ifdef Q_OS_LINUX
    if (pace == Pace::FixedGrid)
        m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (usesGrid()) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        m_notifier->setEnabled(false);
        connect(m_notifier, &QSocketNotifier::activated, this, &Timer::gridWokeUp);
        return;
    }
#else
    Q_UNUSED(pace);
#endif
    // Intervals go down to 1 ms; a coarse timer would round them to 5 %.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(m_interval);
    connect(&m_timer, &QTimer::timeout, this, &Timer::fired);
}

Timer::~Timer()
{
#ifdef Q_OS_LINUX
    if (usesGrid()) {
        delete m_notifier;
        ::close(m_fd);
    }
#endif
}

void Timer::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    if (!usesGrid()) {
        if (on)
            m_timer.start();
        else
            m_timer.stop();
    } else if (on) {
#ifdef Q_OS_LINUX
        m_anchorNs = monotonicNs();
        armGrid(m_anchorNs + m_interval * NsPerMs);
#endif
    } else {
        disarmGrid();
    }
}

void Timer::setInterval(int ms)
{
    if (ms < 1)
        ms = 1;
    if (ms == m_interval)
        return;
#ifdef Q_OS_LINUX
    if (usesGrid() && m_enabled) {
        // The new grid starts at the last boundary of the old one, so a change
        // made by a tick counts from that tick's boundary.
        const std::int64_t now = monotonicNs(), oldNs = m_interval * NsPerMs, newNs = ms * NsPerMs;
        m_anchorNs += (now - m_anchorNs) / oldNs * oldNs;
        std::int64_t next = m_anchorNs + newNs;
        if (next <= now)
            next = m_anchorNs + ((now - m_anchorNs) / newNs + 1) * newNs;
        m_interval = ms;
        armGrid(next);
        return;
    }
#endif
    m_interval = ms;
    m_timer.setInterval(ms);
}

void Timer::armGrid([[maybe_unused]] std::int64_t firstNs)
{
#ifdef Q_OS_LINUX
    itimerspec when{};
    when.it_interval = toTimespec(m_interval * NsPerMs);
    when.it_value = toTimespec(firstNs);
    timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &when, nullptr);
    m_notifier->setEnabled(true);
#endif
}

void Timer::disarmGrid()
{
#ifdef Q_OS_LINUX
    // Disarming also clears the count of boundaries passed, so a wake-up due
    // before switching off never fires.
    const itimerspec off{};
    timerfd_settime(m_fd, 0, &off, nullptr);
    m_notifier->setEnabled(false);
#endif
}

void Timer::gridWokeUp()
{
#ifdef Q_OS_LINUX
    // However many boundaries passed since the last wake-up, this is one tick.
    // Nothing to read means the wake-up was cleared by switching off or by a
    // new interval.
    std::uint64_t expirations = 0;
    if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations || !m_enabled)
        return;
    emit fired();
#endif
}

} // namespace ferro
