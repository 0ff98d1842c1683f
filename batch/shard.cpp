#include "batch/shard.h"

#include "stdruntime/textfields.h"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace ferro::batch {

namespace {

std::optional<std::size_t> whole(std::string_view text)
{
    std::size_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<Shard> parseShard(std::string_view text, std::string &error)
{
    const std::size_t slash = text.find('/');
    const auto k = whole(text.substr(0, slash));
    const auto n = slash == std::string_view::npos ? std::nullopt : whole(text.substr(slash + 1));
    if (!k || !n || *n == 0 || *k >= *n || *n > MaxShards) {
        error = messageQuote(text) + " is not a share K/N of whole numbers with 0 <= K < N <= "
            + std::to_string(MaxShards);
        return std::nullopt;
    }
    return Shard {*k, *n};
}

double pointCost(int side, long long sweeps)
{
    return double(side) * double(side) * double(sweeps);
}

std::vector<std::size_t> sharePoints(const std::vector<double> &cost, Shard shard, const std::atomic<bool> *stop)
{
    std::vector<std::size_t> order(cost.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return cost[a] > cost[b]; });
    // The shares that have points, in a heap whose top is the one the next
    // point goes to: the least cost, the lower share among equals. Shares
    // from `fresh` on have none yet and cost 0: the next of them is `fresh`.
    struct Load {
        double cost;
        std::size_t share;
    };
    const auto after = [](const Load &a, const Load &b) {
        return a.cost > b.cost || (a.cost == b.cost && a.share > b.share);
    };
    std::vector<Load> heap;
    heap.reserve(std::min(cost.size(), shard.count));
    std::size_t fresh = 0;
    std::vector<std::size_t> mine;
    for (std::size_t n = 0; n < order.size(); ++n) {
        if (stop && n % 4096 == 0 && stop->load(std::memory_order_relaxed))
            break;
        Load least {0.0, fresh};
        if (fresh < shard.count && (heap.empty() || after(heap.front(), least))) {
            ++fresh;
        } else {
            std::pop_heap(heap.begin(), heap.end(), after);
            least = heap.back();
            heap.pop_back();
        }
        least.cost += cost[order[n]];
        if (least.share == shard.index)
            mine.push_back(order[n]);
        heap.push_back(least);
        std::push_heap(heap.begin(), heap.end(), after);
    }
    std::sort(mine.begin(), mine.end());
    return mine;
}

std::string shareSummary(Shard shard, const std::vector<int> &sides, const std::vector<double> &temperatures)
{
    std::string text = "share " + std::to_string(shard.index) + "/" + std::to_string(shard.count) + ": "
        + std::to_string(temperatures.size()) + (temperatures.size() == 1 ? " point" : " points");
    if (temperatures.empty())
        return text;
    std::vector<int> distinct = sides;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    text += " (";
    for (std::size_t i = 0; i < distinct.size(); ++i)
        text += (i ? "," : "") + std::to_string(distinct[i]) + "x" + std::to_string(distinct[i]);
    const auto [lo, hi] = std::minmax_element(temperatures.begin(), temperatures.end());
    text += " T=" + numberText(*lo);
    if (*hi != *lo)
        text += ".." + numberText(*hi);
    return text + ")";
}

} // namespace ferro::batch
