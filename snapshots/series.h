#pragma once
// The series of twelve snapshots: how captures are numbered, where the
// series stops, and what a snapshot's caption says. No widgets.

#include "core/runrecord.h"

#include <optional>
#include <string>
#include <string_view>

namespace ferro {

class SnapshotSeries {
public:
    static constexpr int Blocks = 12;

    // One Snapshot command. Every command is counted; the first twelve since
    // the last clear fill blocks 0 to 11 in turn, later ones fill nothing.
    std::optional<int> capture();
    // Clear Snapshots and Reset: the count reads "0" and the next capture
    // fills block 0.
    void clear() { m_count.setZero(); }
    // The count as its hidden label holds it: empty until the first command.
    std::string countText() const { return m_count.text(); }

private:
    Count m_count;
};

// A snapshot's caption: the temperature text as typed, then the
// instantaneous and average magnetization and the Monte Carlo steps as their
// read-outs show them, joined by "; ".
std::string snapshotCaption(std::string_view temperatureText, const RunRecord &record);

} // namespace ferro
