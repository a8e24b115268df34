#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

// Every member of gzip data inflated in turn by ISA-L, a block of text at a time. Plain C++:
// no Python, no threads.
namespace ntpepmap::reader {

class GzipMembers {
public:
    explicit GzipMembers(std::string_view compressed);
    GzipMembers(const GzipMembers&) = delete;
    GzipMembers& operator=(const GzipMembers&) = delete;
    ~GzipMembers();

    // Inflates into `block` up to `room` bytes; returns how many, less than `room` only at the
    // end of the data. Damaged data raises ReadError "damaged gzip data: ...".
    std::size_t inflate(char* block, std::size_t room);

private:
    bool start_member();

    struct State;
    std::unique_ptr<State> state_;
    std::string_view whole_;  // the compressed data
    std::string_view rest_;   // not inflated yet
    bool in_member_ = false;
};

}  // namespace ntpepmap::reader
