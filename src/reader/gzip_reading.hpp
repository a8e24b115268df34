#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "reader/reader.hpp"
#include "reader/record_set.hpp"

// A gzip file's records read as its text is inflated: ISA-L inflates the next block on a thread
// of its own while the blocks before are read, so that a gzip file costs about what inflating it
// does, beside its reading rather than before it. Built only where ISA-L is found; elsewhere
// the caller inflates (gzip_inflated_here is false).
namespace ntpepmap::reader {

[[nodiscard]] bool gzip_inflated_here() noexcept;

// The most text a compressed file is inflated to before its reading stops: 2 GiB, and no more
// than half the memory available (MemAvailable) or a quarter of the address space the process
// may take (RLIMIT_AS), so that a small file that inflates to far more (a decompression bomb)
// is refused before it takes the machine.
[[nodiscard]] std::size_t most_inflated_bytes() noexcept;

// The problem told when a compressed file's text passes most_inflated_bytes().
[[nodiscard]] std::string inflated_too_far(std::size_t most);

// Whether data starts as gzip data does.
[[nodiscard]] bool is_gzip(std::string_view data) noexcept;

// Reads the text of gzip data (every member, as bgzip writes many; zero bytes after a member
// are let be) into the set as a file of its own, inflated `block_size` bytes at a time (small
// enough to stay in the cache between the two threads). Data that cannot be inflated raises
// ReadError "damaged gzip data: ...", where the reading reaches it; text beyond
// most_inflated_bytes() raises ReadError too.
void read_gzip_file(std::string_view compressed, std::optional<Format> format, const LetterClasses& classes,
                    RecordSet& set, std::size_t block_size = std::size_t{256} << 10);

}  // namespace ntpepmap::reader
