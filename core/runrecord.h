#pragma once
// The run's counters, read-outs and state, held as numbers with the exact
// texts their labels show. No widgets.

#include <cstdint>
#include <string>

namespace ferro {

constexpr int TicksPerStep = 400;          // one Monte Carlo step per site
constexpr std::int64_t PageTicks = 1600000; // one chart page, 4000 steps per site
constexpr std::int64_t LastPageTick = PageTicks - 1;
constexpr int AxisLabelStep = 800;          // steps per site between time-axis labels
constexpr int AxisLabels = int(PageTicks / TicksPerStep / AxisLabelStep) + 1; // 0 to 4000

// A counter as its label shows it: empty at start ("", read as 0), "0" after a
// clear, and Str of the count once counted (" 1", " 2", ...). Counts are 64-bit,
// so no run a person can make overflows them.
class Count {
public:
    std::int64_t value() const { return m_value; }
    std::string text() const;
    bool isEmpty() const { return m_form == Form::Empty; }

    void increment();
    void setZero();
    // As if counted up to n (a fast-forward for tests and tools).
    void setNumber(std::int64_t n);

private:
    enum class Form { Empty, Zero, Number };
    Form m_form = Form::Empty;
    std::int64_t m_value = 0;
};

// A read-out label: empty, or showing Str of its value.
class Readout {
public:
    bool isEmpty() const { return m_empty; }
    // The value that reading the label back gives: 0 when empty.
    double value() const { return m_empty ? 0.0 : m_value; }
    std::string text() const;

    void set(double value)
    {
        m_value = value;
        m_empty = false;
    }
    void clear() { m_empty = true; }

private:
    bool m_empty = true;
    double m_value = 0.0;
};

struct RunRecord {
    Count ticksThisPage;   // ticks of the current chart page ("lblTime")
    Count ticksSinceClear; // ticks since the charts were last cleared ("Monte Carlo Steps")
    bool go = true; // run state: "Go", or "Stop" once a page is complete
    Readout instantaneousMag; // m = TotalMag / 400, four decimals
    Readout sumMag;           // running sum of |m|, two decimals
    Readout netMag;           // running sum / tick count, four decimals
    bool energyShown = false; // the energy label shows Str(Energy) once written
    std::int64_t axisBase = 0; // time-axis labels read k 800 + axisBase

    std::string restartText() const { return go ? "Go" : "Stop"; }
    std::string axisLabelText(int k) const;
    // A chart drawn now gets a black left edge: fewer than 4000 ticks have
    // been counted since the last clear.
    bool chartsEarly() const { return ticksSinceClear.value() < 4000; }
};

} // namespace ferro
