#include "core/runrecord.h"

#include "stdruntime/textconv.h"

namespace ferro {

std::string Count::text() const
{
    switch (m_form) {
    case Form::Empty:
        return {};
    case Form::Zero:
        return "0";
    case Form::Number:
        break;
    }
    return Str(static_cast<double>(m_value));
}

void Count::increment()
{
    ++m_value;
    m_form = Form::Number;
}

void Count::setNumber(std::int64_t n)
{
    m_value = n;
    m_form = Form::Number;
}

void Count::setZero()
{
    m_value = 0;
    m_form = Form::Zero;
}

std::string Readout::text() const
{
    return m_empty ? std::string() : Str(m_value);
}

std::string RunRecord::axisLabelText(int k) const
{
    return PlainText(k * AxisLabelStep + axisBase);
}

} // namespace ferro
