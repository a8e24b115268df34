#pragma once
#include <cstddef>

namespace ntpepmap::tool_extension {

// Readies malloc's main heap for about `expected` bytes of small objects (a large file's
// records as str): the heap grows once, by that much, and the new pages are advised for
// huge pages, so that they fault in 2 MiB at a time instead of 4 KiB. Only advice: where
// the C library or the system cannot do it, nothing changes. Returns whether it was done.
//
// It changes malloc's settings for the rest of the process (the heap keeps that much room
// at its top), so it is meant for a process that reads one large locus and ends.
bool grow_heap_for(std::size_t expected) noexcept;

}  // namespace ntpepmap::tool_extension
