#include "core/run.h"

#include "stdruntime/textconv.h"

#include <cmath>

namespace ferro {

TickResult Run::tick(double runTemperature, const double *factors)
{
    m_record.ticksThisPage.increment();
    m_record.ticksSinceClear.increment();
    return MonteCarloTick(runTemperature, factors);
}

TickResult Run::MonteCarloTick(double runTemperature, const double *factors)
{
    TickResult result;
    m_random.Randomize();

    if (m_record.ticksThisPage.value() == LastPageTick) {
        m_record.go = false;
        result.timersOn = false;
    }
    if (!m_record.go)
        return result;

    if (m_record.ticksThisPage.value() > 0 && m_record.ticksSinceClear.value() % PageTicks == 0) {
        result.newPage = true;
        m_record.ticksThisPage.setZero();
        m_record.axisBase = m_record.ticksSinceClear.value() / TicksPerStep;
    }

    const FlipOutcome flip = AttemptFlip(m_lattice, m_random, runTemperature, factors);
    if (flip.accepted)
        m_record.energyShown = true;
    result.cell = flip.k;

    const double m = m_lattice.TotalMag / static_cast<double>(Sites);
    m_record.instantaneousMag.set(RoundTo(m, 4));
    // The sum keeps two decimals on every tick, so a tick with |m| below
    // 0.005 adds nothing to it.
    m_record.sumMag.set(RoundTo(m_record.sumMag.value() + std::fabs(m), 2));
    const std::int64_t n = m_record.ticksSinceClear.value();
    if (n > 0)
        m_record.netMag.set(RoundTo(m_record.sumMag.value() / static_cast<double>(n), 4));

    if (n % TicksPerStep == 0) {
        result.plotted = true;
        result.x = static_cast<float>(static_cast<double>(m_record.ticksThisPage.value()) / TicksPerStep);
        result.yMag = static_cast<float>(1.0 - std::fabs(m));
        result.yNet = static_cast<float>(1.0 - m_record.netMag.value());
    }
    return result;
}

std::string Run::energyText() const
{
    return m_record.energyShown ? Str(static_cast<double>(m_lattice.Energy)) : std::string();
}

void Run::MeasureLattice()
{
    m_lattice.recount();
    m_record.energyShown = true;
    m_record.instantaneousMag.set(RoundTo(m_lattice.TotalMag / static_cast<double>(Sites), 4));
}

void Run::startClear()
{
    m_record.go = true;
    m_record.ticksThisPage.setZero();
}

void Run::finishClear()
{
    m_record.instantaneousMag.clear();
    m_record.sumMag.clear();
    m_record.ticksSinceClear.setZero();
    m_record.netMag.clear();
    m_record.axisBase = 0;
}

void Run::fastForward(std::int64_t n)
{
    m_record.ticksThisPage.setNumber(m_record.ticksThisPage.value() + n);
    m_record.ticksSinceClear.setNumber(m_record.ticksSinceClear.value() + n);
}

} // namespace ferro
