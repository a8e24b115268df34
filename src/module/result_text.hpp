#pragma once

#include "module/py_ref.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace ntpepmap::module {

// Builds a driver's result text. While everything appended is ASCII (the usual
// case) the bytes go straight into the buffer of the str that will be returned,
// so a result of many megabytes is neither held twice nor copied at the end;
// the first non-ASCII piece moves the text to a UTF-8 buffer that is decoded once.
class ResultText {
public:
    explicit ResultText(std::size_t estimated_size);

    void append(std::string_view utf8);
    // While the text is ASCII: room for up to `size` more bytes, written in place and
    // then kept with `commit`; nullptr once the text has moved to UTF-8.
    [[nodiscard]] char* ascii_room(std::size_t size);
    void commit(std::size_t written) noexcept { length_ += written; }
    // The finished str; the builder is empty afterwards.
    [[nodiscard]] PyRef finish();

private:
    void reserve_ascii(std::size_t needed);
    void resize_ascii(std::size_t size);
    void switch_to_utf8();

    PyRef ascii_;  // a str of capacity_ characters, the first length_ of them written
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
    std::string utf8_;
};

}  // namespace ntpepmap::module
