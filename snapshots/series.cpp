#include "snapshots/series.h"

namespace ferro {

std::optional<int> SnapshotSeries::capture()
{
    m_count.increment();
    if (m_count.value() > Blocks)
        return std::nullopt;
    return static_cast<int>(m_count.value() - 1);
}

std::string snapshotCaption(std::string_view temperatureText, const RunRecord &record)
{
    std::string caption(temperatureText);
    for (const std::string &part : {record.instantaneousMag.text(), record.netMag.text(), record.ticksSinceClear.text()}) {
        caption += "; ";
        caption += part;
    }
    return caption;
}

} // namespace ferro
