#include "memory/huge_pages.hpp"

#include <cstdint>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
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

}  // namespace ntpepmap::memory
