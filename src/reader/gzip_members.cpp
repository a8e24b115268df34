#include "reader/gzip_members.hpp"

#ifdef NTPEPMAP_WITH_ISAL

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "reader/read_error.hpp"

namespace ntpepmap::reader {
namespace {

// ISA-L counts bytes in 32 bits: larger data is handed to it a gigabyte at a time.
constexpr std::size_t MOST_AT_ONCE = std::size_t{1} << 30;

[[nodiscard]] ReadError damaged(std::string_view why) { return ReadError("damaged gzip data: " + std::string(why)); }

[[nodiscard]] std::string_view inflate_fault(int code) noexcept {
    switch (code) {
        case ISAL_INVALID_BLOCK: return "invalid deflate block";
        case ISAL_INVALID_SYMBOL: return "invalid deflate symbol";
        case ISAL_INVALID_LOOKBACK: return "invalid lookback distance";
        case ISAL_INVALID_WRAPPER: return "invalid gzip header";
        case ISAL_UNSUPPORTED_METHOD: return "unsupported compression method";
        case ISAL_INCORRECT_CHECKSUM: return "incorrect checksum";
        default: return "a preset dictionary is needed";
    }
}

}  // namespace

struct GzipMembers::State {
    inflate_state inflating{};
};

GzipMembers::GzipMembers(std::string_view compressed)
    : state_(std::make_unique<State>()), whole_(compressed), rest_(compressed) {}

GzipMembers::~GzipMembers() = default;

// The next member, past the zero bytes some writers pad a file with; false at the end.
bool GzipMembers::start_member() {
    const std::size_t padding = std::min(rest_.find_first_not_of('\0'), rest_.size());
    rest_.remove_prefix(padding);
    if (rest_.empty()) return false;
    isal_inflate_init(&state_->inflating);
    state_->inflating.crc_flag = ISAL_GZIP;  // the header parsed, the checksum and length checked
    in_member_ = true;
    return true;
}

std::size_t GzipMembers::inflate(char* block, std::size_t room) {
    inflate_state& inflating = state_->inflating;
    std::size_t written = 0;
    while (written < room) {
        if (!in_member_ && !start_member()) break;
        const std::size_t given = std::min(rest_.size(), MOST_AT_ONCE);
        inflating.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(rest_.data()));
        inflating.avail_in = static_cast<std::uint32_t>(given);
        inflating.next_out = reinterpret_cast<std::uint8_t*>(block + written);
        inflating.avail_out = static_cast<std::uint32_t>(std::min(room - written, MOST_AT_ONCE));
        const std::size_t written_before = written;
        const int code = isal_inflate(&inflating);
        if (code < 0 || code == ISAL_NEED_DICT) throw damaged(inflate_fault(code));
        // Where ISA-L stopped reading: it may hand back bytes it held from an earlier call, so
        // that this lies before where the call began; anywhere outside the data is damage.
        const auto next = reinterpret_cast<std::uintptr_t>(inflating.next_in);
        const auto first = reinterpret_cast<std::uintptr_t>(whole_.data());
        if (next < first || next > first + whole_.size()) throw damaged("invalid deflate data");
        const std::string_view before = rest_;
        rest_ = whole_.substr(next - first);
        written = static_cast<std::size_t>(reinterpret_cast<char*>(inflating.next_out) - block);
        // A call that reads nothing and writes nothing, the member unfinished, would be called forever.
        if (written == written_before && rest_.size() >= before.size() && inflating.block_state != ISAL_BLOCK_FINISH) {
            throw damaged("the data ends inside a member");
        }
        if (inflating.block_state == ISAL_BLOCK_FINISH) {
            in_member_ = false;
        } else if (rest_.empty() && inflating.avail_out > 0) {
            throw damaged("the data ends inside a member");
        }
    }
    return written;
}

}  // namespace ntpepmap::reader

#endif  // NTPEPMAP_WITH_ISAL
