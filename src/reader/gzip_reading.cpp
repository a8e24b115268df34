#include "reader/gzip_reading.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "reader/file_reading.hpp"
#include "reader/gzip_members.hpp"
#include "reader/read_error.hpp"

namespace ntpepmap::reader {

#ifdef NTPEPMAP_WITH_ISAL

namespace {

// About the most the text can be: sequence text compresses 3 to 5 times; what the set
// reserves for it and never writes costs address space only.
constexpr std::size_t MOST_EXPANSION = 8;
// Blocks inflated ahead of the reading: the inflating thread waits when all are full.
constexpr std::size_t BLOCKS = 4;

// Gzip data inflated on a thread of its own into a ring of blocks, which the reading takes in
// order; a block is written again only once the reading is done with it. Leaving (the reading
// done, or failed) stops the thread and waits for it.
class InflatingThread {
public:
    InflatingThread(std::string_view compressed, std::size_t block_size)
        : members_(compressed), block_size_(block_size) {
        for (auto& block : blocks_) block = std::make_unique<char[]>(block_size);
        thread_ = std::thread([this] { run(); });
    }
    InflatingThread(const InflatingThread&) = delete;
    InflatingThread& operator=(const InflatingThread&) = delete;
    ~InflatingThread() {
        {
            const std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // The next block's text, empty at the end; the previous block is let go. Damaged data
    // raises its ReadError here, once the blocks before it are read.
    std::string_view next() {
        std::unique_lock lock(mutex_);
        if (holding_) {
            holding_ = false;
            ++taken_;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return inflated_ > taken_ || ended_; });
        if (inflated_ > taken_) {
            holding_ = true;
            const std::size_t slot = taken_ % BLOCKS;
            return {blocks_[slot].get(), sizes_[slot]};
        }
        if (error_) std::rethrow_exception(error_);
        return {};
    }

private:
    void run() noexcept {
        try {
            for (std::size_t block = 0;; ++block) {
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return block - taken_ < BLOCKS || stopped_; });
                    if (stopped_) break;
                }
                const std::size_t slot = block % BLOCKS;
                const std::size_t size = members_.inflate(blocks_[slot].get(), block_size_);
                if (size == 0) break;
                const std::lock_guard lock(mutex_);
                sizes_[slot] = size;
                ++inflated_;
                changed_.notify_all();
            }
        } catch (...) {
            const std::lock_guard lock(mutex_);
            error_ = std::current_exception();
        }
        const std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    GzipMembers members_;
    std::size_t block_size_;
    std::unique_ptr<char[]> blocks_[BLOCKS];
    std::size_t sizes_[BLOCKS]{};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t inflated_ = 0;  // blocks written
    std::size_t taken_ = 0;     // blocks the reading is done with
    bool holding_ = false;      // the reading holds block `taken_`
    bool ended_ = false;
    bool stopped_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace

bool gzip_inflated_here() noexcept { return true; }

void read_gzip_file(std::string_view compressed, std::optional<Format> format, const LetterClasses& classes,
                    RecordSet& set, std::size_t block_size) {
    FileInPieces file(format, classes, set, MOST_EXPANSION * compressed.size());
    InflatingThread inflating(compressed, block_size);
    const std::size_t most = most_inflated_bytes();
    std::size_t inflated = 0;
    for (std::string_view block = inflating.next(); !block.empty(); block = inflating.next()) {
        inflated += block.size();
        if (inflated > most) throw ReadError(inflated_too_far(most));
        file.take(block);
    }
    file.finish();
}

#else  // without ISA-L the caller inflates

bool gzip_inflated_here() noexcept { return false; }

void read_gzip_file(std::string_view, std::optional<Format>, const LetterClasses&, RecordSet&, std::size_t) {
    throw ReadError("gzip data is not inflated by this build");
}

#endif

bool is_gzip(std::string_view data) noexcept { return data.starts_with("\x1f\x8b"); }

namespace {

constexpr std::size_t MOST_INFLATED = std::size_t{2} << 30;

// MemAvailable of /proc/meminfo in bytes, or 0 where it is not known.
std::size_t available_memory() noexcept {
    std::FILE* const meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo == nullptr) return 0;
    char name[64];
    unsigned long long kib = 0;
    std::size_t available = 0;
    while (std::fscanf(meminfo, "%63s %llu kB", name, &kib) == 2) {
        if (std::string_view(name) == "MemAvailable:") {
            available = static_cast<std::size_t>(kib) << 10;
            break;
        }
    }
    std::fclose(meminfo);
    return available;
}

}  // namespace

std::size_t most_inflated_bytes() noexcept {
    std::size_t most = MOST_INFLATED;
    if (const std::size_t available = available_memory(); available > 0) most = std::min(most, available / 2);
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY) {
        most = std::min(most, static_cast<std::size_t>(address_space.rlim_cur / 4));
    }
    return most;
}

std::string inflated_too_far(std::size_t most) {
    return "decompresses to more than " + std::to_string(most >> 20) +
           " MiB, the most a compressed input is read to here (2 GiB, at most half the memory available or a quarter of the address space allowed); "
           "decompress it first if it is meant to be this large";
}

}  // namespace ntpepmap::reader
