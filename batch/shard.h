#pragma once
// Shares of a run for a cluster's array jobs: the points of a run split into
// N shares that take about the same time, the same split on every machine.
// Standard C++ only.
//
// A run's points are its (size, temperature) pairs, sizes in the order given,
// then temperatures in the order given; point p (0 .. P-1) draws from the
// stream of the run's seed and p, whichever share runs it.

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferro::batch {

struct Shard {
    std::size_t index = 0; // K, 0 .. count-1
    std::size_t count = 1; // N
};

// Most shares a run can be split into.
constexpr std::size_t MaxShards = 1'000'000;

// "K/N" with whole numbers 0 <= K < N; the error is empty on success.
std::optional<Shard> parseShard(std::string_view text, std::string &error);

// The time a point takes, up to a common factor: its L^2 sites times the
// sweeps it runs (equilibration and measurement).
double pointCost(int side, long long sweeps);

// The points of share `shard`, in increasing order, of a run whose point p
// costs cost[p]. Longest first: the points in order of decreasing cost (the
// lower index first among equal costs) go one by one to the share with the
// least cost so far (the lower share among equals). Every point is in exactly
// one share, and no share costs more than the least one plus its dearest
// point. Takes time of order P log P for P points, whatever the number of
// shares; gives up, with part of the share, once `stop` is set.
std::vector<std::size_t> sharePoints(const std::vector<double> &cost, Shard shard,
                                     const std::atomic<bool> *stop = nullptr);

// "share 2/4: 5 points (20x20 T=2.1..2.3)", for the lines a share writes on
// standard error when it starts and ends; sides and temperatures are those of
// the share's points.
std::string shareSummary(Shard shard, const std::vector<int> &sides, const std::vector<double> &temperatures);

} // namespace ferro::batch
