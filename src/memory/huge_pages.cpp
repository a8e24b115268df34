#include "memory/huge_pages.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif
#if defined(__GLIBC__) && defined(__linux__)
#include <malloc.h>
#include <unistd.h>
#endif

namespace ntpepmap::memory {
namespace {

[[maybe_unused]] constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;

}  // namespace

void advise_huge_pages([[maybe_unused]] void* begin, [[maybe_unused]] std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE  // Linux
    const auto first = (reinterpret_cast<std::uintptr_t>(begin) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(begin) + size) & ~(HUGE_PAGE - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
}

#if defined(__GLIBC__) && defined(__linux__) && defined(MADV_HUGEPAGE)

namespace {

// Below malloc's mmap threshold, so that each comes from the heap and, once its free room
// is used up, makes the heap grow.
constexpr std::size_t PROBE_SIZE = std::size_t{64} << 10;
constexpr std::size_t MAX_PROBES = 128;
constexpr int USUAL_TOP_PAD = 128 << 10;  // glibc's own setting

std::uintptr_t heap_end() noexcept { return reinterpret_cast<std::uintptr_t>(sbrk(0)); }

// Takes blocks from the heap until it has grown (or the probes run out), then gives them back.
bool make_heap_grow() noexcept {
    const std::uintptr_t before = heap_end();
    std::array<void*, MAX_PROBES> probes{};
    std::size_t taken = 0;
    while (taken < MAX_PROBES && heap_end() == before) {
        probes[taken] = std::malloc(PROBE_SIZE);
        if (probes[taken] == nullptr) break;
        ++taken;
    }
    const bool grew = heap_end() != before;
    for (std::size_t index = 0; index < taken; ++index) std::free(probes[index]);
    return grew;
}

}  // namespace

bool grow_heap_for(std::size_t expected) noexcept {
    constexpr std::size_t MAX_PAD = std::size_t{1} << 31;  // mallopt takes an int
    if (expected < HUGE_PAGE || expected > MAX_PAD) return false;
    // The padding also keeps the grown room when the probes are freed: the heap is trimmed
    // only beyond it.
    if (mallopt(M_TOP_PAD, static_cast<int>(expected)) == 0) return false;
    const std::uintptr_t start = heap_end();
    if (!make_heap_grow()) {  // no room: later growth must not ask for that much either
        mallopt(M_TOP_PAD, USUAL_TOP_PAD);
        return false;
    }
    const std::uintptr_t first = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const std::uintptr_t end = heap_end() & ~(HUGE_PAGE - 1);
    return end > first && madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE) == 0;
}

#else

bool grow_heap_for(std::size_t) noexcept { return false; }

#endif

}  // namespace ntpepmap::memory
