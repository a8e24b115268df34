#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

namespace ntpepmap::parallel {

// A contiguous run of work items, [begin, end).
struct Share {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// More threads than this gain nothing here: the work reads and writes memory faster than
// memory serves more of them.
inline constexpr unsigned MOST_USEFUL_THREADS = 8;

// How many threads this process may run at once: the CPUs it is allowed on, at least one.
unsigned usable_cpus() noexcept;

// The threads to run: `asked` (0: one per usable CPU), at most MOST_USEFUL_THREADS.
unsigned threads_to_run(unsigned asked) noexcept;

// Items [0, weights.size()) in at most `most` contiguous shares of about equal weight, none
// lighter than `least_weight` where that can be helped: small work stays on one thread, as a
// thread costs more to start than it saves there. Always at least one share.
std::vector<Share> split_by_weight(std::span<const std::size_t> weights, unsigned most, std::size_t least_weight);

// Runs work(k) for every share k < count: share 0 on the calling thread, each other on a thread
// of its own. Returns when all are done; the first exception, in share order, is rethrown then.
void run_shares(std::size_t count, const std::function<void(std::size_t)>& work);

}  // namespace ntpepmap::parallel
