#include "parallel/shares.hpp"

#include <algorithm>
#include <exception>
#include <numeric>
#include <thread>

#if __has_include(<sched.h>)
#include <sched.h>
#endif

namespace ntpepmap::parallel {

unsigned usable_cpus() noexcept {
#ifdef CPU_COUNT  // Linux: a process may be confined to fewer CPUs than the machine has
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) return static_cast<unsigned>(std::max(1, CPU_COUNT(&allowed)));
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned threads_to_run(unsigned asked) noexcept {
    return std::min(asked == 0 ? usable_cpus() : asked, MOST_USEFUL_THREADS);
}

std::vector<Share> split_by_weight(std::span<const std::size_t> weights, unsigned most, std::size_t least_weight) {
    const std::size_t total = std::accumulate(weights.begin(), weights.end(), std::size_t{0});
    const std::size_t affordable = least_weight == 0 ? most : total / least_weight;
    const std::size_t count = std::clamp<std::size_t>(affordable, 1, std::max(1u, most));
    std::vector<Share> shares;
    std::size_t begin = 0;
    std::size_t weight_so_far = 0;
    for (std::size_t item = 0; item < weights.size() && shares.size() + 1 < count; ++item) {
        weight_so_far += weights[item];
        // Share k ends once the items so far weigh (k + 1) / count of the whole.
        if (weight_so_far * count >= total * (shares.size() + 1)) {
            shares.push_back({begin, item + 1});
            begin = item + 1;
        }
    }
    shares.push_back({begin, weights.size()});
    return shares;
}

void run_shares(std::size_t count, const std::function<void(std::size_t)>& work) {
    std::vector<std::exception_ptr> errors(count);
    const auto guarded = [&](std::size_t share) {
        try {
            work(share);
        } catch (...) {
            errors[share] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(count > 0 ? count - 1 : 0);
    try {
        for (std::size_t share = 1; share < count; ++share) threads.emplace_back(guarded, share);
    } catch (...) {
        // No thread to be had: the shares not started run here, one after another.
        for (std::size_t share = threads.size() + 1; share < count; ++share) guarded(share);
    }
    if (count > 0) guarded(0);
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& error : errors) {
        if (error) std::rethrow_exception(error);
    }
}

}  // namespace ntpepmap::parallel
